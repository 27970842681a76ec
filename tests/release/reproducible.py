#!/usr/bin/python3
"""reproducible.py SOURCE: builds the unsigned release (the ZIP, the three
Windows Installer packages, their SHA256SUMS and, for a release URL, winget's
and Scoop's manifests) from copies of the source at two different paths, one
after the other, and requires the two to be identical byte for byte, and each
image identical to the one that the preset's own build (with its tests) made
in SOURCE/build.
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


def build_release(copy):
    env = {k: v for k, v in os.environ.items() if not k.startswith("SESSIONEND_SIGN_")}
    env.update(SESSIONEND_RELEASE_URL="https://downloads.example.org/sessionend/1.0.0",
               SESSIONEND_HOMEPAGE="https://example.org/sessionend/")
    for preset in PRESETS:
        subprocess.run(["cmake", "--preset", preset, "-DBUILD_TESTING=OFF"], cwd=copy, env=env, **QUIET)
        subprocess.run(["cmake", "--build", "--preset", preset], cwd=copy, env=env, **QUIET)
    subprocess.run(["cpack", "--preset", "release"], cwd=copy, env=env, **QUIET)
    release = copy / "build" / "release"
    return {str(f.relative_to(release)): f.read_bytes() for f in release.rglob("*") if f.is_file()}


PRESETS = ("win64", "winarm64", "win32")


def main(source):
    source = pathlib.Path(source).resolve()
    releases, failures = {}, []
    with tempfile.TemporaryDirectory(prefix="sessionend-repro-") as scratch:
        for where in ("a", "second/build/at/another/depth"):
            copy = pathlib.Path(scratch) / where / "src"
            copy_source(source, copy)
            releases[str(copy)] = build_release(copy)
            for preset in PRESETS:
                if (copy / "build" / preset / "sessionend.exe").read_bytes() != \
                        (source / "build" / preset / "sessionend.exe").read_bytes():
                    failures.append(f"the {preset} image built in {copy} differs from the preset's own build")
    first, second = releases.values()
    names = sorted(set(first) | set(second))
    failures += [f"{name} differs between the two builds" for name in names if first.get(name) != second.get(name)]
    for failure in failures:
        print("FAIL:", failure)
    print(f"reproducible release: {len(names) + len(PRESETS) * 2 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
