#!/usr/bin/python3
"""package_check.py CPACK_CONFIG ARCH=IMAGE...: makes the unsigned release
in a scratch directory and checks what the ZIP holds, that the checksums in
it and beside it verify, and what only the Windows Installer packages' own
tables say: one upgrade code, a product and a package code of each package's
own, the template that each architecture needs, short names for the file and
its folder, a publisher, and no Change in Add/Remove Programs. With a release
URL of its own, then checks winget's and Scoop's manifests against those
files, and against their published schemas where SESSIONEND_MANIFEST_SCHEMAS
is a folder. A certificate named in the environment is ignored: the images
must be the built ones."""
import csv
import hashlib
import io
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

import gi
import jsonschema
import pefile
import yaml

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

# The summary's template and page count (the Windows Installer version)
# that each architecture's package needs.
TEMPLATES = {"x86": ("Intel;1033", 200), "x64": ("x64;1033", 200), "arm64": ("Arm64;1033", 500)}
# A FileName or DefaultDir with an 8.3 name before the long one.
SHORT_AND_LONG = re.compile(r"[A-Z0-9_-]{1,8}(\.[A-Z0-9_-]{1,3})?\|[^|]+")
URL, HOMEPAGE, MANIFEST_VERSION = ("https://downloads.example.org/sessionend/1.0.0/", "https://example.org/sessionend/",
                                   "1.12.0")
MACHINES = {0x14C: "x86", 0x8664: "x64", 0xAA64: "arm64"}
SCOOP_ARCHES = {"32bit": "x86", "64bit": "x64", "arm64": "arm64"}
SCHEMAS = pathlib.Path(os.environ.get("SESSIONEND_MANIFEST_SCHEMAS", "/nonexistent"))


class Loader(yaml.SafeLoader):
    """Dates stay strings, as the schemas have them."""


Loader.add_constructor("tag:yaml.org,2002:timestamp", Loader.construct_yaml_str)

config = pathlib.Path(sys.argv[1])
built = {f"{arch}/sessionend.exe": pathlib.Path(path) for arch, path in (a.split("=", 1) for a in sys.argv[2:])}
EXPECTED = set(built) | {"README.md", "LICENSE", "SHA256SUMS"}

with tempfile.TemporaryDirectory(prefix="sessionend-package-") as scratch:
    env = {k: v for k, v in os.environ.items() if not k.startswith("SESSIONEND_SIGN_")}
    env.update(SESSIONEND_RELEASE_URL=URL, SESSIONEND_HOMEPAGE=HOMEPAGE)
    subprocess.run(["cpack", "--config", config, "-B", scratch], env=env, check=True, stdout=subprocess.DEVNULL)
    (archive,) = pathlib.Path(scratch).glob("*.zip")
    with zipfile.ZipFile(archive) as package:
        names = {n for n in package.namelist() if not n.endswith("/")}
        contents = {n: package.read(n) for n in names}
    beside = {f.name: f.read_bytes() for f in pathlib.Path(scratch).iterdir() if f.is_file()}
    winget = {f.relative_to(scratch): f.read_text() for f in pathlib.Path(scratch).glob("manifests/**/*.yaml")}
    packages, names_installed, folders, sequences = {}, {}, {}, {}
    for arch in TEMPLATES:
        database = Libmsi.Database.new(str(archive).replace(".zip", f"-{arch}.msi"), Libmsi.DbFlags.READONLY, None)
        summary = Libmsi.SummaryInfo.new(database, 0)

        def rows(sql, columns=2):
            query = Libmsi.Query.new(database, sql)
            query.execute(None)
            while (record := query.fetch()) is not None:
                yield tuple(record.get_string(i) for i in range(1, columns + 1))

        properties = dict(rows("SELECT `Property`, `Value` FROM `Property`"))
        packages[arch] = (summary.get_string(Libmsi.Property.TEMPLATE), summary.get_int(Libmsi.Property.VERSION),
                          summary.get_string(Libmsi.Property.UUID), properties)
        names_installed[arch] = [*rows("SELECT `FileName` FROM `File`", 1),
                                 *rows("SELECT `DefaultDir` FROM `Directory` WHERE `Directory` = 'INSTALLDIR'", 1)]
        sequences[arch] = [a for (a,) in rows("SELECT `Action` FROM `InstallExecuteSequence` ORDER BY `Sequence`", 1)]
        (folders[arch],) = next(rows("SELECT `Directory_` FROM `Component`", 1))
    # The next version's manifests, of files of its own.
    second, version = pathlib.Path(scratch, "second"), packages["x64"][3]["ProductVersion"]
    second.mkdir()
    for name, data in [("sessionend-1.0.1.zip", b"next"), *((f"sessionend-1.0.1-{a}.msi", a.encode()) for a in TEMPLATES)]:
        (second / name).write_bytes(data)
    next_sums = "".join(f"{hashlib.sha256(f.read_bytes()).hexdigest()}  {f.name}\n" for f in sorted(second.iterdir()))
    subprocess.run([sys.executable, pathlib.Path(__file__).parents[2] / "cmake" / "manifests.py", second,
                    second / "sessionend-1.0.1.zip", "1.0.1", "next"], check=True,
                   env=dict(env, SESSIONEND_RELEASE_URL=URL.replace(version, "1.0.1"), SOURCE_DATE_EPOCH="0"))
    next_scoop = json.loads((second / "sessionend.json").read_text())


def sums(text):
    return dict(reversed(line.split("  ", 1)) for line in text.decode().splitlines())


listed, listed_beside = sums(contents.get("SHA256SUMS", b"")), sums(beside.get("SHA256SUMS", b""))
# (what holds, what it says when it does not): the file list, the list of
# checksums, then each image, as built and as its checksum says.
checks = [(names == EXPECTED, f"the ZIP holds {sorted(names)}"),
          (set(listed) == set(built), f"SHA256SUMS lists {sorted(listed)}")]
for name, image in built.items():
    checks.append((contents.get(name) == image.read_bytes(), f"{name} is not the built {image}"))
    checks.append((hashlib.sha256(contents.get(name, b"")).hexdigest() == listed.get(name),
                   f"{name} does not match its checksum"))
checks.append((set(listed_beside) | {"SHA256SUMS", "sessionend.json"} == set(beside) and len(beside) == 7,
               f"beside the ZIP: {sorted(beside)}, SHA256SUMS lists {sorted(listed_beside)}"))
checks += [(hashlib.sha256(beside.get(name, b"")).hexdigest() == digest, f"{name} does not match its checksum")
           for name, digest in listed_beside.items()]
codes = [(p["UpgradeCode"], p["ProductCode"], code) for _, _, code, p in packages.values()]
checks.append((len({c[0] for c in codes}) == 1 and len({c[1] for c in codes}) == len({c[2] for c in codes}) == 3,
               f"upgrade, product and package codes: {codes}"))
checks += [(packages[arch][:2] == wanted, f"{arch}: template and page count {packages[arch][:2]}, want {wanted}")
           for arch, wanted in TEMPLATES.items()]
codes_published = list(csv.DictReader(io.StringIO(beside.get(archive.name.replace(".zip", "-codes.csv"), b"").decode())))
checks.append(([(c["Package"], c["ProductVersion"], c["ProductCode"], c["UpgradeCode"]) for c in codes_published] ==
               [(archive.name.replace(".zip", f"-{arch}.msi"), p["ProductVersion"], p["ProductCode"], p["UpgradeCode"])
                for arch, (_, _, _, p) in packages.items()], f"the published codes: {codes_published}"))
for arch, (_, _, _, properties) in packages.items():
    named = names_installed[arch]
    # The old product is gone before this one registers its components.
    order = [a for a in sequences[arch] if a in ("RemoveExistingProducts", "InstallInitialize")]
    checks.append((order == ["RemoveExistingProducts", "InstallInitialize"], f"{arch}: sequence {order}"))
    checks.append((len(named) == 2 and all(SHORT_AND_LONG.fullmatch(n) for (n,) in named),
                   f"{arch}: file and folder names {named} lack a short name"))
    checks.append((properties.get("ARPNOMODIFY") == "1", f"{arch}: Add/Remove Programs offers Change"))


def published(url, digest):
    """Whether url is the release's address of a file beside the ZIP, and
    digest that file's SHA-256."""
    name = url.rsplit("/", 1)[-1]
    return url == URL + name and digest.lower() == hashlib.sha256(beside.get(name, b"")).hexdigest()


def machine(path):
    """The architecture of the image at this Windows path in the ZIP."""
    image = contents.get(path.replace("\\", "/"))
    return image and MACHINES.get(pefile.PE(data=image, fast_load=True).FILE_HEADER.Machine)


# winget's three files, by type, each where winget's repository keeps it and
# beginning with the schema line of its type.
docs = {}
for path, text in winget.items():
    doc = yaml.load(text, Loader)
    docs[doc["ManifestType"]] = doc
    identifier, kind = doc["PackageIdentifier"], doc["ManifestType"]
    name = identifier + {"version": "", "installer": ".installer"}.get(kind, f".locale.{doc.get('PackageLocale')}")
    checks.append((path == pathlib.Path("manifests", identifier[0].lower(), *identifier.split("."), version,
                                        name + ".yaml"), f"{path} is not where winget keeps a {kind} manifest"))
    schema = f"https://aka.ms/winget-manifest.{kind}.{MANIFEST_VERSION}.schema.json"
    checks.append((text.startswith(f"# yaml-language-server: $schema={schema}\n"), f"{path}: no $schema={schema}"))
identities = {(d["PackageIdentifier"], d["PackageVersion"], d["ManifestVersion"]) for d in docs.values()}
checks += [(sorted(docs) == ["defaultLocale", "installer", "version"], f"winget files: {sorted(winget)}"),
           (len(identities) == 1 and next(iter(identities))[1:] == (version, MANIFEST_VERSION), f"{identities}"),
           (docs["version"].get("DefaultLocale") == docs["defaultLocale"].get("PackageLocale"), "DefaultLocale")]
msis = {archive.name.replace(".zip", f"-{arch}.msi"): p for arch, p in packages.items()}
checks += [(p[3]["Manufacturer"] == docs["defaultLocale"].get("Publisher"), f"{name}: Manufacturer is not Publisher")
           for name, p in msis.items()]

installers = docs["installer"].get("Installers", [])
kinds = [(i.get("InstallerType"), i.get("Architecture"), i.get("Scope")) for i in installers]
checks.append((len(set(kinds)) == len(kinds) and {k[:2] for k in kinds} == {(t, a) for t in ("msi", "zip")
                                                                             for a in TEMPLATES},
               f"installers (type, architecture, scope): {kinds}"))
for entry in installers:
    url, arch = entry.get("InstallerUrl", ""), entry.get("Architecture")
    checks.append((published(url, entry.get("InstallerSha256", "")), f"{url}: not {URL}NAME, or not its SHA-256"))
    if entry.get("InstallerType") == "msi":
        template, _, _, properties = msis.get(url.rsplit("/", 1)[-1], ("?", 0, "", {}))
        # What Add/Remove Programs shows, the folder that --location sets, and
        # the administrator that a per-machine install needs.
        wanted = (next((a for a, (t, _) in TEMPLATES.items() if t == template), None), properties.get("ProductCode"),
                  [{"ProductCode": properties.get("ProductCode"), "UpgradeCode": properties.get("UpgradeCode")}],
                  {"InstallLocation": f'{folders.get(arch)}="<INSTALLPATH>"'}, "elevationRequired")
        found = (arch, *map(entry.get, ("ProductCode", "AppsAndFeaturesEntries", "InstallerSwitches",
                                        "ElevationRequirement")))
        checks.append((found == wanted, f"{url}: {found}, want {wanted}"))
    else:
        files = entry.get("NestedInstallerFiles") or [{}]
        path, alias = files[0].get("RelativeFilePath", ""), files[0].get("PortableCommandAlias")
        checks.append((entry.get("NestedInstallerType") == "portable" and "Scope" not in entry and len(files) == 1
                       and machine(path) == arch and alias == pathlib.PureWindowsPath(path).stem,
                       f"{arch} ZIP entry: {entry}"))

scoop = json.loads(beside.get("sessionend.json", b"{}"))
bins = {name: machine(arch.get("bin", "")) for name, arch in scoop.get("architecture", {}).items()}
checks += [(published(scoop.get("url", ""), scoop.get("hash", "")) and scoop.get("version") == version,
            f"Scoop: {scoop.get('url')}, version {scoop.get('version')}"),
           (bins == SCOOP_ARCHES, f"Scoop's bin of each architecture: {bins}"),
           (b"\n" not in beside.get("sessionend.json", b"\n").replace(b"\r\n", b""), "Scoop's manifest is not CRLF"),
           (docs["defaultLocale"].get("PackageUrl") == scoop.get("homepage") == HOMEPAGE, "not the home page"),
           ("no number" in scoop.get("notes", "") and scoop["notes"] == docs["defaultLocale"].get("InstallationNotes"),
            "no warning at install")]
# Scoop's checkver finds the version in the home page's link to the ZIP, and
# autoupdate, by Scoop's own variables, gives the next release's manifest.
found = re.search(scoop.get("checkver", {}).get("regex", "^$"), f'<a href="{URL}sessionend-1.0.1.zip">')
update = scoop.get("autoupdate", {})
url = update.get("url", "").replace("$version", "1.0.1")
regex = update.get("hash", {}).get("regex", "").replace("$sha256", "([a-fA-F0-9]{64})")
digest = re.search(regex.replace("$basename", re.escape(url.rsplit("/", 1)[-1])), next_sums)
checks.append((found and found.groups()[:1] == ("1.0.1",) and url == next_scoop["url"] and update["hash"]["url"].replace(
    "$baseurl", url.rsplit("/", 1)[0]) == next_scoop["url"].rsplit("/", 1)[0] + "/SHA256SUMS" and digest
    and digest.groups()[:1] == (next_scoop["hash"],), f"Scoop's checkver and autoupdate: {found}, {update}"))
if SCHEMAS.is_dir():
    named = [(f"winget.{kind}.{MANIFEST_VERSION}.json", doc) for kind, doc in docs.items()]
    for name, doc in [*named, ("scoop.schema.json", scoop)]:
        schema = jsonschema.Draft7Validator(json.loads((SCHEMAS / name).read_text()))
        checks.append((schema.is_valid(doc), f"{name}: {[error.message for error in schema.iter_errors(doc)]}"))
else:
    print(f"SKIP: the manifests' schemas: no folder {SCHEMAS}")

failures = [message for ok, message in checks if not ok]
for failure in failures:
    print("FAIL:", failure)
print(f"package: {len(checks) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
