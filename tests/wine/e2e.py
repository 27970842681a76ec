#!/usr/bin/python3
"""The real sessionend.exe on Wine, observed from the platform's side.

Each test runs in its own copy of a template prefix (made by prefix.py), and
every prefix is stopped and removed afterwards, pass or fail.
"""
import os
import pathlib
import sys
import time
import unittest
from unittest import mock

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
import winelab  # noqa: E402

EXE = pathlib.Path(os.environ["SESSIONEND_EXE"])
LAUNCHER = pathlib.Path(os.environ["SESSIONEND_LAUNCHER"])
SLEEPER = pathlib.Path(os.environ["SESSIONEND_SLEEPER"])
TEMPLATE = pathlib.Path(os.environ["SESSIONEND_WINE_TEMPLATE"])

TRACE = "+relay,+loaddll,+process"
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


def evidence(run):
    """What a failure report needs: the status, the request's traced result,
    how Wine started wineboot, Wine's own errors, and the trace's end."""
    try:
        calls = calls_of(run)
    except AssertionError as error:
        calls = [("no calls", str(error), 0)]
    lines = run.stderr.splitlines()
    return "\n".join([f"launcher status: {run.returncode}",
                      *(f"traced: {name}({args}) = {ret:#x}" for name, args, ret in calls[-2:]),
                      "wineboot start:", *(l for l in lines if ":process:" in l and "wineboot" in l),
                      "err: lines:", *[l for l in lines if ":err:" in l][-20:],
                      "last trace lines:", *lines[-15:]])


def check_status(test, run, usually_accepted=True):
    """The program's contract: status 0 when ExitWindowsEx returned nonzero,
    1 when it returned zero, passed to ExitProcess and seen by the launcher.
    Wine refusing a request is no fault of the program, but is reported."""
    calls = calls_of(run)
    accepted = [ret for name, _, ret in calls if name == "ExitWindowsEx"]
    exited = [int(args, 16) for name, args, _ in calls if name == "ExitProcess"]
    if len(accepted) != 1:
        test.fail(f"{len(accepted)} session-end requests\n{evidence(run)}")
    status = 0 if accepted[0] else 1
    if (exited, run.returncode) != ([status], status):
        test.fail(f"ExitWindowsEx returned {accepted[0]:#x}, so the status must be {status}; ExitProcess got "
                  f"{exited}\n{evidence(run)}")
    if usually_accepted and status:
        print(f"Wine refused a request it normally accepts; the program reported it as it should.\n"
              f"{evidence(run)}", file=sys.stderr)


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
        check_status(self, run)
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

    def test_windows_98_skips_the_privilege(self):
        self.prefix.import_registry(winelab.PRETEND_WIN98)
        run = launch(self.prefix, b"sessionend.exe 2")
        calls = calls_of(run)
        self.assertEqual([name for name, _, _ in calls],
                         ["GetCommandLineA", "GetVersion", "ExitWindowsEx", "ExitProcess"])
        self.assertTrue(calls[1][2] & NT_FAMILY_BIT, f"version word {calls[1][2]:#x}")
        self.assertEqual(request_of(run), 2)


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
                    check_status(self, run)


class SessionEnds(WineTest):
    def end_session(self, flags):
        helper = self.prefix.start([SLEEPER])
        self.addCleanup(end, helper)
        time.sleep(1)
        self.assertIsNone(helper.poll(), "the helper did not start")
        run = launch(self.prefix, b"sessionend.exe %d" % flags)
        self.assertEqual(request_of(run), flags)
        return run, helper, winelab.started_processes(run.stderr, EXE)

    def test_forced_request_ends_every_process_of_the_session(self):
        _, helper, wineboot = self.end_session(FORCE)
        self.assertTrue(any('wineboot.exe --kill --shutdown"' in line for line in wineboot), wineboot)
        deadline = time.monotonic() + 5
        while helper.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertIsNotNone(helper.poll(), "the helper outlived a forced session end")

    def test_log_off_reaches_the_platform_and_succeeds(self):
        run, _, wineboot = self.end_session(0)
        check_status(self, run)
        self.assertTrue(any('wineboot.exe --end-session --shutdown"' in line for line in wineboot), wineboot)


class Refusal(WineTest):
    def test_a_refused_request_gives_status_1(self):
        # Without wineboot, Wine cannot carry out the request and says so.
        run = launch(self.prefix, b"sessionend.exe 1", WINEDLLOVERRIDES="mscoree,mshtml=;wineboot.exe=d")
        self.assertEqual(calls_of(run)[-2][:2], ("ExitWindowsEx", "00000001,00000000"))
        check_status(self, run, usually_accepted=False)
        self.assertEqual(run.returncode, 1)


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
        self.assertEqual((set(scratch.iterdir()), winelab.processes_using(scratch)), (before, []))


if __name__ == "__main__":
    unittest.main()
