#!/usr/bin/python3
"""prefix.py create|remove TEMPLATE ARCH: the template prefix that each test copies,
in the suite's scratch folder (SESSIONEND_WINE_SCRATCH). Removing checks that
the suite left no prefix, no Wine process and no wineserver socket folder of
its own behind; other Wine users' folders are never looked at.

Where this machine has no Wine for ARCH, create makes nothing, says why and
reports itself skipped (as the tests then do), and so does remove.
"""
import pathlib
import shutil
import sys

import winelab

action, template, arch = sys.argv[1], pathlib.Path(sys.argv[2]), sys.argv[3]
scratch = pathlib.Path(winelab.SCRATCH)
if action == "create":
    # A suite killed half-way leaves its prefixes, with their servers and
    # socket folders: those go first, then its scratch folder.
    for prefix in [template, *scratch.glob("sessionend-wine-*")]:
        winelab.remove_prefix(prefix)
    shutil.rmtree(scratch, ignore_errors=True)
    winelab.require_wine(arch)
    scratch.mkdir(parents=True)
    template.mkdir(parents=True)
    winelab.Prefix(keep_at=template).stop()
    sys.exit(0)

if not scratch.exists() and not template.exists():
    print("No template was made: nothing to remove.")
    sys.exit(77)
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
