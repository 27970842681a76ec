"""Throwaway Wine prefixes, and reading the program's calls out of a relay trace.

Every run of sessionend.exe ends the Wine session it runs in, so it only ever
runs in a prefix made for that run and deleted afterwards, with its own
wineserver. Nothing here touches the host's own session.
"""
import contextlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
from collections import namedtuple

import pefile

# Keep the relay trace to calls made from the program's own image; a new
# prefix excludes calls from the system DLLs instead, which overrides any
# include list while it exists.
DEBUG_SETTINGS = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayFromExclude"=-
"RelayFromInclude"="sessionend.exe"
"""

# The Windows version that Wine presents to the program: win95, win98, winme,
# nt40, win2k, winxp, winxp64, win10 ...
PRETEND_VERSION = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\sessionend.exe]
"Version"="{}"
"""


# Where throwaway prefixes go: a test suite names its own folder, so that it
# can tell afterwards that nothing was left behind.
SCRATCH = os.environ.get("SESSIONEND_WINE_SCRATCH")


def require_wine(arch, probe=lambda: None):
    """Ends the calling suite where this run has no Wine for images of arch
    (x86, x64, arm64): left out by SESSIONEND_NO_WINE, or as wine itself says,
    or as probe() finds. Skipped, with CTest's status 77, or failed where that
    Wine is required (SESSIONEND_REQUIRE_WINE names it, or it is the x64 one,
    which the set-up always installs)."""
    if arch in os.environ.get("SESSIONEND_NO_WINE", "").split():
        reason = "left out (SESSIONEND_NO_WINE)"
    else:
        version = subprocess.run(["wine", "--version"], capture_output=True, text=True)
        complaint = version.stderr.strip().splitlines() or ["wine --version failed"]
        reason = complaint[-1] if version.returncode else probe()
    if reason:
        required = arch == "x64" or arch in os.environ.get("SESSIONEND_REQUIRE_WINE", "").split()
        print(f"{'FAIL' if required else 'SKIP'}: no {arch} Wine here: {reason}")
        sys.exit(1 if required else 77)


def processes_using(folder):
    """Process ids whose Wine prefix lies in folder."""
    marker = b"WINEPREFIX=" + os.fsencode(pathlib.Path(folder).resolve())
    found = []
    for environ in pathlib.Path("/proc").glob("[0-9]*/environ"):
        with contextlib.suppress(OSError):
            if any(variable.startswith(marker) for variable in environ.read_bytes().split(b"\0")):
                found.append(int(environ.parent.name))
    return found


# Debian's Wine keeps each wineserver's socket in a folder wine-XXXXXX of the
# temporary directory, notes its name in the prefix, reuses it for every
# server of that prefix, and leaves it behind. (Moving it with TMPDIR makes
# Wine 10's wineboot abort.) Where Wine runs in a root of its own, that root's
# temporary directory is named here.
SERVER_FOLDERS = pathlib.Path(os.environ.get("SESSIONEND_WINE_TMP") or "/tmp")
# A suite lists there the socket folders of every prefix it made, and only
# those, so that it never takes another Wine user's folder for its own.
SERVER_FOLDER_LIST = pathlib.Path(SCRATCH) / "server-folders" if SCRATCH else None


def server_folder(prefix):
    """The folder of the prefix's wineserver socket, if it has one."""
    try:
        name = (pathlib.Path(prefix) / "wineserver").read_text().strip()
    except OSError:
        return None
    return SERVER_FOLDERS / name if re.fullmatch(r"wine-\w{6}", name) else None


# How much slower than a native Wine this one is (an emulated one is).
SLOWDOWN = float(os.environ.get("SESSIONEND_WINE_SLOWDOWN") or 1)


def wine_env(prefix, debug="-all", **extra):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINEPREFIX=str(prefix), WINEDEBUG=debug,
               # No Mono or Gecko install prompt in a new prefix.
               WINEDLLOVERRIDES="mscoree,mshtml=")
    env.update(extra)
    return env


def windows_path(path):
    """The Z: drive of every prefix maps the host's root."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def stop_prefix(path):
    """Ends every process of the prefix and its wineserver, and notes the
    server's socket folder in the suite's list."""
    folder = server_folder(path)
    if folder is not None and SERVER_FOLDER_LIST is not None:
        SERVER_FOLDER_LIST.parent.mkdir(parents=True, exist_ok=True)
        with open(SERVER_FOLDER_LIST, "a", encoding="utf-8") as listed:
            listed.write(folder.name + "\n")
    for flag in ("-k", "-w"):  # kill, then wait until the server has gone
        subprocess.run(["wineserver", flag], env=wine_env(path), stderr=subprocess.DEVNULL, timeout=60 * SLOWDOWN)


def remove_prefix(path):
    if pathlib.Path(path).exists():
        stop_prefix(path)
        folder = server_folder(path)
        if folder is not None:
            shutil.rmtree(folder, ignore_errors=True)
    shutil.rmtree(path, ignore_errors=True)


class Prefix:
    """A Wine prefix of its own: a new one, or a copy of a template. remove()
    ends its processes and wineserver and deletes it."""

    def __init__(self, template=None, keep_at=None, winearch=None):
        self.path = pathlib.Path(keep_at or tempfile.mkdtemp(prefix="sessionend-wine-", dir=SCRATCH))
        self.winearch = winearch  # win32 for a 32-bit prefix
        try:
            if template is None:
                self._boot()
            else:
                self._clone(pathlib.Path(template))
        except BaseException:
            self.remove()
            raise

    def _boot(self):
        arch = {"WINEARCH": self.winearch} if self.winearch else {}
        subprocess.run(["wineboot", "-i"], env=wine_env(self.path, **arch), check=True, timeout=300 * SLOWDOWN,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.import_registry(DEBUG_SETTINGS)

    def _clone(self, template):
        # The Windows tree is large and never written by these runs, so hard
        # links are enough; the registry files are real copies because this
        # prefix's wineserver rewrites them.
        shutil.rmtree(self.path)
        subprocess.run(["cp", "-al", str(template), str(self.path)], check=True)
        for hive in self.path.glob("*.reg"):
            hive.unlink()
            shutil.copy2(template / hive.name, hive)
        # The clone's wineserver makes its own socket folder and notes it.
        (self.path / "wineserver").unlink(missing_ok=True)

    def import_registry(self, text):
        reg = self.path / "settings.reg"
        reg.write_text(text)
        self.run(["regedit", "/S", windows_path(reg)], check=True)
        reg.unlink()
        self.stop()

    def run(self, argv, debug="-all", timeout=120, check=False, output=False, **env):
        """Runs a Windows command to its end; its trace (and with output, its
        standard output) goes to a file, since processes that it starts keep
        a pipe open long after it returns."""
        with tempfile.TemporaryFile() as trace, tempfile.TemporaryFile() as out:
            done = subprocess.run(["wine", *map(str, argv)], env=wine_env(self.path, debug, **env),
                                  stdin=subprocess.DEVNULL, stdout=out if output else subprocess.DEVNULL,
                                  stderr=trace, timeout=timeout * SLOWDOWN, check=check)
            trace.seek(0)
            out.seek(0)
            done.stderr = trace.read().decode("latin-1")
            done.stdout = out.read().decode("latin-1") if output else None
        return done

    def start_sleeper(self, sleeper, seconds=60):
        """Starts the windowless helper and waits until it says, by making
        C:\\sleeper-ready, that it runs inside the prefix; returns its process
        and whether it did."""
        helper = self.start([sleeper])
        ready = self.path / "drive_c" / "sleeper-ready"
        deadline = time.monotonic() + seconds * SLOWDOWN
        while not ready.exists() and helper.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        return helper, ready.exists()

    def start(self, argv):
        return subprocess.Popen(["wine", *map(str, argv)], env=wine_env(self.path),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def stop(self):
        stop_prefix(self.path)

    def remove(self):
        remove_prefix(self.path)


@contextlib.contextmanager
def throwaway_prefix(template=None, winearch=None):
    prefix = Prefix(template, winearch=winearch)
    try:
        yield prefix
    finally:
        prefix.remove()


# A traced call: DLL.Function as Wine names it, its arguments as Wine shows
# them, and its return value (0 for one that never returned).
Call = namedtuple("Call", "function args ret")


LOADED = re.compile(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"(.*)" at ([0-9A-Fa-f]+): native')
CALL = re.compile(r"^([0-9a-f]+):Call ([\w.]+)\((.*)\) ret=([0-9A-Fa-f]+)$")
RETURN = re.compile(r"^([0-9a-f]+):Ret  ([\w.]+)\(.*\) retval=([0-9A-Fa-f]+) ret=([0-9A-Fa-f]+)$")


# What Wine writes when a process of the session fails: its err: channel, its
# loader's and its client's fatal errors, and the server's protocol errors.
WINE_ERRORS = re.compile(r":err:|^wine: |wine client error|protocol error")


def trace_summary(trace):
    """Every error that Wine wrote anywhere in the trace, then its end."""
    lines = trace.splitlines()
    return "\n".join(["Wine's errors:", *filter(WINE_ERRORS.search, lines), "last trace lines:", *lines[-15:]])


def program_thread(trace, exe):
    """The thread that loads the program, and where the image lies."""
    name = pathlib.Path(exe).name.lower()
    for line in trace.splitlines():
        loaded = LOADED.match(line)
        if loaded and loaded.group(2).replace("\\\\", "\\").lower().endswith("\\" + name):
            base = int(loaded.group(3), 16)
            return loaded.group(1), range(base, base + pefile.PE(str(exe), fast_load=True).OPTIONAL_HEADER.SizeOfImage)
    raise AssertionError(f"the trace never loads {name}\n{trace_summary(trace)}")


def program_calls(trace, exe):
    """The calls that the program's own thread makes from its own image, with
    each call's return value, in order."""
    thread, image = program_thread(trace, exe)
    calls, returns = [], []
    for line in trace.splitlines():
        if not line.startswith(thread + ":"):
            continue
        call, ret = CALL.match(line), RETURN.match(line)
        if call and int(call.group(4), 16) in image:
            calls.append((call.group(2), call.group(3)))
        elif ret and int(ret.group(4), 16) in image:
            returns.append(int(ret.group(3), 16))
    returns += [0] * (len(calls) - len(returns))
    return [Call(*call, value) for call, value in zip(calls, returns)]


def started_processes(trace, exe):
    """The command lines of the processes that the program's thread starts
    (traced with +process)."""
    thread, _ = program_thread(trace, exe)
    marker = f"{thread}:trace:process:CreateProcessInternalW app "
    return [line.split(" cmdline ", 1)[1] for line in trace.splitlines()
            if line.startswith(marker) and " cmdline " in line]
