#!/bin/sh
# Takes the pictures of the window in docs/; the only script that writes there.
#
#   scripts/screenshot.sh [BUILD_DIR]     docs/screenshot.png, docs/screenshot-running.png and
#                                         docs/screenshot-warnings.png
#                                         (BUILD_DIR default: build/ in the repository)
#   scripts/screenshot.sh windows ZIP     docs/screenshot-windows.png, from a Windows zip
#                                         that tools/dev.sh windows made
#
# The Linux pictures: starts svodar on a virtual X server, photographs its
# window, photographs it again while it sums a large folder (the sample reports,
# each under many names) and stops that run, sums examples/warnings/ through
# it, photographs the box that ends the run, and closes it all again. Builds
# svodar into BUILD_DIR first when it is not there yet.
#
# The Windows picture: unpacks ZIP, starts its svodar.exe under Wine on a
# virtual X server as tools/windows/smoke.sh does (tools/windows/wine.sh), fills
# in the three fields with folders on drive D: and photographs the window.
#
# Installs the Debian packages it needs when missing: xvfb, xauth, xdotool,
# imagemagick, python3 and a font with Cyrillic letters (fonts-dejavu-core); for the
# Windows picture imagemagick and those tools/windows/wine.sh lists. The Windows
# picture needs the ru_RU.UTF-8 locale too (tools/dev.sh sets it up).
set -eu

SCRIPT=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/lib.sh
. "$ROOT/tools/lib.sh"

usage() { echo "usage: $0 [BUILD_DIR] | $0 windows ZIP" >&2; exit 64; }

# The Windows picture, inside the virtual X server.
shoot_windows() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/svodar-screenshot.XXXXXX")
    trap 'wine_end; rm -rf "$WORK"' EXIT
    trap 'exit 1' INT TERM
    wine_setup
    unpack_zip "$ZIP" "$WORK/Программы"
    app=$(find "$WORK/Программы" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [ -n "$app" ] || die "$ZIP holds no folder"
    wine_boot
    wine_dialog_font
    # The folders as a user of the zip would choose them: the sample reports
    # in a Cyrillic folder on drive D:.
    reports="$DATA/Отчёты за квартал/входящие"
    mkdir -p "$reports"
    cp "$ROOT"/examples/reports/*.xml "$reports/"
    svodar_start "$app"
    svodar_window || die "svodar.exe shows no window"
    svodar_fill 12345678 "$(winpath "$reports")" "$(winpath "$DATA/Отчёты за квартал/Сводные из окна")" ||
        die "the fields of svodar.exe could not be filled in"
    sleep 0.5
    import -window "$WID" -strip "$OUT_WINDOWS.tmp.png"
    svodar_close > "$WORK/close.log" || { cat "$WORK/close.log"; die "svodar.exe did not end well"; }
    mv "$OUT_WINDOWS.tmp.png" "$OUT_WINDOWS"
    echo "Wrote $OUT_WINDOWS"
}

if [ "${1:-}" = windows ]; then
    [ $# -eq 2 ] || usage
    # shellcheck source=tools/windows/wine.sh
    . "$ROOT/tools/windows/wine.sh"
    ZIP=$(readlink -f "$2")
    [ -f "$ZIP" ] || die "no file $2"
    OUT_WINDOWS="$ROOT/docs/screenshot-windows.png"
    if [ "${SVODAR_IN_XVFB:-}" != 1 ]; then
        # shellcheck disable=SC2086 # a list of package names
        install_packages $WINE_PACKAGES imagemagick
        locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' ||
            die "the ru_RU.UTF-8 locale is missing (tools/dev.sh windows sets it up)"
    fi
    wine_display "$SCRIPT" windows "$ZIP"
    shoot_windows
    exit 0
fi

[ $# -le 1 ] || usage
BUILD_DIR=$(mkdir -p "${1:-$ROOT/build}" && cd "${1:-$ROOT/build}" && pwd)
APP="$BUILD_DIR/src/app/svodar"
OUT="$ROOT/docs/screenshot.png"
OUT_WARNINGS="$ROOT/docs/screenshot-warnings.png"
OUT_RUNNING="$ROOT/docs/screenshot-running.png"

[ "${SVODAR_IN_XVFB:-}" = 1 ] || install_packages xvfb xauth xdotool imagemagick python3 fonts-dejavu-core

if [ ! -x "$APP" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR"
    cmake --build "$BUILD_DIR" --target svodar -j "$(nproc)"
fi

# The part below runs inside the virtual X server.

# Starts svodar with the given font dpi and waits up to 20 s for a visible
# window titled $2; sets pid and wid.
start() {
    QT_QPA_PLATFORM=xcb QT_FONT_DPI=$1 "$APP" &
    pid=$!
    wid=$(wait_for "$2")
}

# Prints the id of the first visible window titled $1, waiting up to 20 s.
wait_for() {
    found=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)
    if [ -z "$found" ]; then
        kill "$pid" 2>/dev/null || true
        die "no window \"$1\" appeared"
    fi
    # Give it a moment to paint.
    sleep 1
    echo "$found"
}

stop() {
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

# type_into X Y TEXT: clicks the field at X,Y of the window and types TEXT.
type_into() {
    xdotool mousemove --window "$wid" "$1" "$2" click 1
    xdotool key ctrl+a
    xdotool type --delay 5 "$3"
}

shoot() {
    # The window's fixed pixel layout was drawn for the small Windows dialog
    # font. With the default font of a bare X server two captions do not fit;
    # at 72 dpi the text comes out at about the size the layout expects.
    start 72 'Сводарь 1\.2'
    # No window manager runs here, so the window has no frame: this is exactly
    # the 318x179 client area.
    import -window "$wid" -strip "$OUT.tmp.png"

    # During a run: 70,000 reports, the samples under many names (hard links,
    # no disk), which take a few seconds; then "Остановить" ends it.
    big=$(mktemp -d)
    python3 - "$ROOT/examples/reports" "$big/reports" <<'EOF'
import os, sys
source, folder = sys.argv[1], sys.argv[2]
os.makedirs(folder)
names = sorted(n for n in os.listdir(source) if n.endswith(".xml"))
for i in range(10000):
    for name in names:
        os.link(os.path.join(source, name), os.path.join(folder, "%05d_%s" % (i, name)))
EOF
    type_into 100 30 01000001
    type_into 100 70 "$big/reports"
    type_into 100 110 "$big/out"
    xdotool mousemove --window "$wid" 159 141 click 1
    sleep 1.5
    import -window "$wid" -strip "$OUT_RUNNING.tmp.png"
    xdotool mousemove --window "$wid" 159 141 click 1
    wait_for 'Остановлено' > /dev/null
    stop
    rm -rf "$big"

    # The box with warnings is laid out for its font, so it is taken at the
    # server's own 96 dpi. Sum the example with warnings: click into each field
    # (at its fixed place in the window) and type, then press "Старт!".
    start 96 'Сводарь 1\.2'
    out_dir=$(mktemp -d)
    type_into 100 30 01000001
    type_into 100 70 "$ROOT/examples/warnings"
    type_into 100 110 "$out_dir"
    xdotool mousemove --window "$wid" 159 141 click 1
    box=$(wait_for 'Есть предупреждения')
    import -window "$box" -strip "$OUT_WARNINGS.tmp.png"
    stop
    rm -rf "$out_dir"

    mv "$OUT.tmp.png" "$OUT"
    mv "$OUT_RUNNING.tmp.png" "$OUT_RUNNING"
    mv "$OUT_WARNINGS.tmp.png" "$OUT_WARNINGS"
}

if [ "${SVODAR_IN_XVFB:-}" = 1 ]; then
    shoot
else
    SVODAR_IN_XVFB=1 xvfb-run -a -s "-screen 0 640x480x24" "$SCRIPT" "$BUILD_DIR"
    echo "Wrote $OUT, $OUT_RUNNING and $OUT_WARNINGS"
fi
