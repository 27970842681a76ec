#!/usr/bin/python3
"""msi.py OUT VERSION ARCH IMAGE: a per-machine Windows Installer package of
one image (ARCH x86, x64 or arm64) that installs it to Program Files\\sessionend
and appends that folder to the system PATH, made with wixl and finished with
libmsi. The same inputs and SOURCE_DATE_EPOCH give the same bytes.

msi.py codes NAME VERSION: the product and upgrade codes of the packages
NAME-ARCH.msi of VERSION, as CSV.
"""
import csv
import hashlib
import io
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import uuid

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

# One product across architectures and versions: any package replaces
# whichever one is installed. Every other code derives from it.
UPGRADE_CODE = uuid.UUID("6b1d8f0e-3c52-4c8e-9e0a-6f5c2d7b1a90")
UPGRADE = "{" + str(UPGRADE_CODE).upper() + "}"
# The Manufacturer, which Add/Remove Programs shows as the publisher.
PUBLISHER = "The sessionend developers"
# wixl's target, the Program Files folder, the summary's template and page
# count (the Windows Installer version it needs: x64 needs 2.0, Arm64 5.0).
ARCHES = {"x86": ("x86", "ProgramFilesFolder", "Intel;1033", 200),
          "x64": ("x64", "ProgramFiles64Folder", "x64;1033", 200),
          "arm64": ("x64", "ProgramFiles64Folder", "Arm64;1033", 500)}
NIL = "{00000000-0000-0000-0000-000000000000}"

WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{product}" Name="sessionend" Language="1033" Version="{version}" Manufacturer="{publisher}"
           UpgradeCode="{upgrade}">
    <Package InstallerVersion="{pages}" Compressed="yes" InstallScope="perMachine"/>
    <MajorUpgrade DowngradeErrorMessage="A newer version of sessionend is already installed."/>
    <Media Id="1" Cabinet="sessionend.cab" EmbedCab="yes"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="{folder}">
        <Directory Id="INSTALLDIR" Name="sessionend">
          <Component Id="Program" Guid="{component}" Win64="{win64}">
            <File Id="sessionend.exe" Name="sessionend.exe" Source="sessionend.exe" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Program"/></Feature>
  </Product>
</Wix>
"""

# What wixl cannot say: the system PATH gains the folder on install and loses
# it on removal ('=' set, '-' remove, '*' the system's, not the installing
# account's; [~]; appends); the same version of another architecture is
# replaced too (513: migrate features, maximum version inclusive); the file
# and the folder have short names, which a machine with SHORTFILENAMES uses;
# Add/Remove Programs learns the folder once costing has resolved it (51:
# set a property). ICE61 warns that the Upgrade row's maximum takes in this
# package's own version: accepted, since that same version of another
# architecture is another product, and it must go too.
# A wixl that knows the Environment table (Debian 13's) has made it empty.
ENVIRONMENT_TABLE = ("CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL "
                     "LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY "
                     "`Environment`)")
FINISH = [
    "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) "
    "VALUES ('PATH', '=-*PATH', '[~];[INSTALLDIR]', 'Program')",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)",
    "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'",
    "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) "
    "VALUES ('{upgrade}', '{version}', 513, 'WIX_UPGRADE_DETECTED')",
    "UPDATE `File` SET `FileName` = 'SESSEND.EXE|sessionend.exe' WHERE `File` = 'sessionend.exe'",
    "UPDATE `Directory` SET `DefaultDir` = 'SESSEND|sessionend' WHERE `Directory` = 'INSTALLDIR'",
    "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
    "VALUES ('SetInstallLocation', 51, 'ARPINSTALLLOCATION', '[INSTALLDIR]')",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('SetInstallLocation', 1001)",
]


def run(database, sql):
    """Runs one statement; returns the first column of the rows it gives."""
    query = Libmsi.Query.new(database, sql)
    query.execute(None)
    rows = []
    while sql.startswith("SELECT") and (record := query.fetch()) is not None:
        rows.append(record.get_string(1))
    query.close()
    return rows


def code(*what):
    return "{" + str(uuid.uuid5(UPGRADE_CODE, " ".join(what))).upper() + "}"


def summarise(path, template=None, pages=None, package_code=NIL):
    """The summary's template, page count, package code and dates."""
    database = Libmsi.Database.new(str(path), Libmsi.DbFlags.TRANSACT, None)
    summary = Libmsi.SummaryInfo.new(database, 10)
    # FILETIME: 100 ns steps since 1601.
    date = (int(os.environ["SOURCE_DATE_EPOCH"]) + 11644473600) * 10**7
    summary.set_filetime(Libmsi.Property.CREATED_TM, date)
    summary.set_filetime(Libmsi.Property.LASTSAVED_TM, date)
    summary.set_string(Libmsi.Property.UUID, package_code)
    if template:
        summary.set_string(Libmsi.Property.TEMPLATE, template)
        summary.set_int(Libmsi.Property.VERSION, pages)
    summary.persist()
    return database


def build(out, version, arch, image):
    target, folder, template, pages = ARCHES[arch]
    with tempfile.TemporaryDirectory(prefix="sessionend-msi-") as scratch:
        work = pathlib.Path(scratch)
        staged = work / "sessionend.exe"
        shutil.copyfile(image, staged)
        # The cabinet keeps each file's time, in local time.
        epoch = int(os.environ["SOURCE_DATE_EPOCH"])
        os.utime(staged, (epoch, epoch))
        # The x64 and ARM64 components install the same path under codes of
        # their own, which the component rules forbid between products that
        # coexist. These never do: RemoveExistingProducts runs before
        # InstallInitialize, so the old product and its component are gone
        # before this one's are registered.
        (work / "sessionend.wxs").write_text(WXS.format(
            product=code("product", version, arch), version=version, upgrade=UPGRADE, publisher=PUBLISHER,
            pages=pages, folder=folder, component=code("component", arch), win64="no" if arch == "x86" else "yes"))
        subprocess.run(["wixl", "-a", target, "-o", "package.msi", "sessionend.wxs"], cwd=work, check=True,
                       env=dict(os.environ, TZ="UTC"))
        database = summarise(work / "package.msi", template, pages)
        if not run(database, "SELECT `Name` FROM `_Tables` WHERE `Name` = 'Environment'"):
            run(database, ENVIRONMENT_TABLE)
        for sql in FINISH:
            run(database, sql.format(upgrade=UPGRADE, version=version))
        database.commit()
        # The package code names these bytes, as they are before it is set.
        digest = hashlib.sha256((work / "package.msi").read_bytes()).hexdigest()
        summarise(work / "package.msi", package_code=code("package", digest)).commit()
        shutil.copyfile(work / "package.msi", out)


def codes(name, version):
    """The table that deployment tools' detection rules are written from:
    each package's product code, and the upgrade code that they share."""
    out = io.StringIO()
    table = csv.writer(out)
    table.writerow(["Package", "Architecture", "ProductVersion", "ProductCode", "UpgradeCode"])
    table.writerows([f"{name}-{arch}.msi", arch, version, code("product", version, arch), UPGRADE] for arch in ARCHES)
    return out.getvalue()


if __name__ == "__main__":
    if sys.argv[1] == "codes":
        sys.stdout.write(codes(*sys.argv[2:]))
    else:
        build(*sys.argv[1:])
