#!/usr/bin/python3
"""manifests.py FOLDER ZIP VERSION DESCRIPTION: beside the release's packages
in FOLDER, winget's and Scoop's manifests for the ZIP and the three Windows
Installer packages, as published under SESSIONEND_RELEASE_URL (an https
folder). The project's home page is SESSIONEND_HOMEPAGE, or else that folder.
The same files and SOURCE_DATE_EPOCH give the same bytes.
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


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def write_yaml(path, manifest):
    schema = f"https://aka.ms/winget-manifest.{manifest['ManifestType']}.{MANIFEST_VERSION}.schema.json"
    manifest["ManifestVersion"] = MANIFEST_VERSION
    path.write_text(f"# yaml-language-server: $schema={schema}\n"
                    + yaml.safe_dump(manifest, sort_keys=False, allow_unicode=True))


def main(folder, archive, version, description):
    folder, archive = pathlib.Path(folder), pathlib.Path(archive)
    base = os.environ["SESSIONEND_RELEASE_URL"].rstrip("/")
    if not base.startswith("https://"):
        sys.exit(f"SESSIONEND_RELEASE_URL must be an https address, not {base}")
    homepage = os.environ.get("SESSIONEND_HOMEPAGE") or base
    released = datetime.datetime.fromtimestamp(int(os.environ["SOURCE_DATE_EPOCH"]), datetime.timezone.utc)
    package = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version}

    # A plain `winget install` takes, of the machine's best architecture, the
    # entry listed first: the package for the machine.
    installers = []
    for arch in ARCHES:
        msi = folder / f"{archive.stem}-{arch}.msi"
        installers.append({"Architecture": arch, "InstallerType": "msi", "Scope": "machine",
                           "InstallerUrl": f"{base}/{msi.name}", "InstallerSha256": sha256(msi).upper(),
                           "ProductCode": code("product", version, arch), "UpgradeBehavior": "install",
                           "AppsAndFeaturesEntries": [{"UpgradeCode": UPGRADE}]})
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
                "ManifestType": "defaultLocale"})
    write_yaml(winget / f"{IDENTIFIER}.installer.yaml",
               {**package, "ReleaseDate": released.strftime("%Y-%m-%d"), "Installers": installers,
                "ManifestType": "installer"})

    scoop = {"version": version, "description": description, "homepage": homepage, "license": LICENSE,
             "url": f"{base}/{archive.name}", "hash": sha256(archive),
             "architecture": {name: {"bin": f"{arch}\\sessionend.exe"} for arch, name in ARCHES.items()}}
    (folder / "sessionend.json").write_text(json.dumps(scoop, indent=4) + "\n")


if __name__ == "__main__":
    main(*sys.argv[1:])
