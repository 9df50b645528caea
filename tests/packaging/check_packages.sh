#!/usr/bin/env bash
# Checks the Debian packages that scripts/package.sh put into dist/, as an
# installation would see them but without installing anything: their fields
# and contents, the desktop entries and AppStream metadata, the programs run
# from the packages unpacked into a temporary root, and lintian.
# Needs dpkg-dev, desktop-file-utils, appstream and lintian (scripts/setup.sh).
# Usage: tests/packaging/check_packages.sh [folder of the packages]
set -uo pipefail
cd "$(dirname "$0")/../.."
DIST=${1:-dist}

VERSION=$(sed -n 's/^project(Ostrel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
ROOT=$WORK/root
LOG=$WORK/log
passed=0
failed=0

# check WHAT COMMAND...: runs the command, counts it, shows its output on failure.
check() {
  local what=$1
  shift
  if "$@" >"$LOG" 2>&1; then
    passed=$((passed + 1))
    echo "ok      $what"
  else
    failed=$((failed + 1))
    echo "FAILED  $what"
    sed 's/^/        /' "$LOG"
  fi
}

# Text checks on the output of a command.
prints_exactly() { # EXPECTED COMMAND...
  local expected=$1 got
  shift
  got=$("$@") || { echo "exit status $?"; return 1; }
  [ "$got" = "$expected" ] || { echo "printed: $got"; echo "wanted:  $expected"; return 1; }
}
prints_all() { # COMMAND... -- TEXT...
  local command=() got
  while [ "$1" != -- ]; do command+=("$1"); shift; done
  shift
  got=$("${command[@]}") || { echo "exit status $?"; return 1; }
  for text in "$@"; do
    grep -qF -- "$text" <<<"$got" || { echo "no \"$text\" in:"; echo "$got"; return 1; }
  done
}
# With no display at all: no X server, no Wayland, no platform chosen.
without_display() { (unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; "$@"); }

deb_of() { ls "$DIST/$1"_*.deb 2>/dev/null; }
one_deb() { [ "$(ls "$DIST/$1"_*.deb 2>/dev/null | wc -l)" -eq 1 ]; }
contains() { # PACKAGE PATH...
  local listing
  listing=$(dpkg-deb -c "$(deb_of "$1")" | awk '{print $6}') || return 1
  shift
  for path in "$@"; do
    grep -qx -- "./$path" <<<"$listing" || { echo "missing: /$path"; return 1; }
  done
}
only_under_usr() {
  local listing outside
  listing=$(dpkg-deb -c "$(deb_of "$1")" | awk '{print $6}') && [ -n "$listing" ] || return 1
  outside=$(grep -v -e '^\./$' -e '^\./usr/' <<<"$listing")
  [ -z "$outside" ] || { echo "outside /usr: $outside"; return 1; }
  ! grep -e '^\./usr/local/' -e '/udev/rules\.d/' <<<"$listing"
}
field_is() { # PACKAGE FIELD PATTERN
  local value
  value=$(dpkg-deb -f "$(deb_of "$1")" "$2")
  grep -qE -- "$3" <<<"$value" || { echo "$2: $value"; return 1; }
}
png_size_is() { # FILE SIZE: width and height from the PNG header
  local got
  got=$(od -An -tu1 -j16 -N8 "$1" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$got" = "$2x$2" ] || { echo "$1 is $got"; return 1; }
}
entry_has() { grep -qx -- "$2" "$1" || { echo "no line $2 in $1"; return 1; }; }
metainfo_has() { grep -qF -- "$2" "$1" || { echo "no $2 in $1"; return 1; }; }
icon_exists() { # ENTRY: the icon it names, in both sizes
  local icon
  icon=$(sed -n 's/^Icon=//p' "$1")
  [ -f "$ROOT/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] \
    && [ -f "$ROOT/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || { echo "icon $icon not installed"; return 1; }
}
exec_exists() { # ENTRY: the program it starts
  local program
  program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$1")
  [ -x "$ROOT/usr/bin/$program" ] || { echo "Exec=$program not in /usr/bin"; return 1; }
}

echo "Packages of version $VERSION in $DIST"
check "version found in CMakeLists.txt" test -n "$VERSION"

for package in ostrel-varkon ostrel-tesmark ostrel-emulators; do
  check "$package: one package" one_deb "$package"
  check "$package: version $VERSION" field_is "$package" Version "^$VERSION-[0-9]+$"
  check "$package: section, maintainer, description" eval \
    "field_is $package Section '^[a-z]+$' && field_is $package Maintainer '^.+ <.+@.+>$' && field_is $package Description '.'"
  check "$package: libraries from dpkg-shlibdeps" field_is "$package" Depends 'libqt6core6 \(>= '
  check "$package: documentation" contains "$package" \
    "usr/share/doc/$package/copyright" "usr/share/doc/$package/changelog.Debian.gz" "usr/share/doc/$package/README.Debian"
  check "$package: everything under /usr, no active udev rule" only_under_usr "$package"
done

check "ostrel-varkon: program, entry, icons, metainfo, manual page" contains ostrel-varkon \
  usr/bin/Varkon usr/share/applications/ru.ostrel.Varkon.desktop \
  usr/share/icons/hicolor/scalable/apps/ru.ostrel.Varkon.svg usr/share/icons/hicolor/48x48/apps/ru.ostrel.Varkon.png \
  usr/share/metainfo/ru.ostrel.Varkon.metainfo.xml usr/share/man/man1/Varkon.1.gz
check "ostrel-varkon: udev rule template and limits examples" contains ostrel-varkon \
  usr/share/doc/ostrel-varkon/examples/60-ostrel-modem.rules \
  usr/share/doc/ostrel-varkon/examples/90-ostrel-varkon-somaxconn.conf \
  usr/share/doc/ostrel-varkon/examples/90-ostrel-varkon-nofile.conf \
  usr/share/doc/ostrel-varkon/examples/ostrel-varkon-nofile-systemd.conf
check "ostrel-tesmark: program, entry, icons, metainfo, manual page" contains ostrel-tesmark \
  usr/bin/Tesmark usr/share/applications/ru.ostrel.Tesmark.desktop \
  usr/share/icons/hicolor/scalable/apps/ru.ostrel.Tesmark.svg usr/share/icons/hicolor/48x48/apps/ru.ostrel.Tesmark.png \
  usr/share/metainfo/ru.ostrel.Tesmark.metainfo.xml usr/share/man/man1/Tesmark.1.gz
check "ostrel-emulators: programs and manual pages" contains ostrel-emulators \
  usr/bin/ostrel-controller usr/bin/ostrel-gprs \
  usr/share/man/man1/ostrel-controller.1.gz usr/share/man/man1/ostrel-gprs.1.gz

mkdir -p "$ROOT"
for deb in "$DIST"/ostrel-*.deb; do
  check "unpack $(basename "$deb")" dpkg-deb -x "$deb" "$ROOT"
done

for id in ru.ostrel.Varkon ru.ostrel.Tesmark; do
  entry=$ROOT/usr/share/applications/$id.desktop
  metainfo=$ROOT/usr/share/metainfo/$id.metainfo.xml
  check "$id: desktop-file-validate" desktop-file-validate "$entry"
  check "$id: entry in Russian too" eval "grep -q '^Name\[ru\]=' '$entry' && grep -q '^Comment\[ru\]=' '$entry'"
  check "$id: entry names its icon and program" eval "entry_has '$entry' 'Icon=$id' && icon_exists '$entry' && exec_exists '$entry'"
  check "$id: 48x48 icon" png_size_is "$ROOT/usr/share/icons/hicolor/48x48/apps/$id.png" 48
  check "$id: appstreamcli validate" appstreamcli validate --no-net "$metainfo"
  check "$id: metainfo names the entry, Russian, release $VERSION" eval \
    "metainfo_has '$metainfo' '<launchable type=\"desktop-id\">$id.desktop</launchable>' \
     && metainfo_has '$metainfo' '<name xml:lang=\"ru\">' && metainfo_has '$metainfo' '<summary xml:lang=\"ru\">' \
     && metainfo_has '$metainfo' '<release version=\"$VERSION\"'"
done

check "Varkon --version without a display" without_display prints_exactly "Varkon $VERSION" "$ROOT/usr/bin/Varkon" --version
check "Varkon --help without a display" without_display prints_all "$ROOT/usr/bin/Varkon" --help -- \
  "Usage: " "monitoring server" "--help" "--version"
check "Tesmark --help without a display" without_display prints_all "$ROOT/usr/bin/Tesmark" --help -- \
  "Usage: " "setup tool" "--help" "--version"
check "Tesmark --version without a display" without_display prints_exactly "Tesmark $VERSION" "$ROOT/usr/bin/Tesmark" --version
# Every program, the emulators too (whichever this version builds), has its
# manual page and answers --help.
for program in "$ROOT"/usr/bin/*; do
  name=$(basename "$program")
  check "$name: manual page" test -s "$ROOT/usr/share/man/man1/$name.1.gz"
  check "$name --help" without_display prints_all "$program" --help -- "Usage: " "--help"
done

check "lintian: no errors, no warnings without a written reason" \
  lintian --fail-on error,warning "$DIST"/ostrel-varkon_*.deb "$DIST"/ostrel-tesmark_*.deb "$DIST"/ostrel-emulators_*.deb

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
