#!/bin/sh
# Sets up a Debian 12 machine for Svodar, builds it, and runs the demo or the tests.
#
#   tools/dev.sh demo   build, then sum examples/reports/ into out/summed/
#   tools/dev.sh test   build, then run every test (also under a Russian locale)
#   tools/dev.sh gui    build, then start the window
set -eu

cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
PACKAGES="cmake g++ make pkgconf qt6-base-dev libexpat1-dev expat locales
          desktop-file-utils appstream"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

setup() {
    missing=
    for p in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        echo "Installing:$missing"
        as_root apt-get update
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
    fi
    # The tests also run under ru_RU.UTF-8, where a decimal comma is the local habit.
    if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
        as_root sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        as_root locale-gen >/dev/null
    fi
}

build() {
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$BUILD_DIR" -j "$(nproc)"
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
    setup
    build
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j 2
    echo "Again under ru_RU.UTF-8:"
    LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 ctest --test-dir "$BUILD_DIR" --output-on-failure -j 2
    ;;
gui)
    setup
    build
    exec "$BUILD_DIR"/src/app/svodar
    ;;
*)
    echo "usage: $0 demo|test|gui" >&2
    exit 64
    ;;
esac
