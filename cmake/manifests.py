#!/usr/bin/python3
"""manifests.py FOLDER ZIP VERSION DESCRIPTION: beside the release's packages
in FOLDER, winget's and Scoop's manifests for the ZIP and the three Windows
Installer packages, as published under SESSIONEND_RELEASE_URL (an https
folder whose address holds the version), for the project's home page
SESSIONEND_HOMEPAGE. The same files and SOURCE_DATE_EPOCH give the same bytes.

manifests.py check VERSION: only says, in one line and with status 1, why
those two addresses cannot make manifests for VERSION.
"""
import datetime
import hashlib
import json
import os
import pathlib
import sys

import yaml

from msi import PUBLISHER, UPGRADE, code

IDENTIFIER = "sessionend.sessionend"
MANIFEST_VERSION = "1.12.0"
LOCALE = "en-US"
LICENSE = "MIT"
# winget's and Scoop's names of each image's architecture.
ARCHES = {"x64": "64bit", "x86": "32bit", "arm64": "arm64"}
# Both package managers start nothing after installing, but their reviewers
# and users do, often with no argument.
NOTE = ("Started with no number, sessionend logs the current user off at once, so always give it one "
        "(1 shuts down, 2 reboots, 8 powers off).")
TAGS = ["shutdown", "logoff", "reboot", "power-off", "session", "exitwindowsex", "command-line"]
# winget passes TARGETDIR by default, but the packages install to INSTALLDIR.
INSTALL_LOCATION = 'INSTALLDIR="<INSTALLPATH>"'


def addresses(version):
    """The release folder and the home page, or exits saying why not: the
    next release's address is this one's with its version replaced, and a
    home page outlives the versioned folder."""
    base = os.environ.get("SESSIONEND_RELEASE_URL", "").rstrip("/")
    homepage = os.environ.get("SESSIONEND_HOMEPAGE", "")
    if not base.startswith("https://"):
        sys.exit(f"SESSIONEND_RELEASE_URL must be an https address, not {base or 'empty'}; nothing was built.")
    if version not in base:
        sys.exit(f"SESSIONEND_RELEASE_URL {base} must hold the version, {version}; nothing was built.")
    if not homepage.startswith("https://") or homepage.startswith(base):
        sys.exit(f"Manifests need SESSIONEND_HOMEPAGE, the project's https home page outside {base}, "
                 f"not {homepage or 'empty'}; nothing was built.")
    return base, homepage


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def write_yaml(path, manifest):
    schema = f"https://aka.ms/winget-manifest.{manifest['ManifestType']}.{MANIFEST_VERSION}.schema.json"
    manifest["ManifestVersion"] = MANIFEST_VERSION
    path.write_text(f"# yaml-language-server: $schema={schema}\n"
                    + yaml.safe_dump(manifest, sort_keys=False, allow_unicode=True))


def main(folder, archive, version, description):
    folder, archive = pathlib.Path(folder), pathlib.Path(archive)
    base, homepage = addresses(version)
    released = datetime.datetime.fromtimestamp(int(os.environ["SOURCE_DATE_EPOCH"]), datetime.timezone.utc)
    package = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version}

    # A plain `winget install` takes, of the machine's best architecture, the
    # entry listed first: the package for the machine.
    installers = []
    for arch in ARCHES:
        msi = folder / f"{archive.stem}-{arch}.msi"
        product = code("product", version, arch)
        installers.append({"Architecture": arch, "InstallerType": "msi", "Scope": "machine",
                           "InstallerUrl": f"{base}/{msi.name}", "InstallerSha256": sha256(msi).upper(),
                           "InstallerSwitches": {"InstallLocation": INSTALL_LOCATION},
                           "ProductCode": product, "UpgradeBehavior": "install",
                           "AppsAndFeaturesEntries": [{"ProductCode": product, "UpgradeCode": UPGRADE}],
                           "ElevationRequirement": "elevationRequired"})
    for arch in ARCHES:
        installers.append({"Architecture": arch, "InstallerType": "zip", "NestedInstallerType": "portable",
                           "NestedInstallerFiles": [{"RelativeFilePath": f"{arch}\\sessionend.exe",
                                                     "PortableCommandAlias": "sessionend"}],
                           "InstallerUrl": f"{base}/{archive.name}", "InstallerSha256": sha256(archive).upper()})

    # winget's community repository keeps each version in a folder of its own.
    winget = folder.joinpath("manifests", IDENTIFIER[0].lower(), *IDENTIFIER.split("."), version)
    winget.mkdir(parents=True, exist_ok=True)
    write_yaml(winget / f"{IDENTIFIER}.yaml",
               {**package, "DefaultLocale": LOCALE, "ManifestType": "version"})
    write_yaml(winget / f"{IDENTIFIER}.locale.{LOCALE}.yaml",
               {**package, "PackageLocale": LOCALE, "Publisher": PUBLISHER, "PackageName": "sessionend",
                "PackageUrl": homepage, "License": LICENSE, "ShortDescription": description,
                "Moniker": "sessionend", "Tags": TAGS, "InstallationNotes": NOTE, "ManifestType": "defaultLocale"})
    write_yaml(winget / f"{IDENTIFIER}.installer.yaml",
               {**package, "ReleaseDate": released.strftime("%Y-%m-%d"), "Installers": installers,
                "ManifestType": "installer"})

    # A bucket's maintainer moves the manifest on with Scoop's checkver: the
    # home page links the newest ZIP, and its folder holds the SHA256SUMS.
    zip_pattern = archive.name.replace(version, "$version")
    scoop = {"version": version, "description": description, "homepage": homepage, "license": LICENSE,
             "notes": NOTE, "url": f"{base}/{archive.name}", "hash": sha256(archive),
             "architecture": {name: {"bin": f"{arch}\\sessionend.exe"} for arch, name in ARCHES.items()},
             "checkver": {"url": homepage, "regex": zip_pattern.replace(".", r"\.").replace("$version", r"([\d.]+)")},
             "autoupdate": {"url": f"{base.replace(version, '$version')}/{zip_pattern}",
                            "hash": {"url": "$baseurl/SHA256SUMS", "regex": r"$sha256\s+$basename"}}}
    # Scoop's own bucket tests require CRLF.
    (folder / "sessionend.json").write_bytes((json.dumps(scoop, indent=4) + "\n").replace("\n", "\r\n").encode())


if __name__ == "__main__":
    if sys.argv[1] == "check":
        addresses(sys.argv[2])
    else:
        main(*sys.argv[1:])
