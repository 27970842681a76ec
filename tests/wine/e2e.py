#!/usr/bin/env python3
"""The real sessionend.exe on Wine, observed from the platform's side.

Each test runs in its own copy of a template prefix (made by prefix.py), and
every prefix is stopped and removed afterwards, pass or fail.
"""
import os
import pathlib
import subprocess
import sys
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
import winelab  # noqa: E402

EXE = pathlib.Path(os.environ["SESSIONEND_EXE"])
LAUNCHER = pathlib.Path(os.environ["SESSIONEND_LAUNCHER"])
SLEEPER = pathlib.Path(os.environ["SESSIONEND_SLEEPER"])
TEMPLATE = pathlib.Path(os.environ["SESSIONEND_WINE_TEMPLATE"])

TRACE = "+relay,+loaddll"
NT_FAMILY_BIT = 0x80000000
FORCE = 4


def launch(prefix, command_line, debug=TRACE, **env):
    """Starts the program with exactly these command-line bytes."""
    line_file = prefix.path / "command-line.bin"
    line_file.write_bytes(command_line)
    return prefix.run([LAUNCHER, winelab.windows_path(EXE), winelab.windows_path(line_file)], debug=debug, **env)


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
        raise AssertionError(f"{len(requests)} session-end requests")
    flags, reserved = (int(a, 16) for a in requests[0].split(","))
    if reserved != 0:
        raise AssertionError(f"reserved argument {reserved:#x}")
    return flags


def server_lines(run, request):
    """The wineserver's record of a request, and of its reply."""
    return ([line for line in run.stderr.splitlines() if f": {request}( " in line],
            [line for line in run.stderr.splitlines() if f": {request}() = " in line])


def end(process):
    process.kill()
    process.wait()


class WineTest(unittest.TestCase):
    def setUp(self):
        self.prefix = winelab.Prefix(TEMPLATE)
        self.addCleanup(self.prefix.remove)


class CallSequence(WineTest):
    def test_nt_family_enables_the_privilege_then_requests(self):
        run = launch(self.prefix, b"sessionend.exe 1", debug=TRACE + ",+server")
        self.assertEqual(run.returncode, 0)
        calls = calls_of(run)
        names = [name for name, _, _ in calls]
        self.assertEqual(names, ["GetCommandLineA", "GetVersion", "OpenProcessToken", "LookupPrivilegeValueA",
                                 "AdjustTokenPrivileges", "ExitWindowsEx", "ExitProcess"])
        args = {name: a.split(",") for name, a, _ in calls}
        self.assertFalse(dict((n, r) for n, _, r in calls)["GetVersion"] & NT_FAMILY_BIT)
        # The current-process pseudo-handle, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY.
        self.assertEqual(args["OpenProcessToken"][:2], ["ffffffffffffffff", "00000028"])
        self.assertEqual(args["LookupPrivilegeValueA"][0], "00000000")
        self.assertTrue(args["LookupPrivilegeValueA"][1].endswith(' "SeShutdownPrivilege"'))
        # The token that the server handed out is the one adjusted, with one
        # entry that enables the shutdown privilege and asks for nothing back.
        thread, _ = winelab.program_thread(run.stderr, EXE)
        requests, replies = server_lines(run, "open_token")
        self.assertIn(f"{thread}: open_token( handle=ffffffff, access=00000028, attributes=00000000, flags=00000000 )",
                      requests)
        token = [line.rsplit("=", 1)[1].strip(" }") for line in replies if line.startswith(f"{thread}: ")]
        self.assertEqual(len(token), 1)
        adjust = args["AdjustTokenPrivileges"]
        self.assertEqual(int(adjust[0], 16), int(token[0], 16))
        self.assertEqual([adjust[1]] + adjust[3:], ["00000000"] * 4)
        requests, _ = server_lines(run, "adjust_token_privileges")
        self.assertEqual(requests, [f"{thread}: adjust_token_privileges( handle={token[0]}, disable_all=0, "
                                    "get_modified_state=0, privileges={{luid=0000000000000013,attrs=2}} )"])
        self.assertEqual(args["ExitWindowsEx"], ["00000001", "00000000"])
        self.assertEqual(args["ExitProcess"], ["00000000"])

    def test_windows_98_skips_the_privilege(self):
        self.prefix.import_registry(winelab.PRETEND_WIN98)
        run = launch(self.prefix, b"sessionend.exe 2")
        calls = calls_of(run)
        self.assertEqual([name for name, _, _ in calls],
                         ["GetCommandLineA", "GetVersion", "ExitWindowsEx", "ExitProcess"])
        self.assertTrue(calls[1][2] & NT_FAMILY_BIT, f"version word {calls[1][2]:#x}")
        self.assertEqual(request_of(run), 2)


CONTROL_BYTES = bytes(range(0x01, 0x21))
COMMAND_LINES = [
    # (what it shows, command line, flags that must reach ExitWindowsEx)
    ("quoted path with spaces", b'"C:\\Program Files\\Session Tools\\sessionend.exe" 2', 2),
    ("quoted name then digits", b'"sessionend.exe"9', 9),
    ("empty quoted name", b'""9', 9),
    ("name alone", b"sessionend.exe", 0),
    ("leading space", b" 4", 4),
    ("leading tab keeps the name", b"\tsessionend.exe 3", 0),
    ("control bytes separate", b"sessionend.exe" + CONTROL_BYTES + b"8", 8),
    ("unterminated quote", b'"sessionend.exe 9', 0),
    ("plus sign", b"sessionend.exe +8", 8),
    ("minus one", b"sessionend.exe -1", 0xFFFFFFFF),
    ("two signs", b"sessionend.exe +-5", 0),
    ("space after sign", b"sessionend.exe - 5", 0),
    ("leading zeros", b"sessionend.exe 010", 10),
    ("hex prefix", b"sessionend.exe 0x8", 0),
    ("word", b"sessionend.exe reboot", 0),
    ("number then word", b"sessionend.exe 6abc", 6),
    ("2^31", b"sessionend.exe 2147483648", 0x80000000),
    ("2^32", b"sessionend.exe 4294967296", 0),
    ("2^32 + 1", b"sessionend.exe 4294967297", 1),
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
                    self.assertEqual(run.returncode, 0)


class SessionEnds(WineTest):
    def end_session(self, flags):
        helper = self.prefix.start([SLEEPER])
        self.addCleanup(end, helper)
        host = subprocess.Popen(["sleep", "60"])
        self.addCleanup(end, host)
        time.sleep(1)
        self.assertIsNone(helper.poll(), "the helper did not start")
        run = launch(self.prefix, b"sessionend.exe %d" % flags, debug=TRACE + ",+process")
        self.assertEqual(request_of(run), flags)
        return run, helper, host, winelab.started_processes(run.stderr, EXE)

    def test_forced_request_ends_every_process_of_the_session(self):
        _, helper, host, wineboot = self.end_session(FORCE)
        self.assertTrue(any('wineboot.exe --kill --shutdown"' in line for line in wineboot), wineboot)
        deadline = time.monotonic() + 5
        while helper.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertIsNotNone(helper.poll(), "the helper outlived a forced session end")
        self.assertIsNone(host.poll(), "a host process was touched")

    def test_log_off_reaches_the_platform_and_succeeds(self):
        run, _, host, wineboot = self.end_session(0)
        self.assertEqual(run.returncode, 0)
        self.assertTrue(any('wineboot.exe --end-session --shutdown"' in line for line in wineboot), wineboot)
        self.assertIsNone(host.poll(), "a host process was touched")


class Refusal(WineTest):
    def test_a_refused_request_gives_status_1(self):
        # Without wineboot, Wine cannot carry out the request and says so.
        run = launch(self.prefix, b"sessionend.exe 1", WINEDLLOVERRIDES="mscoree,mshtml=;wineboot.exe=d")
        self.assertEqual(calls_of(run)[-2:], [("ExitWindowsEx", "00000001,00000000", 0),
                                              ("ExitProcess", "00000001", 0)])
        self.assertEqual(run.returncode, 1)


if __name__ == "__main__":
    unittest.main()
