#!/bin/sh
# Tries the Windows Installer package the way an IT department uses it, under
# Wine in a fresh prefix whose ANSI code page is not Cyrillic (1252): a silent
# install, the installed files against the zip's, the Start menu shortcut, the
# command line on the sample reports, the entry in Programs and Features, an
# upgrade to a higher version (packed here from the zip's files), the refusal
# of the older package, and a silent uninstall that leaves nothing behind.
#
#   tools/windows/msi-test.sh MSI ZIP LINUX_SVODAR_CLI
#
# Prints one line per check (what a failing one saw indented below it) and
# "N passed, M failed"; exits 1 when a check failed.
# shellcheck disable=SC2317 # the functions below run through check
set -eu

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tools/lib.sh
. "$ROOT/tools/lib.sh"
[ $# -eq 3 ] || { echo "usage: $0 MSI ZIP LINUX_SVODAR_CLI" >&2; exit 64; }
MSI=$(readlink -f "$1")
ZIP=$(readlink -f "$2")
REF_CLI=$(readlink -f "$3")
VERSION=$(basename "$MSI" | sed 's/^svodar-\(.*\)-win64\.msi$/\1/')

PY=/usr/bin/python3
# (a folder name without "svodar": the last check looks for that word)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/msi-test.XXXXXX")
# No desktop files from winemenubuilder in the home folder.
export WINEPREFIX="$WORK/wine" WINEARCH=win64 WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

CHECK_LOG="$WORK/check.log"

PROGRAM_FILES="$WORK/wine/drive_c/Program Files"
INSTALLED="$PROGRAM_FILES/Svodar"
UPGRADE_CODE=$(sed -n 's/^UPGRADE_CODE = "\(.*\)"$/\1/p' "$ROOT/tools/windows/wxs.py")

# run_msiexec ACTION MSI: a silent install (/i) or uninstall (/x); sets RC. Wine
# cuts exit codes to 8 bits: 1603 (fatal error) reads 67.
run_msiexec() {
    RC=0
    timeout 180 wine msiexec "$1" "$(winepath -w "$2")" /qn /l*v "$(winepath -w "$WORK/msiexec.log")" \
        > /dev/null 2>&1 < /dev/null || RC=$?
    wineserver -w
}

# The Programs and Features entries of Svodar's publisher, one line each:
# name | version | publisher | install location | NoModify.
entries() {
    rm -f "$WORK/uninstall.reg"
    wine reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
        "$(winepath -w "$WORK/uninstall.reg")" /y > /dev/null 2>&1 || true
    [ -f "$WORK/uninstall.reg" ] || return 0
    "$PY" - "$WORK/uninstall.reg" <<'EOF'
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-16").replace("\r\n", "\n")
for key in re.split(r"\n(?=\[)", text):
    values = {k: v.replace("\\\\", "\\") for k, v in
              re.findall(r'^"([^"]+)"="?(.*?)"?$', key, re.M)}
    if values.get("Publisher") == "Svodar developers":
        print(" | ".join(values.get(k, "-") for k in
                         ("DisplayName", "DisplayVersion", "Publisher", "InstallLocation", "NoModify")))
EOF
}

# --- the package itself --------------------------------------------------
tables_right() {
    # (msiinfo writes the streams of a table it exports, the icon's too, into
    # a folder in the current one)
    cd "$WORK"
    "$PY" - "$MSI" <<'EOF'
import subprocess, sys
def table(name):
    out = subprocess.run(["msiinfo", "export", sys.argv[1], name], check=True,
                         capture_output=True).stdout
    return [l.split(b"\t") for l in out.split(b"\r\n")[3:] if l]
codepage = subprocess.run(["msiinfo", "export", sys.argv[1], "_ForceCodepage"],
                          capture_output=True).stdout.split(b"\r\n")[2].split(b"\t")[0]
assert codepage == b"1251", "database code page %r" % codepage
properties = {r[0].decode(): r[1].decode("utf-8") for r in table("Property")}
name = properties["ProductName"]
assert name == "Сводарь", "ProductName %r" % name
assert properties.get("ARPNOMODIFY") == "1", "ARPNOMODIFY %r" % properties.get("ARPNOMODIFY")
icon = properties.get("ARPPRODUCTICON")
assert icon and [icon.encode()] == [r[0] for r in table("Icon")], "ARPPRODUCTICON %r" % icon
files = [r[2].decode("utf-8") for r in table("File")]
assert "ПРОЧТИ.txt" in files, "file names %r" % files
wide = [r[0] for r in table("Component") if int(r[3]) & 256 == 0]
assert not wide, "components not 64-bit: %r" % wide
shortcut = table("Shortcut")
assert len(shortcut) == 1 and shortcut[0][2].decode("utf-8") == "Сводарь", shortcut
assert shortcut[0][4].startswith(b"[#"), "advertised shortcut %r" % shortcut[0][4]
message = [r[1].decode("utf-8") for r in table("LaunchCondition")]
assert any("более новая версия" in m for m in message), "downgrade message %r" % message
print("ProductName %s, %d files, shortcut %s" % (name, len(files), shortcut[0][4].decode()))
EOF
    status=$?
    cd - > /dev/null
    return "$status"
}
check "the package: Cyrillic names in code page 1251, 64-bit components, a shortcut to a file, the icon, no modify, a Russian message for downgrades" tables_right

# --- install -------------------------------------------------------------
timeout 120 wine wineboot -i > "$WORK/wineboot.log" 2>&1 || true
wineserver -w

installs() {
    run_msiexec /i "$MSI"
    echo "exit $RC"
    [ "$RC" -eq 0 ]
}
check "msiexec /i $(basename "$MSI") /qn exits 0" installs

# Same names, same bytes, nothing else.
same_as_zip() {
    "$PY" - "$ZIP" "$INSTALLED" <<'EOF'
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
top = z.namelist()[0].split("/")[0] + "/"
zipped = {n[len(top):]: z.read(n) for n in z.namelist() if not n.endswith("/")}
installed = {}
for folder, _, files in os.walk(sys.argv[2]):
    for f in files:
        path = os.path.join(folder, f)
        installed[os.path.relpath(path, sys.argv[2])] = open(path, "rb").read()
missing = sorted(set(zipped) - set(installed))
extra = sorted(set(installed) - set(zipped))
differ = sorted(n for n in set(zipped) & set(installed) if zipped[n] != installed[n])
print("%d files in the zip, %d installed" % (len(zipped), len(installed)))
assert not (missing or extra or differ), "missing %r, extra %r, different %r" % (missing, extra, differ)
EOF
}
check "the files in Program Files\\Svodar equal the zip's, byte for byte" same_as_zip

# Wine puts a per-machine shortcut into the user's Start menu folder.
shortcut_file() {
    find "$WORK/wine/drive_c/ProgramData/Microsoft/Windows/Start Menu" \
        "$WORK/wine/drive_c/users" -name 'Сводарь.lnk' 2>/dev/null | head -n 1
}
shortcut_right() {
    lnk=$(shortcut_file)
    [ -n "$lnk" ] || { echo "no Сводарь.lnk in a Start menu folder"; return 1; }
    "$PY" - "$lnk" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
flags = struct.unpack_from("<I", data, 0x14)[0]
pos = 0x4C
if flags & 0x01:                       # a target ID list
    pos += 2 + struct.unpack_from("<H", data, pos)[0]
target = None
if flags & 0x02:                       # link info: the local base path
    size, _, _, _, base = struct.unpack_from("<5I", data, pos)
    target = data[pos + base:data.index(b"\0", pos + base)].decode("cp1252")
    pos += size
strings = []
for bit in (0x04, 0x08, 0x10, 0x20, 0x40):  # name, relative path, folder, arguments, icon
    if flags & bit:
        count = struct.unpack_from("<H", data, pos)[0]
        text = data[pos + 2:pos + 2 + 2 * count].decode("utf-16-le")
        strings.append((bit, text.rstrip("\0")))
        pos += 2 + 2 * count
folder, icon = dict(strings).get(0x10), dict(strings).get(0x40)
print("target %s, working folder %s, icon %s" % (target, folder, icon))
assert target == r"C:\Program Files\Svodar\svodar.exe"
assert folder.rstrip("\\") == r"C:\Program Files\Svodar"
assert icon and icon.endswith(r"\svodar.ico")
EOF
}
check "the Start menu shortcut \"Сводарь\" points at svodar.exe, working folder the install folder, Svodar's icon" shortcut_right

# The sample reports in a folder with a Cyrillic name, summed by the
# installed svodar-cli.exe, against the Linux build's with CR LF.
IN="$WORK/Отчёты/входящие"
OUT="$WORK/Отчёты/Сводные"
mkdir -p "$IN"
cp "$ROOT"/examples/reports/*.xml "$IN/"
"$REF_CLI" --okpo 12345678 "$IN" "$WORK/linux-summed" > /dev/null
installed_cli_sums() {
    RC=0
    timeout 60 wine "$INSTALLED/svodar-cli.exe" --okpo 12345678 "$(winepath -w "$IN")" \
        "$(winepath -w "$OUT")" > "$WORK/out" 2> "$WORK/err" < /dev/null || RC=$?
    echo "exit $RC"; cat "$WORK/err"
    [ "$RC" -eq 0 ] || return 1
    (cd "$WORK/linux-summed" && ls) > "$WORK/names.linux"
    (cd "$OUT" && ls) | diff "$WORK/names.linux" - || return 1
    [ -s "$WORK/names.linux" ] || { echo "no summed files"; return 1; }
    while IFS= read -r f; do
        sed 's/$/\r/' "$WORK/linux-summed/$f" | cmp - "$OUT/$f" || return 1
    done < "$WORK/names.linux"
}
check "the installed svodar-cli.exe sums the samples in a Cyrillic folder to the Linux build's bytes, CR LF" installed_cli_sums

# one_entry VERSION
one_entry() {
    entries > "$WORK/entries"
    cat "$WORK/entries"
    [ -s "$WORK/entries" ] || echo "no entry of Svodar developers"
    printf 'Сводарь | %s | Svodar developers | C:\\Program Files\\Svodar\\ | dword:00000001\n' "$1" |
        cmp -s - "$WORK/entries"
}
check "one entry in Programs and Features: Сводарь, $VERSION, Svodar developers, the folder, no modify" one_entry "$VERSION"

# --- upgrade -------------------------------------------------------------
# The zip's files again, packed as the next version.
NEXT=$(echo "$VERSION" | awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }')
"$PY" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$ZIP" "$WORK/next"
"$ROOT/tools/windows/msi.sh" "$(find "$WORK/next" -mindepth 1 -maxdepth 1 -type d)" "$NEXT" \
    "$WORK/svodar-$NEXT-win64.msi" > "$WORK/msi-next.log" 2>&1
upgrades() {
    run_msiexec /i "$WORK/svodar-$NEXT-win64.msi"
    echo "exit $RC"
    [ "$RC" -eq 0 ] && one_entry "$NEXT" && same_as_zip
}
check "the package of $NEXT upgrades it: exit 0, one entry of $NEXT, the same files" upgrades

downgrade_refused() {
    run_msiexec /i "$MSI"
    echo "exit $RC"
    # 1603 cut to 8 bits
    [ "$RC" -eq 67 ] && one_entry "$NEXT"
}
check "$(basename "$MSI") over $NEXT is refused (1603, read 67), the entry of $NEXT stays" downgrade_refused

# --- uninstall -----------------------------------------------------------
uninstalls() {
    run_msiexec /x "$WORK/svodar-$NEXT-win64.msi"
    echo "exit $RC"
    [ "$RC" -eq 0 ]
}
check "msiexec /x /qn exits 0" uninstalls

# Nothing of ours: no folder, shortcut, cached package or icon, and no
# registry value or key that names Svodar or its UpgradeCode (also as
# Windows Installer packs it).
nothing_left() {
    status=0
    [ ! -e "$INSTALLED" ] || { echo "left: $INSTALLED"; status=1; }
    lnk=$(shortcut_file)
    [ -z "$lnk" ] || { echo "left: $lnk"; status=1; }
    # Every file left in the Windows Installer cache (an installed package
    # keeps a copy and its icon there).
    left=$(find "$WORK/wine/drive_c/windows/Installer" -type f 2>/dev/null)
    [ -z "$left" ] || { echo "left: $left"; status=1; }
    packed=$(echo "$UPGRADE_CODE" | "$PY" -c '
import sys
g = sys.stdin.read().strip().replace("-", "")
parts = [g[0:8], g[8:12], g[12:16]] + [g[i:i + 2] for i in range(16, 32, 2)]
print("".join(p[::-1] for p in parts))')
    # Wine keeps the registry in these files; non-ASCII as \xNNNN.
    for word in Svodar "$UPGRADE_CODE" "$packed" '\x421\x432\x43e\x434\x430\x440\x44c'; do
        if grep -i -F -n -- "$word" "$WORK/wine/system.reg" "$WORK/wine/user.reg"; then status=1; fi
    done
    return "$status"
}
check "the uninstall leaves no file, shortcut or registry entry of Svodar" nothing_left

finish
