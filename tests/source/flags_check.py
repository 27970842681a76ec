#!/usr/bin/python3
"""flags_check.py README WINUSER_H: every EWX_ value and ready-made number in
the README's tables must be what the platform header says, or for the flags
that only the Windows SDK's header has, what that header says."""
import re
import sys

readme, header = (open(path, encoding="utf-8").read() for path in sys.argv[1:3])
header_flags = {name: int(value, 16) for name, value in re.findall(r"#define (EWX_\w+) (0x[0-9A-Fa-f]+)\b", header)}
# In the Windows SDK's winuser.h, not in MinGW-w64's; the README says so in
# the flag's row. A newer MinGW-w64 may add one: it then belongs with the
# header's flags.
SDK_ONLY = {"EWX_SYSTEM_INITIATED": 0x10000000}
defined = {**header_flags, **SDK_ONLY}
failures, checked = [f"{name} is in the header now; take it off the SDK-only list" for name in SDK_ONLY
                     if name in header_flags], 0


def cells(line):
    return [cell.strip() for cell in line.strip().strip("|").split("|")]


for line in readme.splitlines():
    row = cells(line) if line.startswith("| ") else []
    names = re.findall(r"`(EWX_\w+)`", row[3] if len(row) > 3 else "")
    if len(row) >= 4 and re.fullmatch(r"`EWX_\w+`", row[0]):
        # A flag: its name, decimal and hex values.
        name, value = row[0].strip("`"), defined.get(row[0].strip("`"))
        if name in SDK_ONLY and "SDK's header only" not in row[3]:
            failures.append(f"{name}: the README does not say that only the Windows SDK's header has it")
    elif names and row[1].isdigit():
        # A ready-made number: the flags it is made of, added up.
        name, value = row[0], sum(defined.get(n, -1 << 40) for n in names)
    else:
        continue
    checked += 1
    if value is None or value < 0 or (int(row[1]), int(row[2], 16)) != (value, value):
        failures.append(f"{name}: the README says {row[1]} and {row[2]}, the header gives "
                        f"{'nothing' if value is None or value < 0 else value}")
documented = set(re.findall(r"^\| `(EWX_\w+)` \|", readme, re.MULTILINE))
if documented != set(defined):
    failures.append(f"flags in the header but not the README: {sorted(set(defined) - documented)}; "
                    f"in the README but not the header: {sorted(documented - set(defined))}")
for failure in failures:
    print("FAIL:", failure)
print(f"README flags: {checked - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures or not checked else 0)
