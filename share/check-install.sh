#!/usr/bin/env bash
# check-install.sh BUILD WORK: installs the build into WORK/prefix as the README does
# (stripped) and checks what landed.
set -eu
build=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --strip --prefix "$work/prefix" > "$work/install.log"
cd "$work/prefix"
expected="bin/analyzer-updater
lib/udev/rules.d/70-analyzer-bsl.rules
share/applications/analyzer-updater.desktop
share/doc/analyzer-updater/fonts/LGPL-2.1
share/doc/analyzer-updater/fonts/README
share/doc/analyzer-updater/fonts/copyright
share/icons/hicolor/scalable/apps/analyzer-updater.svg"
actual=$(find . -type f | sed 's|^\./||' | sort)
if [ "$actual" != "$expected" ]; then
  echo "installed files differ:"; diff <(echo "$expected") <(echo "$actual") || true; exit 1
fi
[ -x bin/analyzer-updater ] || { echo "the updater is not executable"; exit 1; }
# Stripped, and naming hidapi's hidraw library, which the package's BSL library loads, for a
# packager's dependency scan.
if readelf -S -W bin/analyzer-updater | grep -q '\.symtab'; then
  echo "the installed updater is not stripped"; exit 1
fi
readelf -d bin/analyzer-updater | grep -q 'NEEDED.*\[libhidapi-hidraw\.so' \
  || { echo "the updater does not name libhidapi-hidraw as needed"; readelf -d bin/analyzer-updater; exit 1; }
# The menu entry starts the installed program and names the installed icon.
grep -qx 'Exec=analyzer-updater' share/applications/analyzer-updater.desktop
grep -qx 'Icon=analyzer-updater' share/applications/analyzer-updater.desktop
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate share/applications/analyzer-updater.desktop
fi
# The icon is well-formed SVG.
python3 -c 'import sys, xml.etree.ElementTree as t; r = t.parse(sys.argv[1]).getroot(); sys.exit(r.tag != "{http://www.w3.org/2000/svg}svg")' \
  share/icons/hicolor/scalable/apps/analyzer-updater.svg
# The rule is the project's own, byte for byte.
cmp lib/udev/rules.d/70-analyzer-bsl.rules "$(dirname "$0")/../bsl430/udev/70-analyzer-bsl.rules"
echo "installed: $(echo "$actual" | tr '\n' ' ')"
