#!/bin/sh
# Checks the Debian package: lintian finds no error, the package holds what it
# should and nothing else, its control fields give the section, architecture and
# the libraries it depends on, and its svodar-cli tells the package's version and
# sums examples/reports/ to the same bytes as the build tree's.
#
#   packaging/check-deb.sh DEB BUILD_TREE_SVODAR_CLI
#
# Prints one line per check (what a failing one saw indented below it) and ends
# with "N passed, M failed"; exits 1 when a check failed.
# shellcheck disable=SC2317 # the functions below run through check
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 DEB BUILD_TREE_SVODAR_CLI" >&2
    exit 64
fi
deb=$(realpath "$1") || exit 1
build_cli=$(realpath "$2") || exit 1
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=tools/lib.sh
. tools/lib.sh
reports=examples/reports

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
CHECK_LOG=$work/check.log

echo "lintian $deb:"
lintian --fail-on error "$deb" >"$work/lintian" 2>&1
lintian_status=$?
sed 's/^/    /' "$work/lintian"
check "lintian reports no error" test "$lintian_status" -eq 0

# Regular files and links, without the leading "./".
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort >"$work/files"
expected="usr/bin/svodar
usr/bin/svodar-cli
usr/share/applications/org.svodar.Svodar.desktop
usr/share/metainfo/org.svodar.Svodar.metainfo.xml
usr/share/icons/hicolor/scalable/apps/org.svodar.Svodar.svg
usr/share/icons/hicolor/16x16/apps/org.svodar.Svodar.png
usr/share/icons/hicolor/24x24/apps/org.svodar.Svodar.png
usr/share/icons/hicolor/32x32/apps/org.svodar.Svodar.png
usr/share/icons/hicolor/48x48/apps/org.svodar.Svodar.png
usr/share/icons/hicolor/64x64/apps/org.svodar.Svodar.png
usr/share/icons/hicolor/128x128/apps/org.svodar.Svodar.png
usr/share/icons/hicolor/256x256/apps/org.svodar.Svodar.png
usr/share/man/man1/svodar.1.gz
usr/share/man/man1/svodar-cli.1.gz
usr/share/doc/svodar/copyright
usr/share/doc/svodar/changelog.gz"
for f in $expected; do
    check "package holds /$f" grep -qx "$f" "$work/files"
done
echo "$expected" | sort >"$work/expected"
comm -23 "$work/files" "$work/expected" >"$work/unexpected"
sed 's/^/    unexpected: \//' "$work/unexpected"
check "package holds nothing else (no tests, benchmarks or libraries)" test ! -s "$work/unexpected"

field() { dpkg-deb -f "$deb" "$1"; }
check "control: Section utils, Architecture $(dpkg --print-architecture)" \
    test "$(field Section) $(field Architecture)" = "utils $(dpkg --print-architecture)"
depends=$(field Depends)
echo "    Depends: $depends"
depends_on_runtime() {
    for p in libqt6core6 libqt6widgets6 libexpat1 libxlsxwriter4 qt6-translations-l10n; do
        echo "$depends" | grep -Eq "(^|, )$p( |,|$)" || return 1
    done
}
check "control: Depends names Qt, expat, libxlsxwriter and Qt's translations" depends_on_runtime

dpkg-deb -x "$deb" "$work/root"
package_cli=$work/root/usr/bin/svodar-cli
speaks_russian() {
    help=$("$package_cli" --help) && echo "$help" | grep -q "^Использование:" && ! echo "$help" | grep -q "^Usage:"
}
check "packaged svodar-cli --help has Qt's own headings in Russian" speaks_russian
check "packaged svodar-cli --version gives the package version" \
    test "$("$package_cli" --version)" = "svodar-cli $(field Version)"
sums_alike() {
    "$build_cli" --okpo 12345678 "$reports" "$work/out-build" >/dev/null &&
        "$package_cli" --okpo 12345678 "$reports" "$work/out-package" >/dev/null &&
        [ -n "$(ls "$work/out-build")" ] &&
        diff -r "$work/out-build" "$work/out-package"
}
check "packaged svodar-cli sums $reports/ to the same bytes as $build_cli" sums_alike

finish
