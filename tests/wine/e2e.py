#!/usr/bin/python3
"""The real sessionend.exe on Wine, observed from the platform's side: a real
loader, a real advapi32 and a real end of the session.

Each test runs in its own copy of a template prefix (made by prefix.py), and
every prefix is stopped and removed afterwards, pass or fail. Where this Wine
cannot run the image (no 32-bit Wine, no ARM64 root), the suite exits with
CTest's skip status and says why, unless the caller requires that image.
"""
import os
import pathlib
import time
import unittest
from unittest import mock

import pefile

import winelab

EXE = pathlib.Path(os.environ["SESSIONEND_EXE"])
LAUNCHER = pathlib.Path(os.environ["SESSIONEND_LAUNCHER"])
SLEEPER = pathlib.Path(os.environ["SESSIONEND_SLEEPER"])
TEMPLATE = pathlib.Path(os.environ["SESSIONEND_WINE_TEMPLATE"])
ARCH = {0x14C: "x86", 0x8664: "x64", 0xAA64: "arm64"}[pefile.PE(str(EXE), fast_load=True).FILE_HEADER.Machine]
# GetCurrentProcess()'s pseudo-handle, as wide as a pointer.
CURRENT_PROCESS = "ffffffff" if ARCH == "x86" else "ffffffffffffffff"
TRACE = "+relay,+loaddll,+process"
NT_FAMILY_BIT = 0x80000000
FORCE = 4
LAUNCHER_FAILED = 200  # what only a running launcher returns for a request file it cannot open


def launch(prefix, command_line):
    """Starts the program with exactly these command-line bytes."""
    request = prefix.path / "request.bin"
    request.write_bytes(os.fsencode(winelab.windows_path(EXE)) + b"\0" + command_line)
    return prefix.run([LAUNCHER, winelab.windows_path(request)], debug=TRACE)


def calls_of(run):
    try:
        calls = winelab.program_calls(run.stderr, EXE)
    except AssertionError as error:
        raise AssertionError(f"launcher status {run.returncode}: {error}") from None
    return [(c.function.split(".")[1], c.args, c.ret) for c in calls]


def request_of(run):
    """The flags of the one session-end request in the trace."""
    requests = [args for name, args, _ in calls_of(run) if name == "ExitWindowsEx"]
    if len(requests) != 1:
        raise AssertionError(f"{len(requests)} session-end requests\n{evidence(run)}")
    flags, reserved = (int(a, 16) for a in requests[0].split(","))
    if reserved != 0:
        raise AssertionError(f"reserved argument {reserved:#x}")
    return flags


def evidence(run):
    """What a failure report needs: the status, and every error that Wine
    wrote anywhere in the trace."""
    return f"launcher status: {run.returncode}\n{winelab.trace_summary(run.stderr)}"


def check_accepted(test, run):
    """Wine accepted the one request (ExitWindowsEx returned nonzero), and so
    the status is 0, passed to ExitProcess and seen by the launcher."""
    calls = calls_of(run)
    accepted = [ret for name, _, ret in calls if name == "ExitWindowsEx"]
    exited = [int(args, 16) for name, args, _ in calls if name == "ExitProcess"]
    test.assertEqual(len(accepted), 1, f"session-end requests\n{evidence(run)}")
    test.assertTrue(accepted[0], f"Wine refused the request\n{evidence(run)}")
    test.assertEqual((exited, run.returncode), ([0], 0), f"the status of an accepted request\n{evidence(run)}")


def privilege_calls(test, run):
    """The privilege calls, each accepted by Wine's own advapi32."""
    calls = calls_of(run)
    names = [name for name, _, _ in calls]
    test.assertEqual(names, ["GetCommandLineA", "GetVersion", "OpenProcessToken", "LookupPrivilegeValueA",
                             "AdjustTokenPrivileges", "ExitWindowsEx", "ExitProcess"], evidence(run))
    args = {name: a.split(",") for name, a, _ in calls}
    # The current process, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY.
    test.assertEqual(args["OpenProcessToken"][:2], [CURRENT_PROCESS, "00000028"])
    test.assertEqual(args["LookupPrivilegeValueA"][0], "00000000")
    test.assertTrue(args["LookupPrivilegeValueA"][1].endswith(' "SeShutdownPrivilege"'))
    # Not disabling all, no previous state asked for.
    adjust = args["AdjustTokenPrivileges"]
    test.assertEqual([int(adjust[1], 16)] + [int(a, 16) for a in adjust[3:]], [0, 0, 0, 0])
    test.assertEqual([ret for name, _, ret in calls[2:5] if not ret], [], "a privilege call failed on Wine")


class WineTest(unittest.TestCase):
    def setUp(self):
        self.prefix = winelab.Prefix(TEMPLATE)
        self.addCleanup(self.prefix.remove)


class CallSequence(WineTest):
    def test_nt_family_enables_the_privilege_then_requests(self):
        run = launch(self.prefix, b"sessionend.exe 1")
        check_accepted(self, run)
        privilege_calls(self, run)
        self.assertFalse(calls_of(run)[1][2] & NT_FAMILY_BIT)
        self.assertEqual(request_of(run), 1)


# The Windows versions that Wine presents to each image, with the major
# version that GetVersion must then report (None: the 9x family). NT 5, an
# odd major version, is Windows 2000, XP and the first x64 Windows.
VERSIONS = {
    "x86": [("win95", None), ("win98", None), ("winme", None), ("nt40", 4), ("win2k", 5), ("winxp", 5)],
    "x64": [("winxp64", 5)],
}


class Versions(WineTest):
    """The 9x family skips the privilege; every NT version enables it."""

    def test_the_version_word_decides_the_privilege_step(self):
        for version, major in VERSIONS[ARCH]:
            with self.subTest(version):
                self.prefix.import_registry(winelab.PRETEND_VERSION.format(version))
                run = launch(self.prefix, b"sessionend.exe 66")
                calls = calls_of(run)
                word = calls[1][2]
                if major:
                    self.assertEqual((word & NT_FAMILY_BIT, word & 0xFF), (0, major), f"version word {word:#x}")
                    privilege_calls(self, run)
                else:
                    self.assertTrue(word & NT_FAMILY_BIT, f"version word {word:#x}")
                    self.assertEqual([name for name, _, _ in calls],
                                     ["GetCommandLineA", "GetVersion", "ExitWindowsEx", "ExitProcess"])
                self.assertEqual(request_of(run), 66)


# Only what a real process start can show; the host tests hold the parsing.
COMMAND_LINES = [
    # (what it shows, command line, flags that must reach ExitWindowsEx)
    ("quoted path with spaces", b'"C:\\Program Files\\Session Tools\\sessionend.exe" 2', 2),
    ("control bytes separate", b"sessionend.exe" + bytes(range(0x01, 0x21)) + b"8", 8),
    ("high bytes in name", b"session" + bytes(range(0x80, 0x100)) + b".exe 12", 12),
    ("32,000 bytes", b"sessionend" + b"x" * (32000 - 13) + b" 5", 5),
]


class CommandLines(unittest.TestCase):
    def test_flags_reach_the_platform_bit_for_bit(self):
        for label, line, flags in COMMAND_LINES:
            with self.subTest(label), winelab.throwaway_prefix(TEMPLATE) as prefix:
                run = launch(prefix, line)
                self.assertEqual(request_of(run), flags)
                # A forced request may end the launcher before it reports.
                if not flags & FORCE:
                    check_accepted(self, run)


class SessionEnds(WineTest):
    def end_session(self, flags):
        helper, ready = self.prefix.start_sleeper(SLEEPER)
        self.addCleanup(helper.wait)
        self.addCleanup(helper.kill)  # cleanups run last first
        self.assertTrue(ready, f"the helper never ran inside the prefix (status {helper.poll()})")
        run = launch(self.prefix, b"sessionend.exe %d" % flags)
        self.assertEqual(request_of(run), flags)
        return run, helper

    def test_forced_request_ends_every_process_of_the_session(self):
        _, helper = self.end_session(FORCE)
        deadline = time.monotonic() + 10 * winelab.SLOWDOWN
        while helper.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertIsNotNone(helper.poll(), "the helper outlived a forced session end")

    def test_log_off_is_accepted_with_status_0(self):
        run, _ = self.end_session(0)
        check_accepted(self, run)


class PrefixSetUp(unittest.TestCase):
    def test_a_failed_set_up_leaves_nothing_behind(self):
        boot = winelab.Prefix._boot

        def boot_then_fail(prefix):
            boot(prefix)  # the prefix's wineserver runs now
            raise RuntimeError("set-up failed half-way")

        scratch = pathlib.Path(winelab.SCRATCH)
        before = set(scratch.iterdir())
        with mock.patch.object(winelab.Prefix, "_boot", boot_then_fail), self.assertRaises(RuntimeError):
            winelab.Prefix()
        self.assertEqual((set(scratch.iterdir()) - {winelab.SERVER_FOLDER_LIST}, winelab.processes_using(scratch)),
                         (before - {winelab.SERVER_FOLDER_LIST}, []))


def launcher_fails():
    """Why this Wine cannot run the image, or None: only a launcher that
    really runs answers a missing request file with its own status."""
    with winelab.throwaway_prefix(TEMPLATE) as prefix:
        status = prefix.run([LAUNCHER, "Z:\\no-such-request"]).returncode
    if status != LAUNCHER_FAILED:
        return f"the {ARCH} launcher does not run under this Wine (status {status}, not {LAUNCHER_FAILED})"
    return None


if __name__ == "__main__":
    winelab.require_wine(ARCH, launcher_fails)
    unittest.main()
