#!/usr/bin/env python3
"""End to end on a Linux desktop: a second start while the first instance holds the session's
mark but cannot show its window (it is still starting: no control socket yet) tells the user
"程序已启动，请在托盘处打开" in a box. SIGTERM while that box waits for its answer ends the box
and the program with exit code 0, as it ends a running instance.

The first instance is played by this script holding the lock file. Xvfb with openbox; the
screenshot goes to --artifacts. Exit 77 when a tool is missing."""
import argparse
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_linux_gui import APP_CAPTION, Desktop, check, failures, wait_for  # noqa: E402


def box_run(args):
    desktop = Desktop(args.artifacts, tray=False)
    base = tempfile.mkdtemp(prefix="ovra7-start-box-")
    run = os.path.join(base, "run")
    os.makedirs(run, mode=0o700)
    lock = open(os.path.join(run, "ovra7server.lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)  # the first instance, still without its control socket
    env = dict(desktop.env, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=os.path.join(base, "config"),
               TMPDIR=base, HOME=base)
    program = subprocess.Popen([args.server], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    try:
        check(wait_for(lambda: desktop.viewable(APP_CAPTION)), "the second start shows its box")
        desktop.shoot_window("linux-start-box.png", APP_CAPTION)
        check(program.poll() is None, "the box waits for its answer")
        program.send_signal(signal.SIGTERM)
        check(wait_for(lambda: program.poll() is not None), "SIGTERM ends the box and the program")
        check(program.returncode == 0, "exit code 0 (was %s)" % program.returncode)
        check(not desktop.viewable(APP_CAPTION), "the box is gone")
    finally:
        if program.poll() is None:
            program.kill()
        _, err = program.communicate(timeout=30)
        if failures:
            print("ovra7server said:\n" + err.decode(errors="replace"))
        lock.close()
        shutil.rmtree(base, ignore_errors=True)
        desktop.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    missing = [t for t in ("Xvfb", "openbox", "xwininfo", "xprop", "import")
               if not shutil.which(t)]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        return 77
    os.makedirs(args.artifacts, exist_ok=True)
    box_run(args)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
