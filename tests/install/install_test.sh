#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR as a package would (prefix
# /usr) and checks what lands there: the executables (the faces' out of
# the PATH), the menu entry and
# the AppStream data (both validated), the icons, the man page and the
# shell completion.
set -uo pipefail
build=$1 desktop=$2
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
passed=0 failed=0
check() { local what=$1; shift; if "$@"; then passed=$((passed + 1)); else echo "FAIL: $what"; failed=$((failed + 1)); fi; }
DESTDIR=$T cmake --install "$build" --prefix /usr > "$T/install.log" 2>&1
check "cmake --install succeeds" test $? -eq 0
root=$T/usr
for f in bin/vantorel bin/vantorel-defaults bin/vantorel-cloudsim share/man/man1/vantorel.1 \
         share/bash-completion/completions/vantorel; do
  check "installs $f" test -s "$root/$f"
done
check "the executables are executable" test -x "$root/bin/vantorel"
check "installs the console face where vantorel looks for it" test -x "$root/libexec/vantorel/vantorel-console"
# vantorel itself is the client: it loads neither a toolkit nor the engine's libraries.
check "vantorel links no Qt, ICU or libplist" bash -c "! ldd '$root/bin/vantorel' | grep -q 'libQt\|libicu\|libplist'"
check "an installed vantorel runs its console face" bash -c \
  "HOME='$T' XDG_RUNTIME_DIR= DISPLAY= WAYLAND_DISPLAY= '$root/bin/vantorel' --headless --folder /nonexistent 2>&1 | grep -q 'is not a folder'"
check "the man page renders" bash -c "man -l '$root/share/man/man1/vantorel.1' 2>/dev/null | grep -q 'wait-idle'"
check "the completion loads and completes commands" bash -c \
  "source '$root/share/bash-completion/completions/vantorel'; COMP_WORDS=(vantorel sta); COMP_CWORD=1; _vantorel; [ \"\${COMPREPLY[*]}\" = status ]"
if [ "$desktop" = ON ]; then
  check "installs the tray executable where vantorel looks for it" test -x "$root/libexec/vantorel/vantorel-tray"
  check "installs the menu entry" test -s "$root/share/applications/vantorel.desktop"
  check "the menu entry is valid" desktop-file-validate "$root/share/applications/vantorel.desktop"
  metainfo=$root/share/metainfo/com.quellmark.vantorel.metainfo.xml
  check "installs the AppStream data" test -s "$metainfo"
  if command -v appstreamcli >/dev/null; then
    check "the AppStream data is valid" appstreamcli validate --no-net --pedantic "$metainfo"
  else
    echo "note: appstreamcli is not installed; its check is skipped"
  fi
  check "the scalable icon" test -s "$root/share/icons/hicolor/scalable/apps/vantorel.svg"
  for size in 16 22 24 32 48 64 128 256; do
    png=$root/share/icons/hicolor/${size}x${size}/apps/vantorel.png
    check "the ${size}px icon" bash -c "file '$png' | grep -q 'PNG image data, $size x $size'"
  done
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
