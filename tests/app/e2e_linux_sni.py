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
import json
import os
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_harness import BOUND, Bench, check, main, report  # noqa: E402
from e2e_helpers import wait_for  # noqa: E402
from linux_desktop import MENU_ITEMS, QUESTION_TITLE, TITLE, Desktop  # noqa: E402
from sni_client import SniHost, shape  # noqa: E402

RUNNING = [True, False, True, True]  # enabled states while the service is requested
STOPPED = [True, True, False, True]


class MenuLog:
    """The menus as the host received them, written out after every read."""

    def __init__(self, path):
        self.path, self.text = path, ""
        open(path, "w").close()  # no menu of an earlier run passes for this one's

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
        return layout


def wait_states(host, log, title, states):
    """The menu once its enabled states are `states` (read again while they are not yet)."""
    seen = {}

    def reached():
        seen.clear()
        seen.update(host.ask("layout"))
        return shape(seen)[1] == states

    wait_for(reached, BOUND)
    return log.add(title, seen)


def run(args):
    host = SniHost(args.python, dict(os.environ))
    desktop = Desktop(args.artifacts, tray=False, session_bus=True)
    bench = Bench(args.reader_sim, desktop.env)
    log = MenuLog(os.path.join(args.artifacts, "linux-sni-menu.txt"))
    try:
        check(bench.start(args.server), "the service started on the reader")
        item = host.ask("wait-item")
        check("service" in item, "the icon registered as a StatusNotifierItem: %s" % item)
        check(item.get("menu", "/") != "/", "the item names its menu")
        check(not desktop.viewable(TITLE), "the window starts hidden behind its icon")

        labels, states, ids = shape(log.add("running service, read before any AboutToShow",
                                            host.ask("layout")))
        check(labels == MENU_ITEMS, "the menu holds its four items before any opening: %s" % labels)
        check(states == RUNNING, "启动 disabled, the others enabled while running: %s" % states)
        if labels != MENU_ITEMS:
            return
        by_label = dict(zip(labels, ids))

        check(host.ask("click %d" % by_label["设置"]).get("ok"), "设置 clicked")
        check(desktop.wait_shown(TITLE), "设置 shows the window")

        disconnects = bench.said("DisconnectPlatform")
        check(host.ask("click %d" % by_label["停止"]).get("ok"), "停止 clicked")
        check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects, BOUND),
              "停止 stops the service and tells the reader")
        stopped = shape(wait_states(host, log, "after 停止", STOPPED))
        check(stopped[1] == STOPPED, "停止 disabled, 启动 enabled once stopped: %s" % stopped[1])
        check(stopped[2] == ids, "the items kept their ids: %s" % stopped[2])

        # A host's opening: AboutToShow, then the layout; still the same items.
        check("update_needed" in host.ask("about-to-show"), "AboutToShow answered")
        opened = log.add("after AboutToShow (an opening)", host.ask("layout"))
        check(shape(opened)[1:] == (STOPPED, ids), "an opening changes neither states nor ids")

        modes = bench.said("SetNetworkMode")
        check(host.ask("click %d" % by_label["启动"]).get("ok"), "启动 clicked by its first id")
        check(wait_for(lambda: bench.said("SetNetworkMode") > modes, BOUND),
              "启动 starts the service again")
        running = shape(wait_states(host, log, "after 启动", RUNNING))
        check(running[1:] == (RUNNING, ids), "running again, same ids: %s" % (running[1:],))

        disconnects = bench.said("DisconnectPlatform")
        check(host.ask("click %d" % by_label["退出"]).get("ok"), "退出 clicked")
        check(desktop.wait_shown(QUESTION_TITLE), "退出 asks whether to keep the mobile link")
        desktop.shoot_window("linux-sni-exit-question.png", QUESTION_TITLE)
        desktop.key(desktop.window_id(QUESTION_TITLE), "Escape")
        check(bench.exited(), "answered No, the program exits")
        check(bench.program.returncode == 0, "exit code 0")
        check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects, BOUND),
              "No tells the reader DisconnectPlatform")
        check(wait_for(lambda: host.ask("items").get("items") == [], BOUND),
              "the item left the watcher with the program")
    finally:
        report(ovra7server=bench.program_said(), sni_host=host.err.text(),
               reader_sim=bench.reader.err.text())
        bench.close()
        desktop.close()
        host.close()


if __name__ == "__main__":
    sys.exit(main(run, options=["--artifacts"], gi=True, private_bus=True,
                  tools=("Xvfb", "openbox", "xdotool", "xwininfo", "xprop", "import")))
