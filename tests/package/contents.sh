#!/usr/bin/env bash
# The Debian package that scripts/package.sh built: what it holds, what it depends on, that its
# desktop entry passes the desktop's own validator, and that its program has none of the test
# builds' seams. Nothing is installed: the package is only listed and unpacked into a temporary
# folder.
#   contents.sh <the package's build folder, holding taskvane_*.deb>
set -uo pipefail

. "$(dirname "$0")/packagelib.sh"
package_or_skip "$1" dpkg-deb desktop-file-validate

contents=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/taskvane ./usr/share/taskvane/Ravel.db ./usr/share/applications/taskvane.desktop \
            ./usr/share/icons/hicolor/48x48/apps/taskvane.png; do
  check "lists $path" grep -q " $path\$" <<<"$contents"
done
check "holds no test, benchmark or build tool" bash -c '! grep -Eq "test_|bench|mkdict|\.a$" <<<"$1"' _ "$contents"
check "program is executable by everyone" grep -Eq '^-rwxr-xr-x .* \./usr/bin/taskvane$' <<<"$contents"

depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
# Found by the library scan, and named because Qt loads them without any scan seeing it.
for dep in libqt6widgets6 libqt6charts6 libgcrypt20 libcurl4 libqt6gui6 qt6-translations-l10n; do
  check "depends on $dep" grep -Eq "(^|, )$dep( |,|$)" <<<"$depends"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb --extract "$deb" "$tmp"
check "desktop entry is valid" desktop-file-validate "$tmp/usr/share/applications/taskvane.desktop"
entry=$(cat "$tmp/usr/share/applications/taskvane.desktop")
for line in "Name=Taskvane" "Exec=taskvane" "Icon=taskvane" "Categories=System;Monitor;"; do
  check "entry has $line" grep -qxF "$line" <<<"$entry"
done
check "icon is a 48x48 picture" bash -c 'file "$1" | grep -q "PNG image data, 48 x 48"' _ \
  "$tmp/usr/share/icons/hicolor/48x48/apps/taskvane.png"
check "program is a release build without sanitizers" bash -c '! readelf -d "$1" | grep -Eq "lib(asan|ubsan)"' _ \
  "$tmp/usr/bin/taskvane"

# The seams of the test builds (platform/system/TestSeams.h) are not in the packaged program: every
# name the sources declare under the seam switch (seams.sh). It is stripped, so their names are
# looked for among the symbols of the build's own copy, the same program (the same build
# identifier) before stripping, and in the packaged program's bytes (its type names and texts).
build_id() { readelf -n "$1" 2>/dev/null | sed -n 's/^ *Build ID: *//p'; }
unstripped=$1/bin/taskvane
check "the build folder holds the packaged program with its symbols" \
  bash -c '[ -n "$1" ] && [ "$1" = "$2" ] && nm "$3" | grep -q .' _ \
  "$(build_id "$tmp/usr/bin/taskvane")" "$(build_id "$unstripped")" "$unstripped"
nm -C "$unstripped" >"$tmp/symbols" 2>/dev/null
seams=$(bash "$(dirname "$0")/seams.sh" "$(cd "$(dirname "$0")/../.." && pwd)")
check "the seams are read from the sources" bash -c 'grep -qx SetStepHook <<<"$1" && grep -qx SetCallObserver <<<"$1"' _ \
  "$seams"
for seam in $seams; do
  check "the program holds no seam $seam" bash -c '! grep -qFw -- "$1" "$2" && ! grep -aqFw -- "$1" "$3"' _ \
    "$seam" "$tmp/symbols" "$tmp/usr/bin/taskvane"
done

[ "$failed" -eq 0 ]
