#!/usr/bin/python3
"""Builds from copies of the source at two different paths, one after the
other, and requires the results to be identical byte for byte:

    reproducible.py image SOURCE TOOLCHAIN IMAGE   the image, also against IMAGE
    reproducible.py archive SOURCE                 the unsigned release ZIP
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

QUIET = {"stdout": subprocess.DEVNULL, "check": True}


def copy_source(source, copy):
    """The files git tracks (or would), or the whole tree where there is no
    git or no checkout, as in a source tarball."""
    listed = None
    if shutil.which("git"):
        found = subprocess.run(["git", "-C", str(source), "ls-files", "-z", "--cached", "--others",
                                "--exclude-standard"], capture_output=True, text=True)
        listed = [f for f in found.stdout.split("\0") if f] if found.returncode == 0 else None
    if listed is None:
        shutil.copytree(source, copy, ignore=shutil.ignore_patterns("build", ".git"))
        return
    for name in listed:
        (copy / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source / name, copy / name)


def build_image(copy, toolchain):
    build = copy.parent / "out"
    subprocess.run(["cmake", "-S", copy, "-B", build, "-G", "Ninja", f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
                    "-DBUILD_TESTING=OFF"], **QUIET)
    subprocess.run(["cmake", "--build", build, "--target", "sessionend"], **QUIET)
    return (build / "sessionend.exe").read_bytes()


def build_archive(copy):
    env = {k: v for k, v in os.environ.items() if not k.startswith("SESSIONEND_SIGN_")}
    for preset in ("win64", "winarm64", "win32"):
        subprocess.run(["cmake", "--preset", preset, "-DBUILD_TESTING=OFF"], cwd=copy, env=env, **QUIET)
        subprocess.run(["cmake", "--build", "--preset", preset], cwd=copy, env=env, **QUIET)
    subprocess.run(["cpack", "--preset", "release"], cwd=copy, env=env, **QUIET)
    (archive,) = (copy / "build" / "release").glob("*.zip")
    return archive.read_bytes()


def main(kind, source, *rest):
    source = pathlib.Path(source).resolve()
    results = {}
    if kind == "image":
        toolchain, image = (pathlib.Path(a).resolve() for a in rest)
        results["the preset build"] = image.read_bytes()
    with tempfile.TemporaryDirectory(prefix="sessionend-repro-") as scratch:
        for where in ("a", "second/build/at/another/depth"):
            copy = pathlib.Path(scratch) / where / "src"
            copy_source(source, copy)
            results[str(copy)] = build_image(copy, toolchain) if kind == "image" else build_archive(copy)
    reference = next(iter(results.values()))
    different = [name for name, data in results.items() if data != reference]
    for name in different:
        print(f"FAIL: the {kind} built in {name} differs from the one built first")
    print(f"reproducible {kind}: {len(results) - len(different)} passed, {len(different)} failed")
    return 1 if different else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
