#!/usr/bin/env python3
"""End to end on Linux: ovra7server started for the desktop (no --headless) where no display
can be opened runs headless instead of ending in Qt: the platform named by QT_QPA_PLATFORM with
no DISPLAY, an X display that does not answer, a stale Wayland socket, a plugin that is not
installed, its Qt module missing or not loadable. Each time it says why in one line on standard
error, serves --control, has loaded no Qt library, and ends cleanly on SIGTERM. Started with
--headless it says nothing of windows and loads no Qt even where a display is named.

Every step waits for what it needs; time-outs only decide when to give up."""
import os
import shutil
import signal
import socket
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_harness import BOUND, Sandbox, check, main, report, spawn, stop  # noqa: E402
from e2e_helpers import wait_for  # noqa: E402

HEADLESS_LINE = "; running headless"


def qt_libraries(pid):
    """The Qt libraries mapped into the process."""
    with open("/proc/%d/maps" % pid) as maps:
        return sorted({line.split()[-1] for line in maps if "libQt6" in line})


def run_case(server, what, settings, expect, args=()):
    """Starts the program with settings over an environment without any display; expect: the
    cause its line must name, or None when it must say nothing of windows."""
    sandbox = Sandbox(ini=False)
    env = dict(sandbox.env, DBUS_SESSION_BUS_ADDRESS="disabled:")
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    if "wayland" in settings.get("QT_QPA_PLATFORM", ""):
        # A plugin file where Qt would look, so that the socket is what decides; the socket, one
        # whose owner has gone, in the runtime folder of this run.
        plugins = os.path.join(sandbox.base, "plugins")
        os.makedirs(plugins)
        open(os.path.join(plugins, "libqwayland.so"), "w").close()
        env["QT_QPA_PLATFORM_PLUGIN_PATH"] = plugins
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as stale:
            stale.bind(os.path.join(sandbox.run, settings["WAYLAND_DISPLAY"]))
    env.update(settings)
    sandbox.env = env
    program = spawn([server] + list(args), env)

    def serving():
        if program.poll() is not None:
            return True  # ended: no use waiting
        code, out, _ = sandbox.control(server, "status")
        # The instance answers (0, or 1 as it has no reader to ask); 3 is none running yet.
        return code in (0, 1) and out.lstrip("-").isdigit()

    try:
        check(wait_for(serving, BOUND) and program.poll() is None,
              what + ": runs headless and serves --control (exit %s)" % program.poll())
        if program.poll() is None:
            loaded = qt_libraries(program.pid)
            check(not loaded, what + ": no Qt library loaded: %r" % loaded)
        if expect is None:
            check("no window" not in program.err.text(), what + ": says nothing of windows")
        else:
            check(wait_for(lambda: HEADLESS_LINE in program.err.text() or
                           program.poll() is not None, BOUND) and
                  HEADLESS_LINE in program.err.text(), what + ": says why")
            lines = [line for line in program.err.text().splitlines() if HEADLESS_LINE in line]
            check(len(lines) == 1 and expect in lines[0],
                  what + ": one line naming the cause: %r" % lines)
        if program.poll() is None:
            program.send_signal(signal.SIGTERM)
        program.wait(timeout=BOUND)
        check(program.returncode == 0, what + ": SIGTERM ends it cleanly (exit %d)"
              % program.returncode)
    finally:
        stop(program)
        report(ovra7server=program.err.text())
        sandbox.close()


def run(args):
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
    try:
        for what, settings, expect in [
                ("xcb without DISPLAY", {"QT_QPA_PLATFORM": "xcb"}, "DISPLAY is not set"),
                ("a display that does not answer", {"DISPLAY": ":4987"}, ":4987 does not answer"),
                ("xcb on a display that does not answer",
                 {"QT_QPA_PLATFORM": "xcb", "DISPLAY": ":4987"}, ":4987 does not answer"),
                ("a stale Wayland display",
                 {"QT_QPA_PLATFORM": "wayland", "WAYLAND_DISPLAY": "wayland-7"},
                 "wayland-7 does not accept connections"),
                ("a platform plugin not installed", {"QT_QPA_PLATFORM": "nosuchplatform"},
                 "\"nosuchplatform\" is not installed")]:
            run_case(args.server, what, settings, expect)
        run_case(os.path.join(alone, name), "the Qt module missing",
                 {"QT_QPA_PLATFORM": "offscreen"}, "ovra7server-qt.so is not installed")
        run_case(os.path.join(broken, name), "a Qt module that does not load",
                 {"QT_QPA_PLATFORM": "offscreen"}, "the window module cannot be loaded")
        run_case(args.server, "--headless with a display named",
                 {"QT_QPA_PLATFORM": "offscreen", "DISPLAY": ":4987"}, None, ["--headless"])
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(run, reader_sim=False))
