#!/usr/bin/env python3
"""End to end on a Wayland session with Wayland forced (QT_QPA_PLATFORM=wayland, no DISPLAY):
the real ovra7server on weston's headless back-end, on a private session bus (dbus-run-session)
where tests/support/sni_host.py is the StatusNotifier watcher and host; the reader is
tools/reader-sim on a pty.

Checked: the program draws on Wayland (no fall-back to headless), starts the service, its tray
icon registers as a StatusNotifierItem and the window stays hidden behind it; the menu's 设置
shows the window and the program goes on answering its control channel; SIGTERM ends it with
exit code 0 after telling the reader DisconnectPlatform, and the item leaves the watcher.
weston's log and its screenshot of the shown window go to --artifacts (linux-wayland-*). Exit 77 with one line when weston,
dbus-run-session, Python's GObject bindings or reader-sim is missing."""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_linux_gui import Bench, check, failures, wait_for  # noqa: E402
from e2e_linux_sni import PRIVATE_BUS_MARK, SniHost, gi_python, shape  # noqa: E402

MENU_ITEMS = ["设置", "启动", "停止", "退出"]


def accepts(path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.connect(path)
        return True
    except OSError:
        return False
    finally:
        s.close()


class Weston:
    """weston --backend=headless-backend.so on a socket in a runtime folder of its own."""

    def __init__(self, artifacts):
        self.dir = tempfile.mkdtemp(prefix="ovra7-weston-")
        os.chmod(self.dir, 0o700)
        self.socket = os.path.join(self.dir, "wayland-ovra7")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.dir)
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)  # the headless back-end, never nested in a session of the caller
        self.log_path = os.path.join(artifacts, "linux-wayland-weston.log")
        self.log = open(self.log_path, "wb")
        self.process = subprocess.Popen(
            # Drawn in memory (pixman) and open to weston-screenshooter (--debug).
            ["weston", "--backend=headless-backend.so", "--use-pixman", "--debug",
             "--socket=wayland-ovra7", "--idle-time=0", "--width=1280", "--height=800"], env=env, stdout=self.log, stderr=subprocess.STDOUT)
        if not wait_for(lambda: accepts(self.socket) or self.process.poll() is not None):
            raise RuntimeError("weston did not open its socket")
        if self.process.poll() is not None:
            raise RuntimeError("weston ended (exit code %s); see %s" %
                               (self.process.returncode, self.log_path))

    def shoot(self, path):
        """weston-screenshooter's picture of the output, as path; False when none was made."""
        if os.path.exists(path):
            os.remove(path)
        work = tempfile.mkdtemp(dir=self.dir)
        env = dict(os.environ, XDG_RUNTIME_DIR=self.dir, WAYLAND_DISPLAY=self.socket)
        subprocess.run(["weston-screenshooter"], cwd=work, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        shots = [f for f in os.listdir(work) if f.endswith(".png")]
        if shots:
            shutil.move(os.path.join(work, shots[0]), path)
        return check(os.path.exists(path), "screenshot " + path)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class WaylandDesktop:
    """What Bench takes from a desktop: the environment of a forced-Wayland session."""

    def __init__(self, weston):
        self.env = dict(os.environ, WAYLAND_DISPLAY=weston.socket, QT_QPA_PLATFORM="wayland",
                        XDG_SESSION_TYPE="wayland")
        self.env.pop("DISPLAY", None)


def run(args, python):
    weston = Weston(args.artifacts)
    host = SniHost(python, dict(os.environ))
    bench = Bench(args.reader_sim, WaylandDesktop(weston))

    def control(*words):
        done = subprocess.run([args.server, "--control", *words], env=bench.env,
                              capture_output=True, text=True, timeout=90)
        return done.returncode, done.stdout.strip()

    try:
        check(bench.start(args.server), "the service started on the reader")
        said = bench.program_err.text()
        check("running headless" not in said, "the program draws on Wayland, not headless")
        item = host.ask("wait-item")
        check("service" in item, "the icon registered as a StatusNotifierItem: %s" % item)
        check("no system tray" not in bench.program_err.text(), "the program found the tray")
        labels, _, ids = shape(host.ask("layout"))
        check(labels == MENU_ITEMS, "the tray menu holds its four items: %s" % labels)
        if labels == MENU_ITEMS:
            check(host.ask("click %d" % ids[0]).get("ok"), "设置 clicked")
            code, out = control("status")
            check(code == 0 and out.lstrip("-").isdigit(),
                  "with its window shown the program answers --control status: %s" % out)
            weston.shoot(os.path.join(args.artifacts, "linux-wayland-window.png"))
        disconnects = bench.said("DisconnectPlatform")
        bench.program.send_signal(signal.SIGTERM)
        check(wait_for(lambda: bench.program.poll() is not None), "SIGTERM ends it")
        check(bench.program.returncode == 0, "exit code 0 (was %s)" % bench.program.returncode)
        check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects, 5),
              "SIGTERM told the reader DisconnectPlatform")
        check(wait_for(lambda: host.ask("items").get("items") == []),
              "the item left the watcher with the program")
        check(weston.process.poll() is None, "weston still runs")
    finally:
        if failures:
            print("ovra7server said:\n" + (bench.program_err.text() if bench.program_err else ""))
            print("sni_host said:\n" + host.err.text()[-2000:])
        bench.close()
        host.close()
        weston.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--reader-sim", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    python = gi_python()
    missing = [t for t in ("weston", "dbus-run-session") if not shutil.which(t)]
    if not python:
        missing.append("Python with GObject introspection (python3-gi)")
    if missing or not os.access(args.reader_sim, os.X_OK):
        print("skipped: missing " + ", ".join(missing or ["reader-sim"]))
        return 77
    if not os.environ.get(PRIVATE_BUS_MARK):
        # Again inside a session bus of our own, which ends with the run.
        env = dict(os.environ, **{PRIVATE_BUS_MARK: "1"})
        return subprocess.call(["dbus-run-session", "--", sys.executable] + sys.argv, env=env)
    os.makedirs(args.artifacts, exist_ok=True)
    run(args, python)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
