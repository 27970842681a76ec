#!/usr/bin/python3
"""prefix.py create|remove TEMPLATE: the template prefix that each test copies,
in the suite's scratch folder (SESSIONEND_WINE_SCRATCH). Removing checks that
the suite left no prefix, no Wine process and no wineserver socket folder of
its own behind; other Wine users' folders are never looked at.

Where this Wine cannot start at all (no ARM64 root), create makes nothing and
says why; the tests then skip with that reason.
"""
import pathlib
import shutil
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
import winelab  # noqa: E402

action, template = sys.argv[1], pathlib.Path(sys.argv[2])
scratch = pathlib.Path(winelab.SCRATCH)
if action == "create":
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)
    winelab.remove_prefix(template)
    version = subprocess.run(["wine", "--version"], capture_output=True, text=True)
    if version.returncode != 0:
        reason = (version.stderr.strip().splitlines() or ["wine --version failed"])[-1]
        (scratch / "no-wine").write_text(reason)
        print("No template made:", reason)
        sys.exit(0)
    template.mkdir(parents=True)
    winelab.Prefix(keep_at=template).stop()
    sys.exit(0)

winelab.remove_prefix(template)
left = sorted(p for p in scratch.iterdir() if p.name.startswith("sessionend-wine-")) if scratch.exists() else []
running = winelab.processes_using(scratch)
for prefix in left:
    print("FAIL: prefix left behind:", prefix)
    winelab.remove_prefix(prefix)
for pid in running:
    print("FAIL: Wine process left running:", pid)
# Every prefix's removal deletes its socket folder: one still there leaked.
listed = winelab.SERVER_FOLDER_LIST
names = set(listed.read_text().split()) if listed.exists() else set()
leaked = sorted(winelab.SERVER_FOLDERS / name for name in names if (winelab.SERVER_FOLDERS / name).exists())
for folder in leaked:
    print("FAIL: wineserver socket folder left behind:", folder)
    shutil.rmtree(folder, ignore_errors=True)
shutil.rmtree(scratch, ignore_errors=True)
sys.exit(1 if left or running or leaked else 0)
