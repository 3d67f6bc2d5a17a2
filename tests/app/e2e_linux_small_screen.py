#!/usr/bin/env python3
"""End to end on small screens: the real ovra7server (the Qt window) on Xvfb with openbox and a
40-pixel panel along the bottom (trayer, reserving its band as a desktop panel does), at
1366 x 768 (the commonest laptop screen) and at 1280 x 720 (1920 x 1080 at 150 %). The window,
shown by a second start and expanded by a double click in its corner square, must lie inside
the work area, frame and all, and its bottom row must take clicks: 关于 opens the About box.
Screenshots: --artifacts/linux-main-1366x768.png and linux-main-1280x720.png.
Exit 77 when a tool is missing or reader-sim is not built."""
import os
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_harness import BOUND, Bench, check, main, report  # noqa: E402
from e2e_helpers import wait_for  # noqa: E402
from linux_desktop import (ABOUT_BUTTON, ABOUT_TITLE, TITLE, Desktop, answer_box,  # noqa: E402
                           client_point, expand)

PANEL = ("bottom", 40)


def inside(rect, area):
    x, y, w, h = rect
    ax, ay, aw, ah = area
    return x >= ax and y >= ay and x + w <= ax + aw and y + h <= ay + ah


def screen_run(args, size):
    label = "%dx%d: " % size
    desktop = Desktop(args.artifacts, tray=True, size=size, panel=PANEL)
    bench = Bench(args.reader_sim, desktop.env)
    try:
        area = desktop.work_area()
        check(area == (0, 0, size[0], size[1] - PANEL[1]),
              label + "the panel takes its band off the work area: %s" % (area,))
        check(bench.start(args.server), label + "the service started on the reader")
        # Up to its icon, so that a second start finds it ready to show its window.
        check(wait_for(lambda: desktop.tray_icon() is not None, BOUND),
              label + "the icon is in the tray")
        bench.second_start(args.server)
        check(desktop.wait_shown(TITLE), label + "a second start shows the window")
        check(wait_for(lambda: inside(desktop.geometry(TITLE, frame=True), area), BOUND),
              label + "inside the work area: %s" % (desktop.geometry(TITLE, frame=True),))
        check(expand(desktop), label + "expanded")
        frame = desktop.geometry(TITLE, frame=True)
        check(inside(frame, area), label + "expanded, still inside the work area: %s" % (frame,))
        desktop.shoot("linux-main-%dx%d.png" % size)
        desktop.click(*client_point(desktop, ABOUT_BUTTON))
        if check(desktop.wait_shown(ABOUT_TITLE), label + "关于 in the bottom row takes a click"):
            answer_box(desktop, ABOUT_TITLE, "Return")
    finally:
        report(ovra7server=bench.program_said())
        bench.close()
        desktop.close()


if __name__ == "__main__":
    sys.exit(main(lambda args: [screen_run(args, size) for size in ((1366, 768), (1280, 720))],
                  options=["--artifacts"],
                  tools=("Xvfb", "openbox", "trayer", "xdotool", "xwininfo", "xprop", "import")))
