#!/bin/sh
# Cross-builds Svodar for 64-bit Windows on Debian 12 and packs
# dist/svodar-<version>-win64.zip and dist/svodar-<version>-win64.msi.
#
#   tools/windows/build.sh            everything that is missing, then the zip
#                                     and the MSI
#   tools/windows/build.sh prepare    only the packages, sources, Qt, expat and
#                                     libxlsxwriter
#
# Qt (qtbase only) and expat are cross-built from Debian's source packages once
# and kept below ${XDG_CACHE_HOME:-$HOME/.cache}/svodar/, in folders named after
# the source version and a hash of the configure line; a later run reuses them
# and only builds Svodar itself. Nothing of them lands in the work tree.
# libxlsxwriter is built and kept the same way.
set -eu

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
HERE=$ROOT/tools/windows
# shellcheck source=tools/lib.sh
. "$ROOT/tools/lib.sh"
# shellcheck source=tools/windows/wine.sh
. "$HERE/wine.sh"
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/svodar
WIN_BUILD_DIR=${WIN_BUILD_DIR:-$ROOT/build-win64}
TOOLCHAIN=$HERE/mingw-w64.cmake
TRIPLET=x86_64-w64-mingw32
HOST_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
JOBS=$(nproc)
[ "$JOBS" -le 2 ] || JOBS=2

PACKAGES="g++-mingw-w64-x86-64-posix mingw-w64-tools qt6-base-dev qt6-base-dev-tools
          cmake ninja-build dpkg-dev"
# The static zlib for libxlsxwriter; the MSI and the icon; Qt's own texts in
# Russian (architecture-independent, the same Qt version as the one built here).
PACKAGES="$PACKAGES libz-mingw-w64-dev wixl msitools librsvg2-bin icoutils qt6-translations-l10n"
# The tests under Wine (smoke.sh reads the programs' version resource with pefile).
PACKAGES="$PACKAGES $WINE_PACKAGES python3-pefile"

# Source packages need deb-src entries. They are derived from the machine's own
# deb entries for this Debian release (one-line and deb822 formats), so the
# sources come from wherever its binary packages come from.
ensure_deb_src() {
    apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package:' && return 0
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    say "Adding deb-src entries for $codename"
    oneline=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk -v c="$codename" '$1 == "deb" {
            i = 2; if ($2 ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            if ($(i + 1) ~ "^" c "(-[a-z]+)?$") { $1 = "deb-src"; print } }')
    deb822=$(for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && cat "$f" && echo; done |
        awk -v c="$codename" '
            function flush() {
                if (n && types ~ /(^| )deb( |$)/ && enabled != "no" && ok) {
                    for (k = 1; k <= n; k++) print lines[k]; print ""
                }
                n = 0; types = ""; enabled = ""; ok = 0
            }
            /^[ \t]*$/ { flush(); next }
            /^#/ { next }
            {
                if ($1 == "Types:") { types = substr($0, 8); lines[++n] = "Types: deb-src"; next }
                if ($1 == "Enabled:") enabled = $2
                if ($1 == "Suites:") for (k = 2; k <= NF; k++) if ($k ~ "^" c "(-[a-z]+)?$") ok = 1
                lines[++n] = $0
            }
            END { flush() }')
    [ -n "$oneline$deb822" ] || die "no deb entry for $codename in /etc/apt/sources.list*"
    if [ -n "$oneline" ]; then
        printf '%s\n' "$oneline" | as_root tee /etc/apt/sources.list.d/svodar-deb-src.list >/dev/null
    fi
    if [ -n "$deb822" ]; then
        printf '%s\n' "$deb822" | as_root tee /etc/apt/sources.list.d/svodar-deb-src.sources >/dev/null
    fi
    as_root apt-get update
}

# fetch_source PACKAGE: unpacks Debian's source of PACKAGE into $CACHE/src/PACKAGE/
# (once). When the newest version's files are not served, tries the older
# versions that apt-cache showsrc lists, newest first.
fetch_source() {
    pkg=$1
    dest=$CACHE/src/$pkg
    [ -f "$dest/.complete" ] && return 0
    ensure_deb_src
    say "Fetching the source of $pkg"
    rm -rf "$dest" "$dest.tmp"
    mkdir -p "$dest.tmp"
    versions=$(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -r -V -u)
    for v in $versions; do
        if (cd "$dest.tmp" && apt-get source -q "$pkg=$v"); then
            touch "$dest.tmp/.complete"
            mv "$dest.tmp" "$dest"
            return 0
        fi
        say "$pkg $v could not be fetched; trying an older version"
        rm -rf "$dest.tmp" && mkdir -p "$dest.tmp"
    done
    die "no version of the source package $pkg could be fetched"
}

# The unpacked source tree and its Debian version.
source_dir() { find "$CACHE/src/$1" -mindepth 2 -maxdepth 2 -name debian -type d | head -n 1 | xargs dirname; }
source_version() { dpkg-parsechangelog -l "$(source_dir "$1")/debian/changelog" -S Version; }
# A short hash of a configure line and the toolchain it uses.
line_hash() { { printf '%s\n' "$*"; cat "$TOOLCHAIN"; } | sha256sum | cut -c1-12; }

EXPAT_OPTIONS="-DCMAKE_BUILD_TYPE=Release -DEXPAT_SHARED_LIBS=ON -DEXPAT_BUILD_TOOLS=OFF
    -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF
    -DEXPAT_BUILD_FUZZERS=OFF"

build_expat() {
    fetch_source expat
    src=$(source_dir expat)/expat
    EXPAT_PREFIX=$CACHE/expat-$(source_version expat)-$(line_hash "$EXPAT_OPTIONS")
    [ -f "$EXPAT_PREFIX/.complete" ] && return 0
    say "Building expat into $EXPAT_PREFIX"
    # Debian's security fixes test "#if XML_DTD == 1", but the CMake config
    # header defines XML_DTD and XML_NS empty: give them the value 1.
    sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/; s/^#cmakedefine XML_NS$/#cmakedefine XML_NS 1/' \
        "$src/expat_config.h.cmake"
    rm -rf "$EXPAT_PREFIX" "$CACHE/build/expat"
    # shellcheck disable=SC2086 # a list of options
    cmake -S "$src" -B "$CACHE/build/expat" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_INSTALL_PREFIX="$EXPAT_PREFIX" $EXPAT_OPTIONS
    nice cmake --build "$CACHE/build/expat" -j "$JOBS"
    cmake --install "$CACHE/build/expat"
    cp "$src/COPYING" "$EXPAT_PREFIX/COPYING"
    touch "$EXPAT_PREFIX/.complete"
    rm -rf "$CACHE/build/expat"
}

# libxlsxwriter, static, with zlib linked statically too (no zlib1.dll to ship).
XLSXWRITER_OPTIONS="-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DZLIB_USE_STATIC_LIBS=ON
    -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF"
XLSXWRITER_PATCH=$HERE/libxlsxwriter-utf8-names.patch

build_xlsxwriter() {
    fetch_source libxlsxwriter
    XLSXWRITER_PREFIX=$CACHE/xlsxwriter-$(source_version libxlsxwriter)-$(line_hash "$XLSXWRITER_OPTIONS
$(cat "$XLSXWRITER_PATCH")")
    [ -f "$XLSXWRITER_PREFIX/.complete" ] && return 0
    say "Building libxlsxwriter into $XLSXWRITER_PREFIX"
    build=$CACHE/build/xlsxwriter
    rm -rf "$XLSXWRITER_PREFIX" "$build"
    mkdir -p "$build"
    # The cached source stays as Debian ships it; the patch goes into a copy.
    cp -a "$(source_dir libxlsxwriter)" "$build/src"
    patch -d "$build/src" -p1 < "$XLSXWRITER_PATCH"
    # shellcheck disable=SC2086 # a list of options
    cmake -S "$build/src" -B "$build/obj" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_INSTALL_PREFIX="$XLSXWRITER_PREFIX" $XLSXWRITER_OPTIONS
    nice cmake --build "$build/obj" -j "$JOBS"
    cmake --install "$build/obj"
    # xlsxwriter.pc links with -lz: next to the library only the static zlib
    # is found, never the import library of zlib1.dll.
    cp "/usr/$TRIPLET/lib/libz.a" "$XLSXWRITER_PREFIX/lib/libz.a"
    # Its Version field holds the ABI's number (4); give it the library's.
    sed -i "s/^Version: .*/Version: $(source_version libxlsxwriter | sed 's/-[^-]*$//')/" \
        "$XLSXWRITER_PREFIX/lib/pkgconfig/xlsxwriter.pc"
    cp "$build/src/License.txt" "$XLSXWRITER_PREFIX/License.txt"
    touch "$XLSXWRITER_PREFIX/.complete"
    rm -rf "$build"
}

# Only what Svodar uses: Core, Gui, Widgets and the Windows platform and style
# plugins. Debian's +dfsg tarball has neither the Wintab headers nor sqlite.
QT_OPTIONS="-release -shared -xplatform win32-g++ -device-option CROSS_COMPILE=$TRIPLET-
    -qt-host-path /usr -nomake examples -nomake tests -no-opengl -no-dbus -no-icu
    -no-feature-network -no-feature-sql -no-feature-printsupport -no-feature-xml
    -no-feature-concurrent -no-feature-testlib -no-feature-tabletevent
    -qt-zlib -qt-pcre -qt-doubleconversion -qt-harfbuzz -qt-freetype -qt-libpng -qt-libjpeg"

build_qt() {
    fetch_source qt6-base
    src=$(source_dir qt6-base)
    QT_PREFIX=$CACHE/qt-$(source_version qt6-base)-$(line_hash "$QT_OPTIONS")
    [ -f "$QT_PREFIX/.complete" ] && return 0
    say "Building Qt into $QT_PREFIX (the long step, once per Qt version and configure line)"
    build=$CACHE/build/qt
    # A build that was interrupted after configuring goes on where it stopped.
    if [ "$(cat "$build/.prefix" 2>/dev/null)" != "$QT_PREFIX" ] || [ ! -f "$build/build.ninja" ]; then
        rm -rf "$QT_PREFIX" "$build"
        mkdir -p "$build"
        # In Qt's CMake build the toolchain file chooses the compiler, and the
        # host Qt's CMake packages are found only through QT_HOST_PATH_CMAKE_DIR.
        # shellcheck disable=SC2086 # a list of options
        (cd "$build" && "$src/configure" -prefix "$QT_PREFIX" $QT_OPTIONS -- \
            -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DQT_HOST_PATH_CMAKE_DIR="$HOST_CMAKE_DIR")
        printf '%s' "$QT_PREFIX" > "$build/.prefix"
    fi
    nice cmake --build "$build" -j "$JOBS"
    cmake --install "$build"
    touch "$QT_PREFIX/.complete"
    rm -rf "$build"
}

prepare() {
    # shellcheck disable=SC2086 # a list of package names
    install_packages $PACKAGES
    build_qt
    build_expat
    build_xlsxwriter
}

# Svodar itself, with the project's own CMake files; the tests need Qt Test,
# which the cross Qt does not have.
build_svodar() {
    stamp="$QT_PREFIX;$EXPAT_PREFIX;$XLSXWRITER_PREFIX"
    # pkg-config finds the cross-built libxlsxwriter and nothing of the host;
    # exported, as a build may configure again.
    PKG_CONFIG_LIBDIR=$XLSXWRITER_PREFIX/lib/pkgconfig
    export PKG_CONFIG_LIBDIR
    if [ "$(cat "$WIN_BUILD_DIR/.prefixes" 2>/dev/null)" != "$stamp" ]; then
        rm -rf "$WIN_BUILD_DIR"
    fi
    say "Building Svodar in $WIN_BUILD_DIR"
    # Two builds of one commit give the same zip: no build path in the programs,
    # no link time in their PE headers; strip writes SOURCE_DATE_EPOCH into the
    # headers of what it strips, and zipdir.py into the entries.
    SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || date +%s)}
    export SOURCE_DATE_EPOCH
    cmake -S "$ROOT" -B "$WIN_BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$ROOT=." \
        -DCMAKE_EXE_LINKER_FLAGS=-Wl,--no-insert-timestamp \
        -DCMAKE_FIND_ROOT_PATH="$stamp" -DCMAKE_PREFIX_PATH="$stamp" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$HOST_CMAKE_DIR"
    printf '%s' "$stamp" > "$WIN_BUILD_DIR/.prefixes"
    nice cmake --build "$WIN_BUILD_DIR" -j "$JOBS" --target svodar svodar-cli
}

# copy_licence FILE NAME: FILE into the zip's licences folder as NAME.
copy_licence() { cp "$1" "$STAGE/licenses/$2"; }

# The copyright file of the Debian package that holds FILE.
debian_copyright() { echo "/usr/share/doc/$(dpkg -S "$1" | head -n 1 | cut -d: -f1)/copyright"; }

make_zip() {
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$WIN_BUILD_DIR/CMakeCache.txt")
    name=svodar-$version-win64
    STAGE=$WIN_BUILD_DIR/stage/$name
    say "Packing dist/$name.zip"
    rm -rf "$WIN_BUILD_DIR/stage"
    mkdir -p "$STAGE/platforms" "$STAGE/styles" "$STAGE/translations" "$STAGE/licenses" "$ROOT/dist"

    # qt_standard_project_setup() puts Windows programs next to their DLLs.
    cp "$WIN_BUILD_DIR/svodar.exe" "$WIN_BUILD_DIR/svodar-cli.exe" "$STAGE/"
    for dll in Qt6Core Qt6Gui Qt6Widgets; do cp "$QT_PREFIX/bin/$dll.dll" "$STAGE/"; done
    cp "$QT_PREFIX/plugins/platforms/qwindows.dll" "$STAGE/platforms/"
    cp "$QT_PREFIX/plugins/styles/qwindowsvistastyle.dll" "$STAGE/styles/"
    # Both programs look for Qt's Russian texts in translations/ beside them.
    qm=/usr/share/qt6/translations/qtbase_ru.qm
    [ -f "$qm" ] || die "$qm is missing (Debian: qt6-translations-l10n)"
    cp "$qm" "$STAGE/translations/"
    cp "$EXPAT_PREFIX"/bin/libexpat*.dll "$STAGE/"
    runtime=
    for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        file=$(readlink -f "$($TRIPLET-g++-posix -print-file-name=$dll)")
        [ -f "$file" ] || die "the MinGW runtime $dll is missing"
        cp "$file" "$STAGE/"
        runtime="$runtime $file"
    done
    find "$STAGE" \( -name '*.exe' -o -name '*.dll' \) -exec "$TRIPLET-strip" --strip-unneeded {} +

    # Svodar's licence, then those of everything shipped with it.
    [ -f "$ROOT/LICENSE" ] || die "LICENSE is missing at the top of the repository"
    cp "$ROOT/LICENSE" "$STAGE/LICENSE.txt"
    qt_src=$(source_dir qt6-base)
    copy_licence "$qt_src/LICENSES/LGPL-3.0-only.txt" Qt-LGPL-3.0.txt
    copy_licence "$qt_src/LICENSES/GPL-3.0-only.txt" Qt-GPL-3.0.txt
    copy_licence "$qt_src/debian/copyright" Qt-copyright.txt
    cat > "$STAGE/licenses/Qt-SOURCE.txt" <<SOURCE
Qt $(source_version qt6-base | sed 's/+.*//') (qtbase) is used under the GNU Lesser General Public License
version 3 (Qt-LGPL-3.0.txt, with the GPL it refers to in Qt-GPL-3.0.txt).
Qt-copyright.txt lists the copyright holders and the licences of the parts
Qt bundles (FreeType, HarfBuzz, PCRE2, libpng, libjpeg, zlib and others).

The Qt libraries here were built without changes from the source of the
Debian source package qt6-base, version $(source_version qt6-base):
    apt-get source qt6-base=$(source_version qt6-base)
(on a Debian machine with deb-src entries), or from pool/main/q/qt6-base/
on any Debian mirror.
translations/qtbase_ru.qm, Qt's own texts in Russian, comes unchanged from
the Debian package qt6-translations-l10n, version $(dpkg-query -W -f='${Version}' qt6-translations-l10n)
(source package qt6-translations), under the same licences.
Svodar's tools/windows/build.sh in its repository shows how they were built.
SOURCE
    copy_licence "$(source_dir expat)/expat/COPYING" expat-COPYING.txt
    copy_licence "$XLSXWRITER_PREFIX/License.txt" libxlsxwriter-License.txt
    # (with the licences of the minizip, tmpfileplus and md5 code it bundles)
    copy_licence "$(source_dir libxlsxwriter)/debian/copyright" libxlsxwriter-copyright.txt
    copy_licence "/usr/share/doc/libz-mingw-w64-dev/copyright" zlib-copyright.txt
    gcc_runtime=$(echo "$runtime" | awk '{print $1}')
    winpthread=$(echo "$runtime" | awk '{print $3}')
    copy_licence "$(debian_copyright "$gcc_runtime")" MinGW-GCC-runtime-copyright.txt
    copy_licence "$(debian_copyright "$winpthread")" MinGW-w64-runtime-copyright.txt

    # The Russian read-me: UTF-8 with a byte order mark and CR LF, as Notepad
    # on any Windows shows it right.
    { printf '\357\273\277'; sed 's/$/\r/' "$ROOT/packaging/windows/readme-ru.txt"; } > "$STAGE/ПРОЧТИ.txt"

    /usr/bin/python3 "$HERE/zipdir.py" "$WIN_BUILD_DIR/stage" "$name" "$ROOT/dist/$name.zip"
    ZIP=$ROOT/dist/$name.zip
    say "Wrote $ZIP"
}

# The Windows Installer package, from the files the zip holds.
make_msi() {
    say "Packing dist/$name.msi"
    "$HERE/msi.sh" "$STAGE" "$version" "$ROOT/dist/$name.msi"
    say "Wrote $ROOT/dist/$name.msi"
}

case "${1:-all}" in
prepare) prepare ;;
all)
    prepare
    build_svodar
    make_zip
    make_msi
    ;;
*) die "usage: $0 [prepare]" ;;
esac
