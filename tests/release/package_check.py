#!/usr/bin/env python3
"""package_check.py CPACK_CONFIG ARCH=IMAGE...: makes the release ZIP in a
scratch directory and checks what it holds and that its checksums verify."""
import hashlib
import pathlib
import subprocess
import sys
import tempfile
import zipfile

config = pathlib.Path(sys.argv[1])
built = {f"{arch}/sessionend.exe": pathlib.Path(path) for arch, path in (a.split("=", 1) for a in sys.argv[2:])}
EXPECTED = set(built) | {"README.md", "LICENSE", "SHA256SUMS"}

with tempfile.TemporaryDirectory(prefix="sessionend-package-") as scratch:
    subprocess.run(["cpack", "--config", config, "-B", scratch], check=True, stdout=subprocess.DEVNULL)
    (archive,) = pathlib.Path(scratch).glob("*.zip")
    with zipfile.ZipFile(archive) as package:
        names = {n for n in package.namelist() if not n.endswith("/")}
        contents = {n: package.read(n) for n in names}

failures = []
if names != EXPECTED:
    failures.append(f"the ZIP holds {sorted(names)}")
sums = contents.get("SHA256SUMS", b"").decode().splitlines()
listed = dict(reversed(line.split("  ", 1)) for line in sums)
if set(listed) != set(built):
    failures.append(f"SHA256SUMS lists {sorted(listed)}")
for name, digest in listed.items():
    if hashlib.sha256(contents.get(name, b"")).hexdigest() != digest:
        failures.append(f"{name} does not match its checksum")
for name, image in built.items():
    if contents.get(name) != image.read_bytes():
        failures.append(f"{name} is not the built {image}")
for failure in failures:
    print("FAIL:", failure)
print(f"package: {len(names) + len(listed) + 2 - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
