#!/usr/bin/env python3
"""End to end on a Linux desktop: a second start while the first instance holds the session's
mark but cannot show its window (it is still starting: no control socket yet) tells the user
"程序已启动，请在托盘处打开" in a box. SIGTERM while that box waits for its answer ends the box
and the program with exit code 0, as it ends a running instance.

The first instance is played by this script holding the lock file. Xvfb with openbox; the
screenshot goes to --artifacts. Exit 77 when a tool is missing."""
import fcntl
import os
import signal
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_harness import BOUND, Sandbox, check, main, report, spawn, stop  # noqa: E402
from e2e_helpers import wait_for  # noqa: E402
from linux_desktop import APP_CAPTION, Desktop  # noqa: E402


def run(args):
    desktop = Desktop(args.artifacts, tray=False)
    sandbox = Sandbox(desktop.env, ini=False)
    lock = open(os.path.join(sandbox.run, "ovra7server.lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)  # the first instance, still without its control socket
    program = spawn([args.server], sandbox.env)
    try:
        check(desktop.wait_shown(APP_CAPTION), "the second start shows its box")
        desktop.shoot_window("linux-start-box.png", APP_CAPTION)
        check(program.poll() is None, "the box waits for its answer")
        program.send_signal(signal.SIGTERM)
        check(wait_for(lambda: program.poll() is not None, BOUND) and program.returncode == 0,
              "SIGTERM ends the box and the program with exit code 0 (%s)" % program.poll())
    finally:
        stop(program)
        report(ovra7server=program.err.text())
        lock.close()
        sandbox.close()
        desktop.close()


if __name__ == "__main__":
    sys.exit(main(run, reader_sim=False, options=["--artifacts"],
                  tools=("Xvfb", "openbox", "xwininfo", "xprop", "import")))
