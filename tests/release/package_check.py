#!/usr/bin/python3
"""package_check.py CPACK_CONFIG ARCH=IMAGE...: makes the unsigned release
in a scratch directory and checks what the ZIP holds, that the checksums in
it and beside it verify, and what only the Windows Installer packages' own
tables say: one upgrade code, a product and a package code of each package's
own, and the template that each architecture needs. A certificate named in
the environment is ignored: the images must be the built ones."""
import hashlib
import os
import pathlib
import subprocess
import sys
import tempfile
import zipfile

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

# The summary's template and page count (the Windows Installer version)
# that each architecture's package needs.
TEMPLATES = {"x86": ("Intel;1033", 200), "x64": ("x64;1033", 200), "arm64": ("Arm64;1033", 500)}

config = pathlib.Path(sys.argv[1])
built = {f"{arch}/sessionend.exe": pathlib.Path(path) for arch, path in (a.split("=", 1) for a in sys.argv[2:])}
EXPECTED = set(built) | {"README.md", "LICENSE", "SHA256SUMS"}

with tempfile.TemporaryDirectory(prefix="sessionend-package-") as scratch:
    env = {k: v for k, v in os.environ.items() if not k.startswith("SESSIONEND_SIGN_")}
    subprocess.run(["cpack", "--config", config, "-B", scratch], env=env, check=True, stdout=subprocess.DEVNULL)
    (archive,) = pathlib.Path(scratch).glob("*.zip")
    with zipfile.ZipFile(archive) as package:
        names = {n for n in package.namelist() if not n.endswith("/")}
        contents = {n: package.read(n) for n in names}
    beside = {f.name: f.read_bytes() for f in pathlib.Path(scratch).iterdir() if f.is_file()}
    packages = {}
    for arch in TEMPLATES:
        database = Libmsi.Database.new(str(archive).replace(".zip", f"-{arch}.msi"), Libmsi.DbFlags.READONLY, None)
        summary = Libmsi.SummaryInfo.new(database, 0)
        query = Libmsi.Query.new(database, "SELECT `Property`, `Value` FROM `Property`")
        query.execute(None)
        properties = {}
        while (record := query.fetch()) is not None:
            properties[record.get_string(1)] = record.get_string(2)
        packages[arch] = (summary.get_string(Libmsi.Property.TEMPLATE), summary.get_int(Libmsi.Property.VERSION),
                          summary.get_string(Libmsi.Property.UUID), properties)


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
checks.append((set(listed_beside) | {"SHA256SUMS"} == set(beside) and len(beside) == 5,
               f"beside the ZIP: {sorted(beside)}, SHA256SUMS lists {sorted(listed_beside)}"))
checks += [(hashlib.sha256(beside.get(name, b"")).hexdigest() == digest, f"{name} does not match its checksum")
           for name, digest in listed_beside.items()]
codes = [(p["UpgradeCode"], p["ProductCode"], code) for _, _, code, p in packages.values()]
checks.append((len({c[0] for c in codes}) == 1 and len({c[1] for c in codes}) == len({c[2] for c in codes}) == 3,
               f"upgrade, product and package codes: {codes}"))
checks += [(packages[arch][:2] == wanted, f"{arch}: template and page count {packages[arch][:2]}, want {wanted}")
           for arch, wanted in TEMPLATES.items()]
failures = [message for ok, message in checks if not ok]
for failure in failures:
    print("FAIL:", failure)
print(f"package: {len(checks) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
