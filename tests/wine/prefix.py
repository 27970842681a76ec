#!/usr/bin/python3
"""prefix.py create|remove TEMPLATE SCRATCH: the template prefix that each test
copies, and the folder for the copies. Removing checks that the suite left no
prefix, no Wine process and no wineserver socket folder behind."""
import pathlib
import shutil
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
import winelab  # noqa: E402

action, template, scratch = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
# The socket folders there were before the suite, so that its own are known.
before = scratch / "server-folders-before"
winelab.remove_prefix(template)
if action == "create":
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)
    before.write_text("".join(f"{folder}\n" for folder in winelab.server_folders()))
    template.mkdir(parents=True)
    winelab.Prefix(keep_at=template).stop()
    sys.exit(0)

left = sorted(str(p) for p in scratch.iterdir() if p != before) if scratch.exists() else []
running = winelab.processes_using(scratch) + winelab.processes_using(template)
known = set(before.read_text().split()) if before.exists() else set()
servers = sorted(str(f) for f in winelab.server_folders() if str(f) not in known)
for prefix in left:
    print("FAIL: prefix left behind:", prefix)
    winelab.remove_prefix(prefix)
for pid in running:
    print("FAIL: Wine process left running:", pid)
for folder in servers:
    print("FAIL: wineserver socket folder left behind:", folder)
    shutil.rmtree(folder, ignore_errors=True)
shutil.rmtree(scratch, ignore_errors=True)
sys.exit(1 if left or running or servers else 0)
