#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR as a package would (prefix
# /usr) and checks what lands there: the executables (the faces' out of
# the PATH), the menu entry and
# the AppStream data (both validated), the icons, the copyright file, and
# each program's man page (compressed) and shell completion.
set -uo pipefail
build=$1 desktop=$2
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
passed=0 failed=0
check() { local what=$1; shift; if "$@"; then passed=$((passed + 1)); else echo "FAIL: $what"; failed=$((failed + 1)); fi; }
DESTDIR=$T cmake --install "$build" --prefix /usr > "$T/install.log" 2>&1
check "cmake --install succeeds" test $? -eq 0
root=$T/usr
for f in bin/vantorel bin/vantorel-defaults bin/vantorel-cloudsim share/doc/vantorel/copyright; do
  check "installs $f" test -s "$root/$f"
done
check "the executables are executable" test -x "$root/bin/vantorel"
check "installs the console face where vantorel looks for it" test -x "$root/libexec/vantorel/vantorel-console"
# vantorel itself is the client: it loads neither a toolkit nor the engine's libraries.
check "vantorel links no Qt, ICU or libplist" bash -c "! ldd '$root/bin/vantorel' | grep -q 'libQt\|libicu\|libplist'"
check "an installed vantorel runs its console face" bash -c \
  "HOME='$T' XDG_RUNTIME_DIR= DISPLAY= WAYLAND_DISPLAY= '$root/bin/vantorel' --headless --folder /nonexistent 2>&1 | grep -q 'is not a folder'"
# Each program's page, compressed, rendering with no warning from groff.
for page in "vantorel wait-idle" "vantorel-defaults -array" "vantorel-cloudsim --upload-delay"; do
  set -- $page
  gz=$root/share/man/man1/$1.1.gz
  check "the man page of $1 is compressed" bash -c "gzip -t '$gz' && test ! -e '$root/share/man/man1/$1.1'"
  check "the man page of $1 renders" bash -c \
    "MANWIDTH=80 man -l '$gz' 2>'$T/man-$1.err' | grep -q -- '$2' && test ! -s '$T/man-$1.err'"
done
completions=$root/share/bash-completion/completions
# Completes as bash would: the function the file names, on the words given.
complete_words() {  # FILE FUNCTION WORD...; prints the candidates one per line
  local file=$1 fn=$2; shift 2
  bash -c 'source "$1"; fn=$2; shift 2; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); $fn; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$file" "$fn" "$@"
}
check "the completion completes commands" \
  test "$(complete_words "$completions/vantorel" _vantorel vantorel sta)" = status
mkdir -p "$T/work/My Documents" "$T/work/My Music"
check "a folder name with a space stays whole" bash -c \
  "cd '$T/work' && [ \"\$(source '$completions/vantorel'; COMP_WORDS=(vantorel --folder My); COMP_CWORD=2; _vantorel; printf '%s|' \"\${COMPREPLY[@]}\")\" = 'My Documents|My Music|' ]"
check "vantorel-defaults completes keys" \
  test "$(complete_words "$completions/vantorel-defaults" _vantorel_defaults vantorel-defaults write SyncS)" = SyncService
check "vantorel-defaults completes value types" bash -c \
  "[ \"\$(source '$completions/vantorel-defaults'; COMP_WORDS=(vantorel-defaults write ShowNotifications -b); COMP_CWORD=3; _vantorel_defaults; echo \"\${COMPREPLY[*]}\")\" = -bool ]"
check "vantorel-cloudsim completes commands and options" bash -c \
  "[ \"\$(source '$completions/vantorel-cloudsim'; COMP_WORDS=(vantorel-cloudsim run /tmp --up); COMP_CWORD=3; _vantorel_cloudsim; echo \"\${COMPREPLY[*]}\")\" = --upload-delay ]"
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
