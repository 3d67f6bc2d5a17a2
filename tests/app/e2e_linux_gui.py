#!/usr/bin/env python3
"""End to end on a Linux desktop: the real ovra7server (the Qt window, no --headless) on Xvfb
with a window manager (openbox), driven with real input (xdotool), against tools/reader-sim on a
pty found through a fake sysfs tree and a loopback card server.

Two runs, each a fresh program:
  tray host    (trayer, an XEmbed tray): starts hidden behind its icon; a second start shows the
               window at its place; the corner square expands it; a configuration button talks
               to the reader; a message box and the About box are answered; Escape hides; the
               icon's click shows; its menu stops and starts the service; 退出 on a mobile link
               asks, and Yes sends no DisconnectPlatform (No: app_e2e_linux_sni)
  no tray host starts shown; hiding minimises; a second start restores; SIGTERM exits without
               the question and tells the reader
Screenshots go to --artifacts. Exit 77 when a tool is missing or reader-sim is not built."""
import os
import signal
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_harness import BOUND, Bench, check, main, report  # noqa: E402
from e2e_helpers import wait_for  # noqa: E402
from linux_desktop import (ABOUT_BUTTON, ABOUT_TITLE, APP_CAPTION, QUERY_AUTH,  # noqa: E402
                           QUERY_HEARTBEAT, QUESTION_TITLE, TITLE, Desktop, answer_box,
                           choose_from_menu, client_point, expand, open_tray_menu)


def tray_run(args):
    desktop = Desktop(args.artifacts, tray=True)
    bench = Bench(args.reader_sim, desktop.env)
    try:
        check(bench.start(args.server), "the service started on the reader")
        check(wait_for(lambda: desktop.tray_icon() is not None, BOUND), "the icon is in the tray")
        check(not desktop.viewable(TITLE), "the window starts hidden")
        walk_through(args, desktop, bench)
        menu = open_tray_menu(desktop)
        disconnects = bench.said("DisconnectPlatform")
        if menu:
            choose_from_menu(desktop, menu, "退出")
            answer_box(desktop, QUESTION_TITLE, "Return")
        check(bench.exited(), "退出 answered Yes ends the program")
        check(bench.program.returncode == 0, "exit code 0")
        check(bench.said("DisconnectPlatform") == disconnects,
              "no DisconnectPlatform: the reader keeps its mobile link")
    finally:
        report(ovra7server=bench.program_said(), reader_sim=bench.reader.err.text())
        bench.close()
        desktop.close()


def walk_through(args, desktop, bench):
    check(bench.second_start(args.server) == 0, "a second start ends at once")
    check(desktop.wait_shown(TITLE), "a second start shows the window")
    check(wait_for(lambda: desktop.geometry(TITLE, frame=True)[:2] == (0, 0), BOUND),
          "the window stands at the screen's top-left corner, its frame included")
    desktop.shoot_window("linux-main-collapsed.png", TITLE)

    collapsed = expand(desktop)
    if check(collapsed, "a double click in the corner square expands the window"):
        x, y, w, h = collapsed
        ex, ey, ew, eh = desktop.geometry(TITLE)
        check((ex, ey, eh) == (x, y, h) and abs(ew - 2 * w) <= 2,
              "it kept its place and height and doubled its width: %dx%d -> %dx%d" % (w, h, ew, eh))
    # A configuration button talks to the reader; another one answers in a message box.
    for button, command in ((QUERY_AUTH, "GetAuthorizationInfo"),
                            (QUERY_HEARTBEAT, "GetHeartBeatInterval")):
        asked = bench.said(command)
        desktop.click(*client_point(desktop, button))
        check(wait_for(lambda: bench.said(command) > asked, BOUND), "查询 asked " + command)
    if desktop.wait_shown(APP_CAPTION):
        desktop.shoot_window("linux-message-box.png", APP_CAPTION)
    answer_box(desktop, APP_CAPTION, "Return")
    desktop.shoot_window("linux-main-expanded.png", TITLE)  # the reader's answers shown

    desktop.click(*client_point(desktop, ABOUT_BUTTON))
    if check(desktop.wait_shown(ABOUT_TITLE), "关于 opens the About box"):
        desktop.shoot_window("linux-about.png", ABOUT_TITLE)
        answer_box(desktop, ABOUT_TITLE, "Return")

    desktop.key(desktop.window_id(TITLE), "Escape")
    check(desktop.wait_shown(TITLE, False), "Escape hides the window")
    desktop.click_centre(desktop.tray_icon())
    check(desktop.wait_shown(TITLE), "a click on the icon shows the window")

    menu = open_tray_menu(desktop)
    if check(menu is not None, "the icon's menu opens"):
        mx, my, mw, mh = desktop.geometry(wid=menu)
        left = max(0, mx - 160)
        desktop.shoot("linux-tray-menu.png", (left, 0, min(1280, mx + mw + 20) - left, my + mh + 10))
        disconnects = bench.said("DisconnectPlatform")
        choose_from_menu(desktop, menu, "停止")
        check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects, BOUND),
              "停止 from the menu stops the service and tells the reader")
    menu = open_tray_menu(desktop)
    if menu:
        modes = bench.said("SetNetworkMode")
        choose_from_menu(desktop, menu, "启动")
        check(wait_for(lambda: bench.said("SetNetworkMode") > modes, BOUND),
              "启动 from the menu starts the service again")


def no_tray_run(args):
    label = "no tray host: "
    desktop = Desktop(args.artifacts, tray=False)
    bench = Bench(args.reader_sim, desktop.env)
    try:
        check(bench.start(args.server), label + "the service started on the reader")
        check(desktop.wait_shown(TITLE), label + "the window starts shown")
        check(wait_for(lambda: desktop.geometry(TITLE, frame=True)[:2] == (0, 0), BOUND),
              label + "at the screen's top-left corner, its frame included")
        check(wait_for(lambda: "no system tray" in bench.program_said(), BOUND),
              label + "the program says why the window stays")
        desktop.shoot_window("linux-no-tray.png", TITLE)
        wid = desktop.window_id(TITLE)
        desktop.key(wid, "Escape")
        check(desktop.wait_shown(TITLE, False), label + "Escape takes it off screen")
        check(wait_for(lambda: "Iconic" in desktop.x("xprop", "-id", wid, "WM_STATE"), BOUND),
              label + "... minimised, not hidden: the task bar keeps it")
        bench.second_start(args.server)
        check(desktop.wait_shown(TITLE), label + "a second start restores the window")
        disconnects = bench.said("DisconnectPlatform")
        bench.program.send_signal(signal.SIGTERM)
        check(bench.exited() and bench.program.returncode == 0,
              label + "SIGTERM ends it with exit code 0 (%s)" % bench.program.returncode)
        check(not desktop.viewable(QUESTION_TITLE), label + "no question on a signal")
        check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects, BOUND),
              label + "SIGTERM told the reader DisconnectPlatform")
    finally:
        report(ovra7server=bench.program_said())
        bench.close()
        desktop.close()


if __name__ == "__main__":
    sys.exit(main(lambda args: (tray_run(args), no_tray_run(args)), options=["--artifacts"],
                  tools=("Xvfb", "openbox", "trayer", "xdotool", "xwininfo", "xprop", "import")))
