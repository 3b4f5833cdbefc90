#!/usr/bin/python3
"""Writes the wixl source of Svodar's Windows Installer package.

    wxs.py FILES VERSION ICON OUT

FILES is the folder whose files the package installs into Program Files\\Svodar
(the staged files of the zip), VERSION the product version (three numbers),
ICON the .ico for the Start menu shortcut and Programs and Features. The paths
in OUT are relative: FILES and ICON are named as given, so wixl must run in
the folder they are relative to.

Every Id and GUID follows from a file's path, so two runs over the same files
give the same text, and a component keeps its GUID from one version to the
next. Only the product and package codes are new on each build (wixl makes
them), which makes every build a major upgrade of the one before.
"""
import hashlib
import os
import re
import sys
import uuid
from xml.sax.saxutils import quoteattr

# Never change: Windows Installer knows every version of Svodar by it.
UPGRADE_CODE = "199D3237-D4B2-446F-96DF-B9A1D224FDFF"
NAME = "Сводарь"
MANUFACTURER = "Svodar developers"
DOWNGRADE_MESSAGE = ("Уже установлена более новая версия программы «Сводарь». "
                     "Чтобы установить эту версию, сначала удалите установленную.")
SHORTCUT_TARGET = "svodar.exe"


def ident(prefix, relpath):
    """An Id from a path: readable where it can be, unique by a hash."""
    plain = re.sub(r"[^A-Za-z0-9]", "_", relpath)[:40]
    digest = hashlib.sha1(relpath.encode("utf-8")).hexdigest()[:8]
    return "%s_%s_%s" % (prefix, plain, digest)


def guid(relpath):
    return str(uuid.uuid5(uuid.UUID(UPGRADE_CODE), relpath)).upper()


def attrs(**values):
    return " ".join("%s=%s" % (k, quoteattr(v)) for k, v in values.items())


def main():
    files_dir, version, icon, out = sys.argv[1:5]
    if not re.fullmatch(r"\d+\.\d+\.\d+", version):
        sys.exit("%s: version %r is not three numbers" % (sys.argv[0], version))

    lines = []
    components = []

    def emit(depth, text):
        lines.append("  " * depth + text)

    def walk(rel, depth):
        folder = os.path.join(files_dir, rel)
        entries = sorted(os.listdir(folder))
        for name in entries:
            path = os.path.join(rel, name) if rel else name
            if os.path.isdir(os.path.join(files_dir, path)):
                continue
            comp = ident("C", path)
            components.append(comp)
            emit(depth, "<Component %s>" % attrs(Id=comp, Guid=guid(path), Win64="yes"))
            file_id = ident("F", path)
            emit(depth + 1, "<File %s/>" % attrs(Id=file_id, Name=name,
                                                    Source=os.path.join(files_dir, path),
                                                    KeyPath="yes"))
            if path == SHORTCUT_TARGET:
                # An explicit target keeps the shortcut from being advertised.
                emit(depth + 1, "<Shortcut %s/>" % attrs(
                    Id="StartMenuShortcut", Directory="ProgramMenuFolder", Name=NAME,
                    Target="[#%s]" % file_id, WorkingDirectory="INSTALLDIR",
                    Icon="svodar.ico", IconIndex="0"))
            emit(depth, "</Component>")
        for name in entries:
            path = os.path.join(rel, name) if rel else name
            if not os.path.isdir(os.path.join(files_dir, path)):
                continue
            emit(depth, "<Directory %s>" % attrs(Id=ident("D", path), Name=name))
            walk(path, depth + 1)
            emit(depth, "</Directory>")

    if not os.path.isfile(os.path.join(files_dir, SHORTCUT_TARGET)):
        sys.exit("%s: no %s in %s" % (sys.argv[0], SHORTCUT_TARGET, files_dir))

    emit(0, '<?xml version="1.0" encoding="utf-8"?>')
    emit(0, '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">')
    emit(1, "<Product %s>" % attrs(Id="*", Name=NAME, Language="1049", Codepage="1251",
                                   Version=version, Manufacturer=MANUFACTURER,
                                   UpgradeCode=UPGRADE_CODE))
    emit(2, "<Package %s/>" % attrs(InstallerVersion="500", Compressed="yes",
                                    InstallScope="perMachine",
                                    Languages="1049", SummaryCodepage="1251",
                                    Manufacturer=MANUFACTURER,
                                    Description="%s %s" % (NAME, version)))
    emit(2, "<MajorUpgrade %s/>" % attrs(DowngradeErrorMessage=DOWNGRADE_MESSAGE))
    emit(2, "<Media %s/>" % attrs(Id="1", Cabinet="svodar.cab", EmbedCab="yes"))
    emit(2, "<Icon %s/>" % attrs(Id="svodar.ico", SourceFile=icon))
    emit(2, "<Property %s/>" % attrs(Id="ARPPRODUCTICON", Value="svodar.ico"))
    emit(2, "<Property %s/>" % attrs(Id="ARPNOMODIFY", Value="1"))
    # Programs and Features shows the folder; INSTALLDIR is known once the
    # costs are final (CostFinalize is 1000).
    emit(2, "<CustomAction %s/>" % attrs(Id="SetInstallLocation", Property="ARPINSTALLLOCATION",
                                         Value="[INSTALLDIR]"))
    emit(2, "<InstallExecuteSequence>")
    emit(3, "<Custom %s/>" % attrs(Action="SetInstallLocation", Sequence="1001"))
    emit(2, "</InstallExecuteSequence>")
    emit(2, '<Directory Id="TARGETDIR" Name="SourceDir">')
    emit(3, '<Directory Id="ProgramMenuFolder"/>')
    emit(3, '<Directory Id="ProgramFiles64Folder">')
    emit(4, '<Directory Id="INSTALLDIR" Name="Svodar">')
    walk("", 5)
    emit(4, "</Directory>")
    emit(3, "</Directory>")
    emit(2, "</Directory>")
    emit(2, '<Feature Id="Svodar" Level="1">')
    for comp in components:
        emit(3, "<ComponentRef %s/>" % attrs(Id=comp))
    emit(2, "</Feature>")
    emit(1, "</Product>")
    emit(0, "</Wix>")

    tmp = out + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
