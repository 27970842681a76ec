#!/usr/bin/python3
"""The Windows Installer packages under Wine's msiexec, each case in a
throwaway prefix of its own: installing per machine, the system PATH, an
upgrade and a refused downgrade, removal; from the x86 tree, what crosses
architectures. Packages are made here from the built images, as the release
makes them.
"""
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

import winelab
from e2e import ARCH, EXE, TEMPLATE, launcher_fails

MSI = pathlib.Path(os.environ["SESSIONEND_MSI_SCRIPT"])
OTHERS = {arch: pathlib.Path(os.environ[f"SESSIONEND_{arch.upper()}_EXE"]) for arch in ("x64", "arm64")
          if f"SESSIONEND_{arch.upper()}_EXE" in os.environ}
ENVIRONMENT = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"
INSTALLER = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Installer"
UNINSTALL = r"Microsoft\Windows\CurrentVersion\Uninstall"
# What msiexec returns: success, a fatal error (a refused downgrade), a
# package this platform does not support.
SUCCESS, FATAL, UNSUPPORTED = 0, 1603, 1633


def package(arch, image, version="1.0.0"):
    out = pathlib.Path(tempfile.mkdtemp(dir=winelab.SCRATCH)) / f"sessionend-{version}-{arch}.msi"
    subprocess.run([sys.executable, MSI, out, version, arch, image], check=True,
                   env=dict(os.environ, SOURCE_DATE_EPOCH="1700000000"))
    export = subprocess.run(["msiinfo", "export", out, "Property"], capture_output=True, text=True, check=True)
    return out, dict(line.split("\t", 1) for line in export.stdout.splitlines()[3:])


def packed(guid):
    """A GUID as Windows Installer's registry keys spell it."""
    h = guid.strip("{}").replace("-", "")
    return h[7::-1] + h[11:7:-1] + h[15:11:-1] + "".join(h[i + 1] + h[i] for i in range(16, 32, 2))


def msiexec(prefix, action, msi, *properties):
    """msiexec's whole status, read by cmd (a Linux parent sees its low byte)
    from a batch file, where cmd waits for it: quotes in wine's arguments
    reach cmd escaped, and Wine 10's start passes on none."""
    batch = prefix.path / "drive_c" / "msiexec.cmd"
    batch.write_text(f"@msiexec {action} {winelab.windows_path(msi)} /qn {' '.join(properties)}\r\n"
                     "@echo status %errorlevel%\r\n")
    out = prefix.run(["cmd", "/c", r"C:\msiexec.cmd"], output=True).stdout
    return int(re.search(r"status (\d+)", out).group(1))


def registry(prefix, key, value=None):
    """The values of a key in the native view, or None where it is missing."""
    out = prefix.run(["reg", "query", key, *(["/v", value] if value else []), "/reg:64"], output=True).stdout
    if "HKEY_" not in out:
        return None
    return dict(re.findall(r"^    (\S+)    REG_\w+    ?(.*?)\r?$", out, re.MULTILINE))


def add_remove_programs(prefix, properties, view=""):
    """What Add/Remove Programs shows of a product: its publisher, its folder
    and whether it offers no Change (view: Wow6432Node\\ for a 32-bit one)."""
    entry = registry(prefix, rf"HKLM\Software\{view}{UNINSTALL}\{properties['ProductCode']}") or {}
    return entry.get("Publisher"), entry.get("InstallLocation"), entry.get("NoModify")


def system_path(prefix):
    """The entries of the system PATH (Wine leaves empty ones behind)."""
    return [entry for entry in registry(prefix, ENVIRONMENT, "PATH")["PATH"].split(";") if entry]


class Installed:
    """What a package left in a prefix, as the test sees it."""

    def __init__(self, prefix, upgrade_code):
        self.products = registry(prefix, rf"{INSTALLER}\UpgradeCodes\{packed(upgrade_code)}") or {}
        self.path = system_path(prefix)
        self.folders = {name: sorted(p.name for p in (prefix.path / "drive_c" / name / "sessionend").glob("*"))
                        for name in ("Program Files", "Program Files (x86)")}


def check_refused(test, prefix, before, arch):
    """msiexec refuses the package of arch and leaves nothing of it."""
    msi, properties = package(arch, OTHERS[arch])
    test.assertEqual(msiexec(prefix, "/i", msi), UNSUPPORTED)
    now = Installed(prefix, properties["UpgradeCode"])
    test.assertEqual((now.products, now.path, now.folders),
                     ({}, before, {"Program Files": [], "Program Files (x86)": []}))


class Packages(unittest.TestCase):
    def setUp(self):
        self.prefix = winelab.Prefix(None if ARCH == "x86" else TEMPLATE, winearch="win32" if ARCH == "x86" else None)
        self.addCleanup(self.prefix.remove)
        self.before = system_path(self.prefix)
        self.msi, self.properties = package(ARCH, EXE)
        self.upgrade_code = self.properties["UpgradeCode"]
        self.folder = r"C:\Program Files\sessionend" + "\\"
        self.files = self.prefix.path / "drive_c" / "Program Files" / "sessionend"

    def installed(self):
        return Installed(self.prefix, self.upgrade_code)

    def test_install_find_by_path_remove(self):
        self.assertEqual(msiexec(self.prefix, "/i", self.msi), SUCCESS)
        now = self.installed()
        self.assertEqual(list(now.products), [packed(self.properties["ProductCode"])])
        self.assertIsNotNone(registry(self.prefix, rf"{INSTALLER}\UserData\S-1-5-18\Products\{list(now.products)[0]}"),
                             "not registered per machine")
        self.assertEqual((self.files / "sessionend.exe").read_bytes(), EXE.read_bytes())
        self.assertEqual(add_remove_programs(self.prefix, self.properties),
                         (self.properties["Manufacturer"], self.folder, "0x1"))
        self.assertEqual(now.path, self.before + [self.folder])
        # A fresh session takes its environment from the registry.
        self.prefix.stop()
        found = self.prefix.run(["cmd", "/c", "for %I in (sessionend.exe) do @echo [%~$PATH:I]"], output=True).stdout
        self.assertIn(f"[{self.folder}sessionend.exe]", found)
        self.assertEqual(msiexec(self.prefix, "/x", self.msi), SUCCESS)
        now = self.installed()
        self.assertEqual((now.products, now.path, self.files.exists()), ({}, self.before, False))

    def test_upgrade_replaces_and_downgrade_is_refused(self):
        newer, properties = package(ARCH, EXE, "1.0.1")
        self.assertEqual(msiexec(self.prefix, "/i", self.msi), SUCCESS)
        self.assertEqual(msiexec(self.prefix, "/i", newer), SUCCESS)
        upgraded = self.installed()
        code = properties["ProductCode"]
        self.assertEqual(list(upgraded.products), [packed(code)])
        self.assertEqual(registry(self.prefix, rf"HKLM\Software\{UNINSTALL}\{code}",
                                  "DisplayVersion"), {"DisplayVersion": "1.0.1"})
        self.assertEqual((upgraded.path, sorted(p.name for p in self.files.iterdir())),
                         (self.before + [self.folder], ["sessionend.exe"]))
        self.assertEqual(msiexec(self.prefix, "/i", self.msi), FATAL)
        self.assertEqual(vars(self.installed()), vars(upgraded))

    if ARCH == "x64":
        def test_install_into_a_folder_of_ones_own(self):
            # As winget's --location does, through the manifest's switch.
            chosen = r"C:\Chosen Tools\sessionend"
            self.assertEqual(msiexec(self.prefix, "/i", self.msi, f'INSTALLDIR="{chosen}"'), SUCCESS)
            installed = self.prefix.path / "drive_c" / "Chosen Tools" / "sessionend" / "sessionend.exe"
            self.assertEqual((installed.read_bytes(), self.files.exists(), system_path(self.prefix),
                              add_remove_programs(self.prefix, self.properties)[1]),
                             (EXE.read_bytes(), False, self.before + [chosen + "\\"], chosen + "\\"))

    if ARCH == "x86" and "x64" in OTHERS:
        def test_an_x64_package_is_refused_on_32_bit_wine(self):
            check_refused(self, self.prefix, self.before, "x64")


@unittest.skipUnless(OTHERS, "the packages of other architectures are the x86 tree's")
class AcrossArchitectures(unittest.TestCase):
    """On 64-bit Wine, whose prefixes are the host's: where the x86 image has
    a 32-bit Wine of its own, the template is that Wine's, so they boot."""

    def prefix(self):
        template = TEMPLATE if "#arch=win64" in (TEMPLATE / "system.reg").read_text() else None
        prefix = winelab.Prefix(template, winearch=None if template else "win64")
        self.addCleanup(prefix.remove)
        return prefix, system_path(prefix)

    def test_x64_replaces_x86_on_64_bit_wine(self):
        prefix, before = self.prefix()
        (x86, x86_properties), (x64, properties) = package("x86", EXE), package("x64", OTHERS["x64"])
        self.assertEqual(msiexec(prefix, "/i", x86), SUCCESS)
        self.assertEqual(Installed(prefix, properties["UpgradeCode"]).folders,
                         {"Program Files": [], "Program Files (x86)": ["sessionend.exe"]})
        self.assertEqual(add_remove_programs(prefix, x86_properties, "Wow6432Node\\")[1],
                         r"C:\Program Files (x86)\sessionend" + "\\")
        self.assertEqual(msiexec(prefix, "/i", x64), SUCCESS)
        now = Installed(prefix, properties["UpgradeCode"])
        self.assertEqual((list(now.products), now.path, now.folders),
                         ([packed(properties["ProductCode"])], before + [r"C:\Program Files\sessionend" + "\\"],
                          {"Program Files": ["sessionend.exe"], "Program Files (x86)": []}))

    def test_an_arm64_package_is_refused(self):
        # arm64 Wine takes x64 packages too: only x64 Wine refuses an ARM64
        # package that still says x64.
        check_refused(self, *self.prefix(), "arm64")


if __name__ == "__main__":
    if sys.argv[-1] == "AcrossArchitectures":
        winelab.require_wine("x64")
    else:
        winelab.require_wine(ARCH, launcher_fails)
    unittest.main()
