# What `cmake --install` puts into a prefix, and the Debian package CPack
# makes of it (scripts/package).
include(GNUInstallDirs)

install(TARGETS vantorel vantorel-defaults vantorel-cloudsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Out of the PATH: `vantorel` hands a run to the face that fits.
install(TARGETS vantorel-console RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vantorel)
# Man pages are installed compressed, as Debian's policy asks (-n: no name
# or time stamp inside, so a rebuild makes the same bytes).
set(manPages)
foreach(program vantorel vantorel-defaults vantorel-cloudsim)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/data/${program}.1 > ${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/data/${program}.1
    VERBATIM)
  list(APPEND manPages ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${program}.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${program})
endforeach()
add_custom_target(vantorel-man-pages ALL DEPENDS ${manPages})
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vantorel)

if(VANTOREL_BUILD_DESKTOP)
  install(TARGETS vantorel-tray RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vantorel)
  install(FILES ${PROJECT_SOURCE_DIR}/data/vantorel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/com.quellmark.vantorel.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/vantorel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # The theme's fixed sizes, rendered from the SVG at build time.
  add_executable(vantorel-render-icon ${PROJECT_SOURCE_DIR}/tools/RenderIcon.cpp)
  target_link_libraries(vantorel-render-icon PRIVATE Qt6::Gui Qt6::Svg vantorel_warnings)
  set(icons)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/vantorel.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              $<TARGET_FILE:vantorel-render-icon> ${PROJECT_SOURCE_DIR}/resources/vantorel.svg ${size} ${png}
      DEPENDS vantorel-render-icon ${PROJECT_SOURCE_DIR}/resources/vantorel.svg
      VERBATIM)
    list(APPEND icons ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(vantorel-icons ALL DEPENDS ${icons})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantorel)
set(CPACK_PACKAGE_VENDOR "Quellmark")
set(CPACK_PACKAGE_CONTACT "Vantorel developers <vantorel@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray monitor of a cloud folder's uploads and downloads")
set(CPACK_PACKAGE_DESCRIPTION
    "Vantorel sits in the system tray and reports which files of a cloud-synchronised folder are being uploaded or downloaded, how far the batch has come and what finished recently; it notifies when a batch completes and answers scripts (vantorel status, vantorel wait-idle).")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vantorel.example.com/")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "attr, adwaita-icon-theme, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jq")
set(CPACK_STRIP_FILES ON)
include(CPack)
