#!/usr/bin/python3
"""package_check.py CPACK_CONFIG ARCH=IMAGE...: makes the unsigned release
ZIP in a scratch directory and checks what it holds and that its checksums
verify. A certificate named in the environment is ignored: the images must
be the built ones."""
import hashlib
import os
import pathlib
import subprocess
import sys
import tempfile
import zipfile

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

sums = contents.get("SHA256SUMS", b"").decode().splitlines()
listed = dict(reversed(line.split("  ", 1)) for line in sums)
# (what holds, what it says when it does not): the file list, the list of
# checksums, then each image, as built and as its checksum says.
checks = [(names == EXPECTED, f"the ZIP holds {sorted(names)}"),
          (set(listed) == set(built), f"SHA256SUMS lists {sorted(listed)}")]
for name, image in built.items():
    checks.append((contents.get(name) == image.read_bytes(), f"{name} is not the built {image}"))
    checks.append((hashlib.sha256(contents.get(name, b"")).hexdigest() == listed.get(name),
                   f"{name} does not match its checksum"))
failures = [message for ok, message in checks if not ok]
for failure in failures:
    print("FAIL:", failure)
print(f"package: {len(checks) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
