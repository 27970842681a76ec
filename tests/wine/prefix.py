#!/usr/bin/python3
"""prefix.py create|remove TEMPLATE SCRATCH: the template prefix that each test
copies, and the folder for the copies. Removing checks that the suite left no
prefix and no Wine process behind."""
import pathlib
import shutil
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
import winelab  # noqa: E402

action, template, scratch = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
winelab.remove_prefix(template)
if action == "create":
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)
    template.mkdir(parents=True)
    winelab.Prefix(keep_at=template).stop()
    sys.exit(0)

left = sorted(str(p) for p in scratch.iterdir()) if scratch.exists() else []
running = winelab.processes_using(scratch) + winelab.processes_using(template)
for prefix in left:
    print("FAIL: prefix left behind:", prefix)
    winelab.remove_prefix(prefix)
for pid in running:
    print("FAIL: Wine process left running:", pid)
shutil.rmtree(scratch, ignore_errors=True)
sys.exit(1 if left or running else 0)
