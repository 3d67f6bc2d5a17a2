#!/usr/bin/env python3
"""End to end on small screens: the real ovra7server (the Qt window) on Xvfb with openbox and a
40-pixel panel along the bottom (trayer, reserving its band as a desktop panel does), at
1366 x 768 (the commonest laptop screen) and at 1280 x 720 (1920 x 1080 at 150 %). The window,
shown by a second start and expanded by a double click in its corner square, must lie inside
the work area, frame and all, and its bottom row must take clicks: 关于 opens the About box.
Screenshots: --artifacts/linux-main-1366x768.png and linux-main-1280x720.png.
Exit 77 when a tool is missing or reader-sim is not built."""
import argparse
import os
import shutil
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_linux_gui import (ABOUT_BUTTON, ABOUT_TITLE, TITLE, Bench, Desktop,  # noqa: E402
                           answer_box, check, client_point, failures, wait_for)

PANEL = ("bottom", 40)
SCREENS = [(1366, 768), (1280, 720)]


def inside(rect, area):
    x, y, w, h = rect
    ax, ay, aw, ah = area
    return x >= ax and y >= ay and x + w <= ax + aw and y + h <= ay + ah


def screen_run(args, size):
    label = "%dx%d: " % size
    desktop = Desktop(args.artifacts, tray=True, size=size, panel=PANEL)
    bench = Bench(args.reader_sim, desktop)
    try:
        area = desktop.work_area()
        check(area == (0, 0, size[0], size[1] - PANEL[1]),
              label + "the panel takes its band off the work area: %s" % (area,))
        check(bench.start(args.server), label + "the service started on the reader")
        check(wait_for(lambda: desktop.tray_icon() is not None), label + "the icon is in the tray")
        check(bench.second_start(args.server) == 0, label + "a second start ends at once")
        check(wait_for(lambda: desktop.viewable(TITLE)), label + "the window is shown")
        check(wait_for(lambda: inside(desktop.geometry(TITLE, frame=True), area)),
              label + "inside the work area: %s" % (desktop.geometry(TITLE, frame=True),))
        x, y, w, h = desktop.geometry(TITLE)
        desktop.click(x + 4, y + h - 4, repeat=2)
        check(wait_for(lambda: desktop.geometry(TITLE)[2] > w), label + "expanded")
        frame = desktop.geometry(TITLE, frame=True)
        check(inside(frame, area), label + "expanded, still inside the work area: %s" % (frame,))
        desktop.shoot("linux-main-%dx%d.png" % size)
        desktop.click(*client_point(desktop, ABOUT_BUTTON))
        if check(wait_for(lambda: desktop.viewable(ABOUT_TITLE)),
                 label + "关于 in the bottom row takes a click"):
            answer_box(desktop, ABOUT_TITLE, "Return")
        bench.program.send_signal(signal.SIGTERM)
        check(wait_for(lambda: bench.program.poll() is not None), label + "SIGTERM ends it")
    finally:
        if failures:
            print("ovra7server said:\n" + (bench.program_err.text() if bench.program_err else ""))
        bench.close()
        desktop.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--reader-sim", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    missing = [t for t in ("Xvfb", "openbox", "trayer", "xdotool", "xwininfo", "xprop", "import")
               if not shutil.which(t)]
    if missing or not os.access(args.reader_sim, os.X_OK):
        print("skipped: missing " + ", ".join(missing or ["reader-sim"]))
        return 77
    os.makedirs(args.artifacts, exist_ok=True)
    for size in SCREENS:
        screen_run(args, size)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
