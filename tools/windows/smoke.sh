#!/bin/sh
# Tries the Windows zip the way a user would, under Wine on a virtual X server:
# unpacks it into a fresh folder, checks what it holds, sums the sample reports
# with svodar-cli.exe and with the window of svodar.exe, and compares the
# results with the Linux build's. It writes nothing into the work tree.
#
#   tools/windows/smoke.sh ZIP LINUX_SVODAR_CLI
#
# Prints one line per check (what a failing one saw indented below it) and
# "N passed, M failed"; exits 1 when a check failed. Needs what
# tools/windows/wine.sh needs, and python3-pefile (tools/dev.sh windows sets
# them up).
# shellcheck disable=SC2317 # the functions below run through check
set -eu

SCRIPT=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tools/lib.sh
. "$ROOT/tools/lib.sh"
# shellcheck source=tools/windows/wine.sh
. "$ROOT/tools/windows/wine.sh"
[ $# -eq 2 ] || { echo "usage: $0 ZIP LINUX_SVODAR_CLI" >&2; exit 64; }
ZIP=$(readlink -f "$1")
REF_CLI=$(readlink -f "$2")
wine_display "$SCRIPT" "$ZIP" "$REF_CLI"

# Debian's Python, which has python3-pefile.
PY=/usr/bin/python3
WORK=$(mktemp -d "${TMPDIR:-/tmp}/svodar-smoke.XXXXXX")
CHECK_LOG="$WORK/check.log"
wine_setup
# A run that ends before finish (a command failing under set -e, a signal)
# says so and where, instead of ending without a word.
STEP="setting up"
cleanup() {
    status=$?
    [ "$FINISHED" = 1 ] || echo "FAILED the test ended early (exit $status) after: $STEP"
    wine_end
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Turns LF into CR LF.
crlf() { sed 's/$/\r/' "$1"; }
# wine_run OUT ERR PROGRAM ARGS...: runs a Windows program, sets RC.
wine_run() {
    out=$1 err=$2
    shift 2
    RC=0
    timeout 60 wine "$@" > "$out" 2> "$err" < /dev/null || RC=$?
}

# Same files with the same bytes as the Linux build's, its LF as CR LF.
same_as_linux() {
    (cd "$1" && ls) > "$WORK/names.win"
    (cd "$2" && ls) > "$WORK/names.linux"
    diff "$WORK/names.linux" "$WORK/names.win" || return 1
    [ -s "$WORK/names.linux" ] || { echo "no summed files"; return 1; }
    while IFS= read -r f; do
        if ! crlf "$2/$f" | cmp -s - "$1/$f"; then
            echo "$f differs from the Linux build's (< Linux, > Windows):"
            crlf "$2/$f" | diff - "$1/$f" | tr -d '\r' | head -n 12
            return 1
        fi
    done < "$WORK/names.linux"
}

# --- the zip -------------------------------------------------------------
APP_PARENT="$WORK/Программы"
mkdir -p "$APP_PARENT"
check "the zip unpacks" unpack_zip "$ZIP" "$APP_PARENT"
APP=$(find "$APP_PARENT" -mindepth 1 -maxdepth 1 -type d | head -n 1)
[ -n "$APP" ] || { fail "the zip holds one folder"; finish; }

has_files() {
    for f in svodar.exe svodar-cli.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libexpat-1.dll \
             libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll platforms/qwindows.dll \
             styles/qwindowsvistastyle.dll translations/qtbase_ru.qm ПРОЧТИ.txt LICENSE.txt licenses/Qt-LGPL-3.0.txt \
             licenses/Qt-SOURCE.txt licenses/expat-COPYING.txt \
             licenses/MinGW-GCC-runtime-copyright.txt licenses/MinGW-w64-runtime-copyright.txt; do
        [ -s "$APP/$f" ] || { echo "missing: $f"; return 1; }
    done
}
check "the zip holds the programs, DLLs, plugins, licences and ПРОЧТИ.txt" has_files

licences_right() {
    head -n 3 "$APP/LICENSE.txt" | grep -q "^Copyright (c) 2026 Svodar developers" &&
        grep -q "^MIT License" "$APP/LICENSE.txt" &&
        grep -q "GNU LESSER GENERAL PUBLIC LICENSE" "$APP/licenses/Qt-LGPL-3.0.txt" &&
        grep -q "apt-get source qt6-base=" "$APP/licenses/Qt-SOURCE.txt" &&
        grep -q "Permission is hereby granted" "$APP/licenses/expat-COPYING.txt" &&
        grep -q "GCC Runtime Library Exception" "$APP/licenses/MinGW-GCC-runtime-copyright.txt"
}
check "the licences are those of Svodar (MIT), Qt (LGPL-3.0), expat and the MinGW runtime" licences_right

readme_right() {
    "$PY" - "$APP/ПРОЧТИ.txt" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
assert data.startswith(b"\xef\xbb\xbf"), "no byte order mark"
text = data[3:].decode("utf-8")
assert text.count("\n") == text.count("\r\n") > 5, "not CR LF throughout"
assert "svodar.exe" in text and "svodar-cli.exe" in text and "Старт!" in text
EOF
}
check "ПРОЧТИ.txt is Russian in UTF-8 with BOM and CR LF" readme_right

# The PE headers of a program or DLL, in English whatever the locale.
objdump_p() { LC_ALL=C x86_64-w64-mingw32-objdump -p "$1"; }
subsystems() {
    objdump_p "$APP/svodar.exe" | grep -q '^Subsystem.*(Windows GUI)' &&
        objdump_p "$APP/svodar-cli.exe" | grep -q '^Subsystem.*(Windows CUI)'
}
check "svodar.exe is a GUI program, svodar-cli.exe a console program" subsystems

# DLLs that every Windows 10 has; anything else must be in the zip.
SYSTEM_DLLS='^(kernel32|user32|gdi32|shell32|advapi32|ole32|oleaut32|ws2_32|imm32|winmm|uxtheme|dwmapi|version|shlwapi|userenv|netapi32|mpr|comdlg32|crypt32|comctl32|shcore|setupapi|wtsapi32|authz|bcrypt|d2d1|d3d9|d3d11|d3d12|d3dcompiler_47|dxgi|dwrite|msvcrt|ntdll|secur32|rpcrt4|api-ms-win-[a-z0-9-]+)\.dll$'
dll_closure() {
    ls "$APP" | tr 'A-Z' 'a-z' > "$WORK/shipped"
    status=0
    for f in $(cd "$APP" && find . -name '*.exe' -o -name '*.dll'); do
        imports=$(objdump_p "$APP/$f" | sed -n 's/^[[:space:]]*DLL Name: //p')
        [ -n "$imports" ] || { echo "$f: no imports found"; status=1; }
        for dll in $imports; do
            low=$(echo "$dll" | tr 'A-Z' 'a-z')
            if ! grep -qxF "$low" "$WORK/shipped" && ! echo "$low" | grep -Eq "$SYSTEM_DLLS"; then
                echo "$f needs $dll, which is neither shipped nor part of Windows"
                status=1
            fi
        done
    done
    return "$status"
}
check "every DLL the programs and plugins load is shipped or part of Windows 10" dll_closure

version_resource() {
    "$PY" - "$APP/svodar.exe" <<'EOF'
import sys, pefile
pe = pefile.PE(sys.argv[1])
fixed = pe.VS_FIXEDFILEINFO[0]
assert (fixed.FileVersionMS, fixed.FileVersionLS) == (0x00010000, 0), "file version not 1.0.0.0"
assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x00010000, 0), "product version not 1.0.0.0"
assert fixed.FileOS == 4, "FileOS %d, not 32-bit Windows" % fixed.FileOS
tables = [t for fi in pe.FileInfo[0] if fi.Key == b"StringFileInfo" for t in fi.StringTable]
assert [t.LangID for t in tables] == [b"040904b0"], "string tables %r" % [t.LangID for t in tables]
entries = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
expected = {"CompanyName": "", "FileDescription": "", "FileVersion": "1.0.0.0",
            "LegalCopyright": "", "OriginalFilename": "svodar.exe", "ProductName": "Svodar"}
assert entries == expected, "entries %r" % entries
types = [e.id for e in pe.DIRECTORY_ENTRY_RESOURCE.entries]
assert 3 not in types and 14 not in types, "svodar.exe has an icon"
EOF
}
check "svodar.exe carries the version resource 1.0.0.0, 040904b0, ProductName Svodar" version_resource

# --- svodar-cli.exe ----------------------------------------------------
CLI="$APP/svodar-cli.exe"
STEP="making the Wine prefix"
wine_boot

cli_version() {
    wine_run "$WORK/out" "$WORK/err" "$CLI" --version
    [ "$RC" -eq 0 ] && printf 'svodar-cli %s\r\n' "$(echo "$ZIP" | sed 's/.*svodar-\(.*\)-win64\.zip/\1/')" | cmp - "$WORK/out"
}
check "svodar-cli.exe --version prints its version, exit 0" cli_version

cli_help_redirected() {
    wine_run "$WORK/out" "$WORK/err" "$CLI" --help
    [ "$RC" -eq 0 ] && grep -q "Код ОКПО головной организации\.$(printf '\r')\$" "$WORK/out" && [ ! -s "$WORK/err" ]
}
check "svodar-cli.exe --help into a pipe is UTF-8 with CR LF, exit 0" cli_help_redirected

# Qt's own words of the help come from translations/qtbase_ru.qm beside it.
cli_help_russian() {
    wine_run "$WORK/out" "$WORK/err" "$CLI" --help
    [ "$RC" -eq 0 ] && grep -q "^Использование:" "$WORK/out" && grep -q "^Параметры:" "$WORK/out" &&
        ! grep -Eq "Usage:|Options:|Arguments:|Displays" "$WORK/out"
}
check "svodar-cli.exe --help has Qt's own headings in Russian, no \"Usage:\"" cli_help_russian

# On a terminal Wine gives the program a console (with code page 866 here);
# the Russian text must come out readable all the same.
cli_help_console() {
    RC=0
    timeout 60 script -qec "wine '$CLI' --help" /dev/null > "$WORK/tty" 2>&1 < /dev/null || RC=$?
    # Wine's console draws with escape sequences; the text is what is left.
    sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$WORK/tty" > "$WORK/tty.text"
    [ "$RC" -eq 0 ] && grep -q 'Код ОКПО головной организации' "$WORK/tty.text" &&
        grep -q 'Папка с отчетами' "$WORK/tty.text"
}
check "svodar-cli.exe --help in a console is readable Russian" cli_help_console

# The sample reports, in folders with Cyrillic names.
IN="$DATA/Отчёты за квартал/входящие"
OUT="$DATA/Отчёты за квартал/Сводные"
mkdir -p "$IN"
cp "$ROOT"/examples/reports/*.xml "$IN/"
"$REF_CLI" --okpo 12345678 "$IN" "$WORK/linux-summed" > /dev/null

cli_sums() {
    wine_run "$WORK/out" "$WORK/err" "$CLI" --okpo 12345678 "$(winpath "$IN")" "$(winpath "$OUT")"
    echo "exit $RC"; cat "$WORK/err"
    [ "$RC" -eq 0 ] && [ ! -s "$WORK/err" ] &&
        printf 'Отчеты были успешно просуммированны\r\n' | cmp - "$WORK/out"
}
check "svodar-cli.exe sums a folder with a Cyrillic name: exit 0 and its message" cli_sums
check "its summed reports equal the Linux build's, with CR LF line ends" same_as_linux "$OUT" "$WORK/linux-summed"

# The workbook, where this svodar-cli.exe has the option: a Cyrillic name
# reaches libxlsxwriter as UTF-8, which only its patched MinGW build takes.
workbook_licences() {
    grep -q "Redistribution and use in source and binary forms" "$APP/licenses/libxlsxwriter-License.txt" &&
        grep -q "Jean-loup Gailly and Mark Adler" "$APP/licenses/zlib-copyright.txt"
}
check "the zip holds the licences of libxlsxwriter and zlib" workbook_licences

cli_workbook() {
    book="$DATA/Отчёты за квартал/Сводка.xlsx"
    wine_run "$WORK/out" "$WORK/err" "$CLI" --okpo 12345678 --workbook "$(winpath "$book")" \
        "$(winpath "$IN")" "$(winpath "$WORK/Сводные-книга")"
    echo "exit $RC"; cat "$WORK/err"
    [ "$RC" -eq 0 ] || return 1
    [ -f "$book" ] || { echo "no Сводка.xlsx; in its folder:"; ls "$(dirname "$book")"; return 1; }
    "$PY" - "$book" <<'EOF'
import sys, zipfile
import xml.etree.ElementTree as ET
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None, "a damaged entry"
ns = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
sheets = [s.get("name") for s in ET.fromstring(z.read("xl/workbook.xml")).iter(ns + "sheet")]
print("sheets: %s" % ", ".join(sheets))
assert sheets[:3] == ["Реестр", "Пропущенные значения", "Предупреждения"]
EOF
}
wine_run "$WORK/out" "$WORK/err" "$CLI" --help
if grep -q -- '--workbook' "$WORK/out"; then
    check "svodar-cli.exe --workbook writes Сводка.xlsx in a Cyrillic folder, a workbook with its three sheets" cli_workbook
fi

# One report in other Cyrillic encodings: Windows decodes them, not Qt.
ENC="$WORK/Кодировки"
mkdir -p "$ENC"
for enc in KOI8-R CP866 ISO-8859-5 windows-1251; do
    # (without the signs « » № that not all of them have)
    sed "1s/encoding=\"UTF-8\"/encoding=\"$enc\"/; s/[«»]//g; s/№/N/g" \
        "$ROOT/examples/reports/02145678_0601012_2014_3.xml" |
        iconv -f UTF-8 -t "$enc" > "$ENC/$enc.xml"
done
cli_encodings() {
    "$REF_CLI" --okpo 1 "$ENC" "$WORK/linux-enc" > /dev/null
    wine_run "$WORK/out" "$WORK/err" "$CLI" --okpo 1 "$(winpath "$ENC")" "$(winpath "$WORK/Сводные-enc")"
    echo "exit $RC"; cat "$WORK/err"
    [ "$RC" -eq 0 ] && same_as_linux "$WORK/Сводные-enc" "$WORK/linux-enc"
}
check "svodar-cli.exe reads KOI8-R, CP866, ISO-8859-5 and windows-1251 reports as the Linux build does" cli_encodings

BAD="$WORK/Отчёты с ошибкой"
mkdir -p "$BAD"
cp "$ROOT"/examples/reports/*.xml "$BAD/"
printf '<report>\n<a></b></report>\n' > "$BAD/испорченный.xml"
cli_read_error() {
    RC=0
    "$REF_CLI" --okpo 1 "$BAD" "$WORK/linux-bad" > /dev/null 2> "$WORK/linux-err" || RC=$?
    [ "$RC" -eq 1 ] || { echo "Linux exit $RC"; return 1; }
    wine_run "$WORK/out" "$WORK/err" "$CLI" --okpo 1 "$(winpath "$BAD")" "$(winpath "$WORK/Сводные-2")"
    echo "exit $RC"; cat "$WORK/err"
    [ "$RC" -eq 1 ] && [ ! -s "$WORK/out" ] && [ ! -e "$WORK/Сводные-2" ] &&
        grep -q '^Ошибка чтения: Не удалось прочитать файл испорченный.xml' "$WORK/err" &&
        crlf "$WORK/linux-err" | cmp - "$WORK/err"
}
check "svodar-cli.exe on a malformed report: exit 1, the Linux build's message, nothing written" cli_read_error

# --- svodar.exe --------------------------------------------------------
GUI_OUT="$DATA/Отчёты за квартал/Сводные из окна"
STEP="setting the dialog font"
wine_dialog_font

STEP="starting svodar.exe"
svodar_start "$APP"
check "svodar.exe shows its window" svodar_window

gui_sums() {
    svodar_fill 12345678 "$(winpath "$IN")" "$(winpath "$GUI_OUT")" || return 1
    sleep 0.5
    xdotool mousemove --window "$WID" 159 141 click 1
    svodar_box "Всё хорошо" || return 1
    same_as_linux "$GUI_OUT" "$WORK/linux-summed"
}
check "svodar.exe: the three fields filled, \"Старт!\" shows \"Всё хорошо\" and writes the Linux build's reports" gui_sums
[ ! -s "$WORK/retries" ] || sed 's/^/       (retried) /' "$WORK/retries"

# A folder that takes a while: the sample reports, each under many names
# (hard links, no disk).
BIG="$DATA/Отчёты за год"
STOP_OUT="$DATA/Сводные за год"
"$PY" - "$ROOT/examples/reports" "$BIG" <<'EOF'
import os, sys
source, folder = sys.argv[1], sys.argv[2]
os.makedirs(folder, exist_ok=True)
for i in range(3000):
    for name in sorted(os.listdir(source)):
        if name.endswith(".xml"):
            os.link(os.path.join(source, name), os.path.join(folder, "%04d_%s" % (i, name)))
EOF
gui_stops() {
    [ -n "$WID" ] || { echo "no window"; return 1; }
    type_into 115 70 "$(winpath "$BIG")" || return 1
    type_into 115 110 "$(winpath "$STOP_OUT")" || return 1
    sleep 0.5
    xdotool mousemove --window "$WID" 159 141 click 1
    # The button now reads "Остановить": pressed while the run goes on, it
    # stops the run.
    sleep 2
    xdotool mousemove --window "$WID" 159 141 click 1
    svodar_box "Остановлено" || return 1
    # Nothing, or only whole summed reports.
    for f in "$STOP_OUT"/* "$STOP_OUT"/.[!.]*; do
        [ -e "$f" ] || continue
        case "$f" in
        *.xml) tail -c 12 "$f" | grep -q '</report>' || { echo "not whole: $f"; return 1; } ;;
        *) echo "left behind: $f"; return 1 ;;
        esac
    done
}
check "svodar.exe: \"Остановить\" during a run of 21,000 reports shows \"Остановлено\" and leaves only whole files" gui_stops

check "svodar.exe ends with exit 0 when its window is closed" svodar_close
finish
