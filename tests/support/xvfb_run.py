#!/usr/bin/env python3
"""Runs a command on a private Xvfb display. For a wine command (a Windows GUI test; WINEPREFIX
names the suite's own prefix) the prefix is started clean, windows are left unmanaged, Chinese
texts get a CJK font, and the Windows program named in the command gets a virtual desktop the
size of the screen; every wine process of the prefix is ended before the display goes.

Usage: xvfb_run.py [--size WxH] COMMAND [ARGS...]   (default size 1024x600)
Exit status: the command's (128 + N when signal N ended it); 1 when no display or prefix."""
import os
import signal
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_prefix import CJK_FONT, UNMANAGED_WINDOWS, WinePrefix, own_desktop  # noqa: E402
from xvfb_display import Xvfb  # noqa: E402


def parse(args):
    size = (1024, 600)
    if args[:1] == ["--size"] and len(args) > 1:
        width, _, height = args[1].partition("x")
        if not (width.isdigit() and height.isdigit()):
            return None, None
        size, args = (int(width), int(height)), args[2:]
    return size, args


def run(command, env):
    code = subprocess.call(command, env=env)
    return 128 - code if code < 0 else code


def main():
    size, command = parse(sys.argv[1:])
    if not size or not command:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    # A termination (ctest's time-out) still ends wine and the display on the way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    try:
        xvfb = Xvfb(*size)
    except (RuntimeError, OSError) as e:
        print(e, file=sys.stderr)
        return 1
    with xvfb:
        env = xvfb.env()
        # Wine's part only for a wine command: a native GUI test must not end a wine server
        # that a WINEPREFIX left in the caller's environment names.
        if os.path.basename(command[0]) not in ("wine", "wine64"):
            # A wine command hidden behind env(1) would run without its prefix, desktop and
            # fonts: the suite must name wine first and pass its environment through ctest.
            if any(os.path.basename(a) in ("wine", "wine64") for a in command[1:]):
                print("name wine first; give WINEPREFIX and WINEDEBUG in the environment",
                      file=sys.stderr)
                return 1
            return run(command, env)
        if not env.get("WINEPREFIX"):
            print("a wine command needs WINEPREFIX (the suite's own prefix)", file=sys.stderr)
            return 1
        prefix = WinePrefix(env["WINEPREFIX"], env)
        try:
            if not prefix.start():
                print("wine prefix %s could not be started" % prefix.path, file=sys.stderr)
                return 1
            settings = dict(UNMANAGED_WINDOWS, **CJK_FONT)
            exes = [os.path.basename(a) for a in command if a.lower().endswith(".exe")]
            if exes:
                settings.update(own_desktop(exes[-1], *size))
            if not prefix.set_registry(settings):
                print("wine prefix %s: registry settings refused" % prefix.path, file=sys.stderr)
                return 1
            # The caller's WINEDEBUG (a trace channel while hunting a fault) wins.
            return run(command, dict(prefix.env, WINEDEBUG=os.environ.get("WINEDEBUG", "-all")))
        finally:
            prefix.stop()


if __name__ == "__main__":
    sys.exit(main())
