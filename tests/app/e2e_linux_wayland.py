#!/usr/bin/env python3
"""End to end on a Wayland session with Wayland forced (QT_QPA_PLATFORM=wayland, no DISPLAY):
the real ovra7server on weston's headless back-end, on a private session bus (dbus-run-session)
where tests/support/sni_host.py is the StatusNotifier watcher and host; the reader is
tools/reader-sim on a pty.

Checked: the program draws on Wayland (no fall-back to headless), starts the service, its tray
icon registers as a StatusNotifierItem; the menu's 设置 shows the window and the program goes
on answering its control channel; SIGTERM ends it with exit code 0. weston's log and its
screenshot of the shown window go to --artifacts (linux-wayland-*). Exit 77 with one line when
weston, dbus-run-session, Python's GObject bindings or reader-sim is missing."""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_harness import BOUND, Bench, check, main, report, stop  # noqa: E402
from e2e_helpers import wait_for  # noqa: E402
from linux_desktop import MENU_ITEMS  # noqa: E402
from sni_client import SniHost, shape  # noqa: E402


def accepts(path):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        return s.connect_ex(path) == 0


class Weston:
    """weston --backend=headless-backend.so on a socket in a runtime folder of its own; env is
    that of a forced-Wayland session on it."""

    def __init__(self, artifacts):
        self.dir = tempfile.mkdtemp(prefix="ovra7-weston-")
        os.chmod(self.dir, 0o700)
        self.socket = os.path.join(self.dir, "wayland-ovra7")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.dir)
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)  # the headless back-end, never nested in a session of the caller
        self.log_path = os.path.join(artifacts, "linux-wayland-weston.log")
        with open(self.log_path, "wb") as log:
            # Drawn in memory (pixman) and open to weston-screenshooter (--debug).
            self.process = subprocess.Popen(
                ["weston", "--backend=headless-backend.so", "--use-pixman", "--debug",
                 "--socket=wayland-ovra7", "--idle-time=0", "--width=1280", "--height=800"],
                env=env, stdout=log, stderr=subprocess.STDOUT)
        if not wait_for(lambda: accepts(self.socket) or self.process.poll() is not None, BOUND) \
                or self.process.poll() is not None:
            self.close()
            raise RuntimeError("weston did not open its socket (exit code %s); see %s" %
                               (self.process.returncode, self.log_path))
        self.env = dict(os.environ, WAYLAND_DISPLAY=self.socket, QT_QPA_PLATFORM="wayland",
                        XDG_SESSION_TYPE="wayland")
        self.env.pop("DISPLAY", None)

    def shoot(self, path):
        """weston-screenshooter's picture of the output, as path; a check."""
        if os.path.exists(path):
            os.remove(path)
        work = tempfile.mkdtemp(dir=self.dir)
        subprocess.run(["weston-screenshooter"], cwd=work, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30,
                       env=dict(os.environ, XDG_RUNTIME_DIR=self.dir, WAYLAND_DISPLAY=self.socket))
        shots = [f for f in os.listdir(work) if f.endswith(".png")]
        if shots:
            shutil.move(os.path.join(work, shots[0]), path)
        return check(os.path.exists(path), "screenshot " + path)

    def close(self):
        stop(self.process)
        shutil.rmtree(self.dir, ignore_errors=True)


def run(args):
    weston = Weston(args.artifacts)
    host = SniHost(args.python, dict(os.environ))
    bench = Bench(args.reader_sim, weston.env)
    try:
        check(bench.start(args.server), "the service started on the reader")
        check("running headless" not in bench.program_said(),
              "the program draws on Wayland, not headless")
        item = host.ask("wait-item")
        check("service" in item, "the icon registered as a StatusNotifierItem: %s" % item)
        check("no system tray" not in bench.program_said(), "the program found the tray")
        labels, _, ids = shape(host.ask("layout"))
        check(labels == MENU_ITEMS, "the tray menu holds its four items: %s" % labels)
        if labels == MENU_ITEMS:
            check(host.ask("click %d" % ids[0]).get("ok"), "设置 clicked")
            code, out, _ = bench.sandbox.control(args.server, "status")
            check(code == 0 and out.lstrip("-").isdigit(),
                  "with its window shown the program answers --control status: %s" % out)
            weston.shoot(os.path.join(args.artifacts, "linux-wayland-window.png"))
        bench.program.send_signal(signal.SIGTERM)
        check(bench.exited() and bench.program.returncode == 0,
              "SIGTERM ends it with exit code 0 (%s)" % bench.program.returncode)
        check(weston.process.poll() is None, "weston still runs")
    finally:
        report(ovra7server=bench.program_said(), sni_host=host.err.text())
        bench.close()
        host.close()
        weston.close()


if __name__ == "__main__":
    sys.exit(main(run, options=["--artifacts"], tools=("weston",), gi=True, private_bus=True))
