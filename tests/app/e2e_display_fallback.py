#!/usr/bin/env python3
"""End to end on Linux: ovra7server started for the desktop (no --headless) where no display
can be opened runs headless instead of ending in Qt: the platform named by QT_QPA_PLATFORM with
no DISPLAY, an X display that does not answer, a stale Wayland socket, a plugin that is not
installed, its Qt module missing or not loadable. Each time it says why in one line on standard
error, serves --control, has loaded no Qt library, and ends cleanly on SIGTERM. Started with
--headless it says nothing of windows and loads no Qt even where a display is named.

Every step waits for what it needs; time-outs only decide when to give up."""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_helpers import Checks, Collector, wait_for  # noqa: E402

check = Checks()
HEADLESS_LINE = "; running headless"


def stale_socket(path):
    """A Unix socket file whose owner has gone: there, but nobody accepts."""
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.bind(path)
    s.close()


def qt_libraries(pid):
    """The Qt libraries mapped into the process."""
    with open("/proc/%d/maps" % pid) as maps:
        return sorted({line.split()[-1] for line in maps if "libQt6" in line})


def run_case(server, base, what, settings, expect, args=()):
    """Starts the program with settings over an environment without any display; expect: the
    cause its line must name, or None when it must say nothing of windows."""
    home = os.path.join(base, what.replace(" ", "-"))
    run, config, tmp, sysfs, dev = (os.path.join(home, d)
                                    for d in ("run", "config", "tmp", "sys", "dev"))
    for d in (run, config, tmp, sysfs, dev):
        os.makedirs(d)
    os.chmod(run, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=config, TMPDIR=tmp,
               HOME=home, OVRA7_SYSFS_ROOT=sysfs, OVRA7_DEV_DIR=dev,
               DBUS_SESSION_BUS_ADDRESS="disabled:")
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    if "wayland" in settings.get("QT_QPA_PLATFORM", ""):
        # A plugin file where Qt would look, so that the socket is what decides; the socket in
        # the runtime folder of this run.
        plugins = os.path.join(home, "plugins")
        os.makedirs(plugins)
        open(os.path.join(plugins, "libqwayland.so"), "w").close()
        env["QT_QPA_PLATFORM_PLUGIN_PATH"] = plugins
        stale_socket(os.path.join(run, settings["WAYLAND_DISPLAY"]))
    env.update(settings)

    program = subprocess.Popen([server] + list(args), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               env=env)
    said = Collector(program.stderr)

    def serving():
        if program.poll() is not None:
            return True  # ended: no use waiting
        done = subprocess.run([server, "--control", "status"], env=env, capture_output=True,
                              text=True, timeout=60)
        # The instance answers (0, or 1 as it has no reader to ask); 3 is none running yet.
        return done.returncode in (0, 1) and done.stdout.strip().lstrip("-").isdigit()

    try:
        check(wait_for(serving, 60) and program.poll() is None,
              what + ": runs headless and serves --control (exit %s)" % program.poll())
        if program.poll() is None:
            loaded = qt_libraries(program.pid)
            check(not loaded, what + ": no Qt library loaded: %r" % loaded)
        if expect is None:
            check("no window" not in said.text(), what + ": says nothing of windows")
        else:
            check(wait_for(lambda: HEADLESS_LINE in said.text() or program.poll() is not None,
                           30) and HEADLESS_LINE in said.text(), what + ": says why")
            lines = [line for line in said.text().splitlines() if HEADLESS_LINE in line]
            check(len(lines) == 1 and expect in lines[0],
                  what + ": one line naming the cause: %r" % lines)
        if program.poll() is None:
            program.send_signal(signal.SIGTERM)
        program.wait(timeout=60)
        check(program.returncode == 0, what + ": SIGTERM ends it cleanly (exit %d)"
              % program.returncode)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
    if check.failures:
        print(what + ": ovra7server said:\n" + said.text()[-3000:])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    args = parser.parse_args()
    base = tempfile.mkdtemp(prefix="ovra7-display-")
    # The program alone, without its Qt module beside it; and beside a file that is no module.
    # Qt's offscreen platform needs no display, so the module is what decides.
    alone = os.path.join(base, "alone")
    broken = os.path.join(base, "broken")
    for folder in (alone, broken):
        os.makedirs(folder)
        shutil.copy(args.server, folder)
    with open(os.path.join(broken, "ovra7server-qt.so"), "w") as module:
        module.write("not a shared library\n")
    name = os.path.basename(args.server)
    cases = [
        ("xcb without DISPLAY", {"QT_QPA_PLATFORM": "xcb", "expect": "DISPLAY is not set"}),
        ("a display that does not answer", {"DISPLAY": ":4987", "expect": ":4987 does not answer"}),
        ("xcb on a display that does not answer",
         {"QT_QPA_PLATFORM": "xcb", "DISPLAY": ":4987", "expect": ":4987 does not answer"}),
        ("a stale Wayland display",
         {"QT_QPA_PLATFORM": "wayland", "WAYLAND_DISPLAY": "wayland-7",
          "expect": "wayland-7 does not accept connections"}),
        ("a platform plugin not installed",
         {"QT_QPA_PLATFORM": "nosuchplatform", "expect": "\"nosuchplatform\" is not installed"}),
    ]
    try:
        for what, settings in cases:
            settings = dict(settings)
            expect = settings.pop("expect")
            run_case(args.server, base, what, settings, expect)
        run_case(os.path.join(alone, name), base, "the Qt module missing",
                 {"QT_QPA_PLATFORM": "offscreen"}, "ovra7server-qt.so is not installed")
        run_case(os.path.join(broken, name), base, "a Qt module that does not load",
                 {"QT_QPA_PLATFORM": "offscreen"}, "the window module cannot be loaded")
        run_case(args.server, base, "--headless with a display named",
                 {"QT_QPA_PLATFORM": "offscreen", "DISPLAY": ":4987"}, None, ["--headless"])
    finally:
        shutil.rmtree(base, ignore_errors=True)
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
