"""python3 -m winelab.demo SESSIONEND SLEEPER FLAGS: one real run, in a throwaway prefix.

A windowless helper is started first, so that the end of the session can be
seen: a forced request ends it, any other leaves windowless processes alone.
"""
import pathlib
import subprocess
import sys

import winelab

exe, sleeper, flags = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), sys.argv[3]

print("Making a throwaway Wine prefix ...", flush=True)
with winelab.throwaway_prefix() as prefix:
    helper, ready = prefix.start_sleeper(sleeper)
    if not ready:
        # Without it running, the end of the session could not be told apart
        # from a helper that never started.
        if helper.poll() is None:
            helper.kill()
        print(f"The helper process never ran in the prefix (wine's status: {helper.wait()}); "
              "nothing was run.", file=sys.stderr)
        sys.exit(1)
    print(f"Running: sessionend.exe {flags}   (prefix {prefix.path}, helper process {helper.pid})\n")
    run = prefix.run([exe, flags], debug="+relay,+loaddll,+process")
    print("Calls the program made, as Wine traced them:")
    for call in winelab.program_calls(run.stderr, exe):
        print(f"  {call.function}({call.args})" + ("" if call.function.endswith("ExitProcess") else
                                                   f" = {call.ret:#x}"))
    for command_line in winelab.started_processes(run.stderr, exe):
        print(f"Wine's answer to the request: it started {command_line}")
    print(f"Exit status: {run.returncode}")
    try:
        helper.wait(timeout=5)
        print("Wine session: ended (the helper process was ended with it)")
    except subprocess.TimeoutExpired:
        print("Wine session: its windowless helper is still running (only a forced request, 4, ends it)")
        helper.kill()
        helper.wait()
print("Prefix removed; the host's own session was not touched.")
