#!/bin/sh
# Takes docs/screenshot.png: starts svodar on a virtual X server, photographs
# its window and closes it again.
#
#   scripts/screenshot.sh [BUILD_DIR]     (default: build/ in the repository)
#
# Builds svodar into BUILD_DIR first when it is not there yet. Needs xvfb,
# xdotool and imagemagick (apt-get install xvfb xdotool imagemagick) and a
# font with Cyrillic letters (fonts-dejavu-core).
set -eu

SCRIPT=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=$(mkdir -p "${1:-$ROOT/build}" && cd "${1:-$ROOT/build}" && pwd)
APP="$BUILD_DIR/src/app/svodar"
OUT="$ROOT/docs/screenshot.png"

for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 1; }
done

if [ ! -x "$APP" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR"
    cmake --build "$BUILD_DIR" --target svodar -j "$(nproc)"
fi

# The part below runs inside the virtual X server.
shoot() {
    # The window's fixed pixel layout was drawn for the small Windows dialog
    # font. With the default font of a bare X server two captions do not fit;
    # at 72 dpi the text comes out at about the size the layout expects.
    QT_QPA_PLATFORM=xcb QT_FONT_DPI=72 "$APP" &
    pid=$!
    # Wait up to 20 s for the window to be mapped.
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Сводарь 1\.2$' | head -n 1)
    if [ -z "$wid" ]; then
        echo "$0: the window of svodar did not appear" >&2
        kill "$pid" 2>/dev/null || true
        exit 1
    fi
    # Give it a moment to paint.
    sleep 1
    # No window manager runs here, so the window has no frame: this is exactly
    # the 318x179 client area.
    import -window "$wid" -strip "$OUT.tmp.png"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    mv "$OUT.tmp.png" "$OUT"
}

if [ "${SVODAR_IN_XVFB:-}" = 1 ]; then
    shoot
else
    SVODAR_IN_XVFB=1 xvfb-run -a -s "-screen 0 640x480x24" "$SCRIPT" "$BUILD_DIR"
    echo "Wrote $OUT"
fi
