#!/usr/bin/env python3
"""reproducible.py SOURCE TOOLCHAIN IMAGE: builds the image twice more, from
copies of the source at two different paths into two fresh build trees, and
requires all three to be identical byte for byte."""
import pathlib
import shutil
import subprocess
import sys
import tempfile

source, toolchain, image = (pathlib.Path(a).resolve() for a in sys.argv[1:4])
tracked = subprocess.run(["git", "-C", str(source), "ls-files", "-z", "--cached", "--others", "--exclude-standard"], capture_output=True, text=True)
files = [f for f in tracked.stdout.split("\0") if f] if tracked.returncode == 0 else None

with tempfile.TemporaryDirectory(prefix="sessionend-repro-") as scratch:
    images = {"the preset build": image.read_bytes()}
    for where in ("a", "second/build/at/another/depth"):
        copy = pathlib.Path(scratch) / where / "src"
        if files is None:
            shutil.copytree(source, copy, ignore=shutil.ignore_patterns("build", ".git"))
        else:
            for name in files:
                (copy / name).parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(source / name, copy / name)
        build = copy.parent / "out"
        subprocess.run(["cmake", "-S", copy, "-B", build, "-G", "Ninja", f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
                        "-DBUILD_TESTING=OFF"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build, "--target", "sessionend"], check=True, stdout=subprocess.DEVNULL)
        images[str(build)] = (build / "sessionend.exe").read_bytes()

reference = images["the preset build"]
different = [name for name, data in images.items() if data != reference]
for name in different:
    print(f"FAIL: {name} differs from the preset build")
print(f"reproducible: {len(images) - len(different)} passed, {len(different)} failed")
sys.exit(1 if different else 0)
