#!/usr/bin/env python3
"""End to end on a StatusNotifier desktop (KDE Plasma, GNOME with AppIndicator): the real
ovra7server (the Qt window, no --headless) on Xvfb with openbox, on a private session bus
(dbus-run-session) where tests/support/sni_host.py is the StatusNotifier watcher and host. The
host reads the icon's menu over com.canonical.dbusmenu as such desktops do and clicks its items;
the reader is tools/reader-sim on a pty, reporting a mobile-data link.

Checked: the icon registers as an item and the window stays hidden; the menu holds its four
items before any opening (a host may read it without AboutToShow), with 启动 disabled while the
service runs and 停止 disabled once stopped; every item keeps its id across state changes and
openings, so ids read once stay clickable; 设置 shows the window, 停止 and 启动 stop and start
the service, 退出 asks its question and (answered No) ends the program, which leaves the bus.
The menu as received goes to --artifacts/linux-sni-menu.txt. Exit 77 with one line when
dbus-run-session, Python's GObject bindings, a desktop tool or reader-sim is missing."""
import argparse
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_linux import Collector  # noqa: E402
from e2e_linux_gui import (QUESTION_TITLE, TITLE, Bench, Desktop, check, failures,  # noqa: E402
                           wait_for)

SUPPORT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support")
HOST_SCRIPT = os.path.join(SUPPORT, "sni_host.py")
MENU_ITEMS = ["设置", "启动", "停止", "退出"]
RUNNING = [True, False, True, True]  # enabled states while the service is requested
STOPPED = [True, True, False, True]
BOUND = 30  # seconds: a generous bound for every answer waited for
PRIVATE_BUS_MARK = "OVRA7_SNI_PRIVATE_BUS"


def gi_python():
    """A Python that has GObject introspection (Debian's python3-gi), or None."""
    for candidate in (sys.executable, "/usr/bin/python3"):
        if candidate and os.access(candidate, os.X_OK) and subprocess.run(
                [candidate, "-c", "import gi; gi.require_version('Gio', '2.0');"
                 "from gi.repository import Gio"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return candidate
    return None


class SniHost:
    """sni_host.py as a child; ask() sends one command and returns its JSON answer."""

    def __init__(self, python, env):
        self.process = subprocess.Popen([python, HOST_SCRIPT], env=env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.err = Collector(self.process.stderr)
        self.lines = Collector(self.process.stdout)
        self.read = 0
        if self.next_answer() != {"ready": True}:
            raise RuntimeError("sni_host did not start: " + self.err.text())

    def next_answer(self):
        found = []

        def arrived():
            lines = self.lines.text().splitlines(keepends=True)
            complete = [l for l in lines if l.endswith("\n")]
            if len(complete) > self.read:
                found.append(json.loads(complete[self.read]))
                self.read += 1
                return True
            return self.process.poll() is not None

        wait_for(arrived, BOUND)
        return found[0] if found else {"error": "no answer: " + self.err.text()[-500:]}

    def ask(self, command):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()
        return self.next_answer()

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()


class MenuLog:
    """The menus as the host received them, written out after every read."""

    def __init__(self, path):
        self.path = path
        self.text = ""
        if os.path.exists(path):
            os.remove(path)

    def add(self, title, layout):
        lines = ["%s (revision %s):" % (title, layout.get("revision"))]
        for item in layout.get("items", []):
            lines.append("  id %-3s %-6s %-8s %s" % (
                item["id"], item["label"], "enabled" if item["enabled"] else "disabled",
                json.dumps(item["properties"], ensure_ascii=False, sort_keys=True)))
        if "error" in layout:
            lines.append("  error: " + layout["error"])
        self.text += "\n".join(lines) + "\n\n"
        with open(self.path, "w") as f:
            f.write(self.text)


def shape(layout):
    items = layout.get("items", [])
    return [i["label"] for i in items], [i["enabled"] for i in items], [i["id"] for i in items]


def wait_states(host, log, title, states):
    """The menu once its enabled states are `states` (read again while they are not yet)."""
    seen = {}

    def reached():
        seen.clear()
        seen.update(host.ask("layout"))
        return shape(seen)[1] == states

    wait_for(reached, BOUND)
    log.add(title, seen)
    return seen


def run(args, python):
    env = dict(os.environ)
    host = SniHost(python, env)
    desktop = Desktop(args.artifacts, tray=False, session_bus=True)
    bench = Bench(args.reader_sim, desktop)
    log = MenuLog(os.path.join(args.artifacts, "linux-sni-menu.txt"))
    try:
        check(bench.start(args.server), "the service started on the reader")
        item = host.ask("wait-item")
        check("service" in item, "the icon registered as a StatusNotifierItem: %s" % item)
        check(item.get("menu", "/") != "/", "the item names its menu")
        check(not desktop.viewable(TITLE), "the window starts hidden behind its icon")
        check("no system tray" not in bench.program_err.text(), "the program found the tray")

        first = host.ask("layout")
        log.add("running service, read before any AboutToShow", first)
        labels, states, ids = shape(first)
        check(labels == MENU_ITEMS, "the menu holds its four items before any opening: %s" % labels)
        check(states == RUNNING, "启动 disabled, the others enabled while running: %s" % states)
        if labels != MENU_ITEMS:
            return
        by_label = dict(zip(labels, ids))

        check(host.ask("click %d" % by_label["设置"]).get("ok"), "设置 clicked")
        check(wait_for(lambda: desktop.viewable(TITLE)), "设置 shows the window")

        disconnects = bench.said("DisconnectPlatform")
        check(host.ask("click %d" % by_label["停止"]).get("ok"), "停止 clicked")
        check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects),
              "停止 stops the service and tells the reader")
        stopped = wait_states(host, log, "after 停止", STOPPED)
        check(shape(stopped)[1] == STOPPED, "停止 disabled, 启动 enabled once stopped: %s" %
              shape(stopped)[1])
        check(shape(stopped)[2] == ids, "the items kept their ids: %s" % shape(stopped)[2])

        # A host's opening: AboutToShow, then the layout; still the same items.
        check("update_needed" in host.ask("about-to-show"), "AboutToShow answered")
        opened = host.ask("layout")
        log.add("after AboutToShow (an opening)", opened)
        check(shape(opened)[1:] == (STOPPED, ids), "an opening changes neither states nor ids")

        modes = bench.said("SetNetworkMode")
        check(host.ask("click %d" % by_label["启动"]).get("ok"), "启动 clicked by its first id")
        check(wait_for(lambda: bench.said("SetNetworkMode") > modes),
              "启动 starts the service again")
        running = wait_states(host, log, "after 启动", RUNNING)
        check(shape(running)[1:] == (RUNNING, ids), "running again, same ids: %s" %
              (shape(running)[1:],))

        disconnects = bench.said("DisconnectPlatform")
        check(host.ask("click %d" % by_label["退出"]).get("ok"), "退出 clicked")
        check(wait_for(lambda: desktop.viewable(QUESTION_TITLE)),
              "退出 asks whether to keep the mobile link")
        desktop.shoot_window("linux-sni-exit-question.png", QUESTION_TITLE)
        desktop.key(desktop.window_id(QUESTION_TITLE), "Escape")
        check(wait_for(lambda: bench.program.poll() is not None), "answered No, the program exits")
        check(bench.program.returncode == 0, "exit code 0")
        check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects, 5),
              "No tells the reader DisconnectPlatform")
        check(wait_for(lambda: host.ask("items").get("items") == []),
              "the item left the watcher with the program")
    finally:
        if failures:
            print("ovra7server said:\n" + (bench.program_err.text() if bench.program_err else ""))
            print("sni_host said:\n" + host.err.text()[-2000:])
            print("reader-sim said:\n" + bench.reader_err.text()[-2000:])
        bench.close()
        desktop.close()
        host.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--reader-sim", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    python = gi_python()
    missing = [t for t in ("dbus-run-session", "Xvfb", "openbox", "xdotool", "xwininfo", "xprop",
                           "import") if not shutil.which(t)]
    if not python:
        missing.append("Python with GObject introspection (python3-gi)")
    if missing or not os.access(args.reader_sim, os.X_OK):
        print("skipped: missing " + ", ".join(missing or ["reader-sim"]))
        return 77
    if not os.environ.get(PRIVATE_BUS_MARK):
        # Again inside a session bus of our own, which ends with the run: no desktop's watcher
        # or items can meet ours.
        env = dict(os.environ, **{PRIVATE_BUS_MARK: "1"})
        return subprocess.call(["dbus-run-session", "--", sys.executable] + sys.argv, env=env)
    os.makedirs(args.artifacts, exist_ok=True)
    run(args, python)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
