# shellcheck shell=sh disable=SC2034 # WINE_PACKAGES is for the scripts that source this
# Svodar's Windows programs under Wine on a virtual X server, as a Russian user
# runs them; sourced by tools/windows/smoke.sh and scripts/screenshot.sh, not run.
# Needs wine, xvfb, xauth, xdotool, xclip, fonts-liberation2 and the ru_RU.UTF-8
# locale (WINE_PACKAGES; tools/windows/build.sh installs them).
#
#   wine_display COMMAND...   runs COMMAND (the calling script again) on a virtual
#                             X server, unless this already is that run
#   wine_setup                a 64-bit prefix in $WORK/wine for a Russian Windows;
#                             DATA ($WORK/data) becomes its drive D:
#   wine_boot                 makes the prefix and keeps one wineserver for the rest
#   wine_dialog_font          Liberation Sans for the dialog font
#   wine_end                  ends the prefix's processes
#   winpath PATH              the Windows path of PATH
#   unpack_zip ZIP FOLDER     the Windows zip unpacked into FOLDER
#   windows_shown             the names of the windows on the screen
#   svodar_start APP          starts APP/svodar.exe (GUI_PID; its output in $WORK/gui.log)
#   svodar_window             waits for its window (WID)
#   svodar_fill OKPO IN OUT   fills its three fields
#   svodar_box TITLE          waits up to 60 s for its box TITLE and closes it
#   svodar_close              closes the window and checks the exit status
#
# WORK, a scratch folder of the caller's, must be set before wine_setup.

WINE_PACKAGES="wine wine64 xvfb xauth xdotool xclip fonts-liberation2"

# Every Wine call runs with DISPLAY set: a wineserver started without it makes
# a later window hang.
wine_display() {
    [ "${SVODAR_IN_XVFB:-}" != 1 ] || return 0
    exec env SVODAR_IN_XVFB=1 xvfb-run -a -s "-screen 0 800x600x24" "$@"
}

wine_setup() {
    export WINEPREFIX="$WORK/wine" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # A Russian Windows: ANSI code page 1251, console code page 866.
    export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
    # The reports live below DATA, which Wine shows as drive D:, so that the
    # paths in the window look like a Windows user's.
    DATA="$WORK/data"
    mkdir -p "$DATA"
}

wine_boot() {
    timeout 180 wine wineboot -i > "$WORK/wineboot.log" 2>&1 ||
        echo "       wineboot -i: exit $?, $(tail -n 3 "$WORK/wineboot.log")"
    timeout 120 wineserver -w || { echo "       the prefix's processes still run after 120 s"; wineserver -k || true; }
    ln -sfn "$DATA" "$WINEPREFIX/dosdevices/d:"
    # One server for all that follows: no program waits for a server that is
    # just ending or starting.
    wineserver -p 2>/dev/null || true
}

# The dialog font "MS Shell Dlg" is a serif face in a bare Wine prefix;
# Liberation Sans has the metrics of the sans face Windows uses.
wine_dialog_font() {
    for wine_font in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma"; do
        timeout 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
            /v "$wine_font" /d "Liberation Sans" /f > /dev/null 2>&1 ||
            echo "       (\"$wine_font\" keeps Wine's font)"
    done
}

wine_end() { timeout 30 wineserver -k 2>/dev/null || true; }

# Windows path of a Unix path: drive D: for DATA, Wine's Z: for the rest.
winpath() {
    case "$1" in
    "$DATA"/*) printf 'D:%s' "${1#"$DATA"}" | tr / '\\' ;;
    *) printf 'Z:%s' "$1" | tr / '\\' ;;
    esac
}

# (Debian's Python: its zipfile takes the entries' UTF-8 names as they are.)
unpack_zip() { /usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$1" "$2"; }

# The names of the windows on the screen, for a failure to show.
windows_shown() {
    echo "windows on the screen:"
    timeout 10 xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | sed 's/^/  /'
}

svodar_start() {
    wine "$1/svodar.exe" > "$WORK/gui.log" 2>&1 &
    GUI_PID=$!
    WID=
}

svodar_window() {
    WID=$(timeout 60 xdotool search --sync --onlyvisible --name '^Сводарь 1\.2$' 2>/dev/null | head -n 1 || true)
    [ -n "$WID" ] && return 0
    echo "no window \"Сводарь 1.2\" after 60 s"
    windows_shown
    echo "its output:"
    cat "$WORK/gui.log"
    return 1
}

# clipboard_holds TEXT: waits up to 5 s for the clipboard to hold TEXT; what
# it held last is in $WORK/clip.
clipboard_holds() {
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        timeout 5 xclip -selection clipboard -o > "$WORK/clip" 2>/dev/null || : > "$WORK/clip"
        [ "$(cat "$WORK/clip")" = "$1" ] && return 0
        sleep 0.5
    done
    return 1
}

# type_into X Y TEXT: clicks the field at X,Y in the window and enters TEXT,
# then reads the field back, up to five times; each retry is noted in
# $WORK/retries. It goes through the clipboard: Wine loses Cyrillic letters
# typed by xdotool. Wine notices a new clipboard in the background, and a window
# that has only just appeared may miss a click: a paste can bring the previous
# text, or nothing.
type_into() {
    wine_try=0
    for wine_pause in 0.3 0.6 1 2 4; do
        wine_try=$((wine_try + 1))
        xdotool mousemove --window "$WID" "$1" "$2" click 1
        printf '%s' "$3" | xclip -selection clipboard -i
        sleep "$wine_pause"
        xdotool key ctrl+a ctrl+v
        sleep 0.5
        # Copy the field over other clipboard text: only a copy that took
        # place can bring TEXT back.
        printf '(nothing copied)' | xclip -selection clipboard -i
        sleep 0.5
        xdotool key ctrl+a ctrl+c
        if clipboard_holds "$3"; then
            xdotool key End
            return 0
        fi
        echo "try $wine_try: the field at $1,$2 holds \"$(cat "$WORK/clip")\", not \"$3\"" | tee -a "$WORK/retries"
    done
    return 1
}

# svodar_fill OKPO INPUT OUTPUT: the OKPO code, the folder of the reports and
# the folder for the summed reports, at their places in the window.
svodar_fill() {
    [ -n "$WID" ] || { echo "no window"; return 1; }
    type_into 115 30 "$1" || return 1
    type_into 115 70 "$2" || return 1
    type_into 115 110 "$3" || return 1
}

svodar_box() {
    wine_box=$(timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
    if [ -z "$wine_box" ]; then
        echo "no box \"$1\" after 60 s"
        windows_shown
        return 1
    fi
    # Close the box with Enter; a key that comes before the box has the focus
    # is lost, so try again until it is gone.
    for _ in $(seq 30); do
        xdotool mousemove --window "$wine_box" 10 10 click 1 key Return 2>/dev/null || true
        sleep 1
        timeout 10 xdotool search --onlyvisible --name "^$1\$" > /dev/null 2>&1 || return 0
    done
    echo "the box \"$1\" is still open after 30 times Enter"
    windows_shown
    return 1
}

svodar_close() {
    [ -n "$WID" ] || { echo "no window"; return 1; }
    # Without a window manager there is no close button: taskkill without /f
    # sends the window WM_CLOSE, as the button would.
    timeout 60 wine taskkill /im svodar.exe > "$WORK/taskkill.log" 2>&1 || true
    wine_status=0
    if ! timeout 30 sh -c "while kill -0 $GUI_PID 2>/dev/null; do sleep 0.2; done"; then
        echo "still running 30 s after taskkill, which said:"
        cat "$WORK/taskkill.log"
        windows_shown
        return 1
    fi
    wait "$GUI_PID" || wine_status=$?
    echo "exit $wine_status"
    [ "$wine_status" -eq 0 ]
}
