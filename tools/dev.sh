#!/bin/sh
# Sets up a Debian 12 machine for Svodar, builds it, and runs the demo or the tests.
#
#   tools/dev.sh demo   build, then sum examples/reports/ into out/summed/
#   tools/dev.sh test   build, then run every test (also under a Russian locale, and
#                       built with sanitizers), and a short fuzzing run
#   tools/dev.sh gui    build, then start the window
#   tools/dev.sh deb    build the Debian package into dist/ and check it
#   tools/dev.sh windows  cross-build dist/svodar-<version>-win64.zip and .msi
#                       and try them under Wine (tools/windows/)
#   tools/dev.sh release  from a clean tree, fresh builds of deb and windows, and
#                       dist/SHA256SUMS over the files they made
set -eu

cd "$(dirname "$0")/.."
# shellcheck source=tools/lib.sh
. tools/lib.sh
BUILD_DIR=${BUILD_DIR:-build}
# qt6-translations-l10n: Qt's own texts in Russian, which both programs load.
PACKAGES="cmake g++ make pkgconf qt6-base-dev qt6-translations-l10n libexpat1-dev expat
          libxlsxwriter-dev locales desktop-file-utils appstream unzip"
# The fuzzer needs clang and its runtime.
TEST_PACKAGES="clang libclang-rt-14-dev"
# The Debian package: dpkg-shlibdeps, man page, and the package checks.
DEB_PACKAGES="dpkg-dev help2man lintian file librsvg2-bin"

setup() {
    # shellcheck disable=SC2086 # a list of package names
    install_packages $PACKAGES "$@"
    # The tests also run under ru_RU.UTF-8, where a decimal comma is the local habit.
    if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
        as_root sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        as_root locale-gen >/dev/null
    fi
}

build() {
    dir=${1:-$BUILD_DIR}
    shift $(($# > 0 ? 1 : 0))
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir" -j "$(nproc)"
}

case "${1:-}" in
demo)
    setup
    build
    rm -rf out/summed
    "$BUILD_DIR"/src/cli/svodar-cli --okpo 12345678 examples/reports out/summed
    echo "Summed reports in out/summed/:"
    ls -l out/summed
    ;;
test)
    # shellcheck disable=SC2086 # a list of package names
    setup $TEST_PACKAGES
    build
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j 2
    echo "Again under ru_RU.UTF-8:"
    LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 ctest --test-dir "$BUILD_DIR" --output-on-failure -j 2
    echo "Again with AddressSanitizer and UndefinedBehaviorSanitizer:"
    build "$BUILD_DIR-asan" -DSVODAR_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir "$BUILD_DIR-asan" --output-on-failure -j 2
    echo "A short fuzzing run:"
    BUILD_DIR="$BUILD_DIR-fuzz" fuzz/run.sh short
    ;;
gui)
    setup
    build
    exec "$BUILD_DIR"/src/app/svodar
    ;;
deb)
    # shellcheck disable=SC2086 # a list of package names
    setup $DEB_PACKAGES
    # A Release build with all of Debian's hardening flags, without the tests;
    # the man page's date is the last commit's.
    SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
    export SOURCE_DATE_EPOCH
    DEB_BUILD_MAINT_OPTIONS=hardening=+all
    export DEB_BUILD_MAINT_OPTIONS
    dir=$BUILD_DIR-deb
    build "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
    rm -f "$dir"/cpack/svodar_*.deb dist/svodar_*.deb
    (cd "$dir" && cpack -G DEB -B cpack)
    mkdir -p dist
    cp "$dir"/cpack/svodar_*.deb dist/
    packaging/check-deb.sh dist/svodar_*.deb "$dir"/src/cli/svodar-cli
    ;;
windows)
    # The Linux svodar-cli gives the reports the Windows build must match.
    setup
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$BUILD_DIR" -j "$(nproc)" --target svodar-cli
    tools/windows/build.sh
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")
    tools/windows/smoke.sh "dist/svodar-$version-win64.zip" "$BUILD_DIR/src/cli/svodar-cli"
    tools/windows/msi-test.sh "dist/svodar-$version-win64.msi" "dist/svodar-$version-win64.zip" \
        "$BUILD_DIR/src/cli/svodar-cli"
    ;;
release)
    # Release files come from the commit alone: no changed or untracked file,
    # fresh build folders. Each step checks what it made and stops the release
    # when a check fails.
    changes=$(git status --porcelain) || die "release: needs a git clone"
    if [ -n "$changes" ]; then
        git status --short >&2
        die "release: the work tree has changes (listed above); commit or stash them"
    fi
    version=$(sed -n 's/^project(Svodar VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
    [ -n "$version" ] || die "release: no version in CMakeLists.txt"
    rm -rf build-release build-release-deb build-release-win64
    rm -f "dist/svodar_${version}_"*.deb "dist/svodar-$version-win64".* dist/SHA256SUMS
    BUILD_DIR=build-release sh tools/dev.sh deb
    BUILD_DIR=build-release WIN_BUILD_DIR="$PWD/build-release-win64" sh tools/dev.sh windows
    (cd dist && ls "svodar_${version}_"*.deb "svodar-$version-win64".* | LC_ALL=C sort |
        xargs sha256sum --) > dist/SHA256SUMS.tmp
    mv dist/SHA256SUMS.tmp dist/SHA256SUMS
    echo "Release $version in dist/:"
    cat dist/SHA256SUMS
    ;;
*)
    echo "usage: $0 demo|test|gui|deb|windows|release" >&2
    exit 64
    ;;
esac
