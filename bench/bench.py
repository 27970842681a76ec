#!/usr/bin/python3
"""bench.py WIN64_BUILD WIN32_BUILD: sizes, DLLs loaded and wall time under
Wine, side by side with the same program on the toolchain's C run-time
start-up and with an empty GUI program. Every Wine run happens in a prefix
made for the benchmark and removed afterwards."""
import json
import pathlib
import re
import subprocess
import sys
import tempfile

import winelab

win64, win32 = (pathlib.Path(a) for a in sys.argv[1:3])
RUNS = 10
# Builtin and native DLLs alike, by file name.
LOADED_ANY = re.compile(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L".*?\\\\([^\\"]+)" at [0-9A-Fa-f]+: \w+')


def programs(build):
    return {"sessionend": build / "sessionend.exe", "sessionend, C run-time start-up":
            build / "bench" / "sessionend_crt.exe", "empty GUI program": build / "bench" / "empty_gui.exe"}


def row(*cells):
    print(f"  {cells[0]:<34}" + "".join(f"{c:>16}" for c in cells[1:]))


def sizes():
    print("Size of the executable (bytes)")
    row("", "x64", "x86")
    sized = {arch: {name: path.stat().st_size for name, path in programs(build).items()}
             for arch, build in (("x64", win64), ("x86", win32))}
    for name in programs(win64):
        row(name, sized["x64"][name], sized["x86"][name])
    crt = "sessionend, C run-time start-up"
    row("ratio, C run-time start-up / own", *(f"{s[crt] / s['sessionend']:.1f}x" for s in sized.values()))


def loaded_dlls(template, exe, args):
    with winelab.throwaway_prefix(template) as prefix:
        trace = prefix.run([exe, *args], debug="+loaddll").stderr
    thread, _ = winelab.program_thread(trace, exe)
    loaded = (LOADED_ANY.match(line) for line in trace.splitlines())
    return sorted({m.group(2).lower() for m in loaded if m and m.group(1) == thread and not m.group(2).lower().endswith(".exe")})


def dlls(template):
    print("\nDLLs the process loads under Wine (the x64 images)")
    for name, exe in programs(win64).items():
        found = loaded_dlls(template, exe, ["0"] if exe.name == "sessionend.exe" else [])
        row(name, len(found))
        print(f"      {', '.join(found)}")


def wall_time(template):
    print(f"\nWall time under Wine, from a stopped wineserver to the end of the run (x64, {RUNS} runs)")
    with winelab.throwaway_prefix(template) as prefix, tempfile.NamedTemporaryFile(suffix=".json") as report:
        env = winelab.wine_env(prefix.path)
        commands = [f"wine {exe}" + (" 0" if exe.name == "sessionend.exe" else "") for exe in programs(win64).values()]
        subprocess.run(["hyperfine", "--style", "none", "--runs", str(RUNS), "--warmup", "1",
                        "--prepare", "wineserver -k 2>/dev/null; wineserver -w; true",
                        "--export-json", report.name, *commands], env=env, check=True, stdout=subprocess.DEVNULL)
        results = json.load(open(report.name))["results"]
    timed = dict(zip(programs(win64), results))
    empty = timed["empty GUI program"]
    row("", "median (s)", "sigma (s)", "min-max (s)", "vs empty")
    for name, r in timed.items():
        # A difference smaller than the two spreads together says nothing.
        noise = abs(r["median"] - empty["median"]) <= r["stddev"] + empty["stddev"]
        row(name, f"{r['median']:.3f}", f"{r['stddev']:.3f}", f"{r['min']:.3f}-{r['max']:.3f}",
            f"{r['median'] / empty['median']:.2f}x" + (" (noise)" if noise and r is not empty else ""))


sizes()
template = winelab.Prefix()
try:
    template.stop()
    dlls(template.path)
    wall_time(template.path)
finally:
    template.remove()
