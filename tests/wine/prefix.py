#!/usr/bin/env python3
"""prefix.py create|remove DIR: the template prefix that each test copies."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
import winelab  # noqa: E402

action, where = sys.argv[1], pathlib.Path(sys.argv[2])
winelab.remove_prefix(where)
if action == "create":
    where.mkdir(parents=True)
    winelab.Prefix(keep_at=where).stop()
