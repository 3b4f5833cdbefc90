#!/bin/sh
# Packs the staged files of the Windows zip into a Windows Installer package
# with wixl (msitools): per-machine into Program Files\Svodar, a Start menu
# shortcut, an entry in Programs and Features, major upgrades.
#
#   tools/windows/msi.sh FILES VERSION OUT.msi
#
# FILES is the folder the zip holds (svodar.exe and the rest), VERSION three
# numbers. The icon is rendered from packaging/icons/svodar.svg. Needs wixl,
# msitools, librsvg2-bin and icoutils (tools/windows/build.sh installs them).
set -eu

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
HERE=$ROOT/tools/windows
[ $# -eq 3 ] || { echo "usage: $0 FILES VERSION OUT.msi" >&2; exit 64; }
FILES=$(cd "$1" && pwd)
VERSION=$2
OUT=$3

WORK=$(mktemp -d "${TMPDIR:-/tmp}/svodar-msi.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# The icon in the sizes Windows asks for; 256 is kept as PNG, as Windows
# stores it.
for size in 16 24 32 48 64 128 256; do
    rsvg-convert --width=$size --height=$size --output="$WORK/icon-$size.png" \
        "$ROOT/packaging/icons/svodar.svg"
done
(cd "$WORK" && icotool --create --output=svodar.ico icon-16.png icon-24.png icon-32.png \
    icon-48.png icon-64.png icon-128.png --raw=icon-256.png)

# wixl takes Source paths relative to the folder it runs in.
ln -s "$FILES" "$WORK/files"
cd "$WORK"
/usr/bin/python3 "$HERE/wxs.py" files "$VERSION" svodar.ico svodar.wxs
# Without the Russian language wixl drops every Cyrillic name silently.
export WINDOWS_LANGUAGE=ru
wixl --arch x64 --output svodar.msi svodar.wxs

# wixl writes the code page into the summary only; the database's own stays
# 0, and a system with another ANSI code page would show the Cyrillic names
# garbled. Give the database code page 1251.
printf '\r\n\r\n1251\t_ForceCodepage\r\n' > _ForceCodepage.idt
msibuild svodar.msi -i _ForceCodepage.idt

# A rebuild of the same version replaces the installed one too, rather than
# standing beside it as a second product: the upgrade search includes its
# upper bound (msidbUpgradeAttributesVersionMaxInclusive, 512), which wixl's
# MajorUpgrade does not offer.
msiinfo export svodar.msi Upgrade > Upgrade.idt
awk -F '\t' -v OFS='\t' 'NR > 3 && $7 ~ /^WIX_UPGRADE_DETECTED/ { $5 = $5 + 512 } { print }' \
    Upgrade.idt > Upgrade.new.idt
mv Upgrade.new.idt Upgrade.idt
msibuild svodar.msi -i Upgrade.idt

cd - > /dev/null
mv "$WORK/svodar.msi" "$OUT.tmp"
mv "$OUT.tmp" "$OUT"
