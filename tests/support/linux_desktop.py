"""A Linux desktop for the Qt program's end-to-end suites: Xvfb with a window manager (openbox)
and optionally a tray host (trayer, an XEmbed tray), queried with xwininfo and xprop and driven
with real input (xdotool); and what the program shows there (window titles, the main window's
controls, the tray menu) with the steps a user takes on it.

Every wait is for a condition, bounded by e2e_harness.BOUND. Suites import it with tests/support
on sys.path."""
import os
import subprocess

from e2e_harness import BOUND, check
from e2e_helpers import wait_for
from xvfb_display import Xvfb, screenshot, window_info, window_rect

TITLE = "读卡器设置"
ABOUT_TITLE = "关于"
QUESTION_TITLE = "提示"
APP_CAPTION = "Ovra7Server"  # the caption of OK message boxes
MENU_ITEMS = ["设置", "启动", "停止", "退出"]
# The main window's template: 613 x 357 dialog units; the controls clicked here.
TEMPLATE_W, TEMPLATE_H = 613, 357
QUERY_AUTH = (540, 96, 50, 14)
QUERY_HEARTBEAT = (495, 295, 50, 14)
ABOUT_BUTTON = (127, 336, 50, 14)
FURNITURE_BOUND = 20  # seconds before a silent window manager or tray host is replaced
WM_READY = "_OVRA7_WM_READY"  # a root property openbox's start-up command sets


def wait_channel(process):
    try:
        with open("/proc/%d/wchan" % process.pid) as f:
            return f.read() or "?"
    except OSError:
        return "?"


class Desktop:
    """Xvfb on a free display, openbox, and optionally trayer. tray: start trayer. session_bus:
    keep the caller's session bus (a private one with a StatusNotifier watcher); without it the
    program sees no bus and uses the XEmbed tray protocol. panel: (edge, height) makes trayer a
    panel that takes that band off the screen's work area, as a desktop's panel does."""

    def __init__(self, artifacts, tray, size=(1280, 800), session_bus=False, panel=None):
        self.processes = []
        self.size, self.artifacts = size, artifacts
        self.xvfb = Xvfb(*size)
        self.display = self.xvfb.name
        self.env = dict(os.environ, DISPLAY=self.display) if session_bus else self.xvfb.env()
        for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            self.env.pop(name, None)  # the program picks xcb itself
        try:
            # Ready once its start is over: a window mapped while openbox still starts may
            # never be managed (trayer's panel stayed unmapped in about one run of ten).
            self.furniture("openbox", ["openbox", "--sm-disable", "--startup",
                                       "xprop -root -f %s 32c -set %s 1" % (WM_READY, WM_READY)],
                           lambda: WM_READY in self.x("xprop", "-root", WM_READY))
            if tray:
                edge, height = panel or ("top", 32)
                self.furniture(
                    "trayer", ["trayer", "--edge", edge, "--align", "right", "--widthtype",
                               "request", "--height", str(height), "--SetDockType", "true",
                               "--SetPartialStrut", "true" if panel else "false", "--transparent",
                               "false", "--tint", "0xd0d0d0", "--expand", "true"],
                    lambda: self.viewable("panel") and
                    (not panel or self.work_area() != (0, 0) + self.size))
        except Exception:
            self.close()
            raise

    def furniture(self, name, command, ready):
        """Starts a piece of the desktop and returns once ready() holds. It is not what is tested:
        one that is not ready within the bound is replaced (it happened about once in twenty
        runs on a loaded machine, the tool alive and silent), and what it was doing is told."""
        for attempt in range(3):
            log_path = os.path.join(self.artifacts, "%s-%d.log" % (name, attempt))
            with open(log_path, "wb") as log:
                p = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL, stderr=log)
            self.processes.append(p)
            if wait_for(lambda: p.poll() is not None or ready(), FURNITURE_BOUND) and \
                    p.poll() is None:
                return
            with open(log_path, errors="replace") as f:
                said = f.read()[-2000:]
            print("%s attempt %d: not ready (exit code %s, waiting in %s): %s\nwindows:\n%s" %
                  (name, attempt + 1, p.poll(), wait_channel(p), said,
                   self.x("xwininfo", "-root", "-children")), flush=True)
            p.kill()
            p.wait(timeout=10)
            self.processes.remove(p)
        raise RuntimeError("%s was not ready in three attempts" % name)

    def close(self):
        for p in reversed(self.processes):
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
        self.xvfb.close()

    def x(self, *command):
        return subprocess.run(list(command), env=self.env, capture_output=True, text=True,
                              timeout=30).stdout

    def info(self, name=None, wid=None):
        return window_info(self.display, name, wid)

    def viewable(self, name):
        return self.info(name).get("Map State") == "IsViewable"

    def wait_shown(self, name, shown=True):
        """True once the window of that title is viewable (shown) or no longer (not shown)."""
        return wait_for(lambda: self.viewable(name) == shown, BOUND)

    def window_id(self, name):
        return self.info(name).get("Window id", "")

    def geometry(self, name=None, wid=None, frame=False):
        """x, y, width, height of the client area, or of the frame the window manager drew;
        all -1 while there is no such window."""
        i = self.info(name, wid)
        x, y, w, h = window_rect(i) or (-1, -1, -1, -1)
        if frame:
            extents = self.x("xprop", "-id", wid or i.get("Window id", ""),
                             "_NET_FRAME_EXTENTS").partition("=")[2]
            parts = [int(p) for p in extents.replace(",", " ").split()]
            if len(parts) == 4:
                left, right, top, bottom = parts
                x, y, w, h = x - left, y - top, w + left + right, h + top + bottom
        return x, y, w, h

    def work_area(self):
        """The screen's work area (x, y, width, height) as the window manager publishes it."""
        value = self.x("xprop", "-root", "_NET_WORKAREA").partition("=")[2]
        parts = [int(p) for p in value.replace(",", " ").split() if p.isdigit()]
        return tuple(parts[:4]) if len(parts) >= 4 else (0, 0) + self.size

    def tray_icon(self):
        """The program's icon window inside trayer's panel, or None until it is embedded."""
        for line in self.x("xwininfo", "-name", "panel", "-tree").splitlines():
            if '"ovra7server"' in line:
                parts = line.split()
                if parts and parts[0].startswith("0x"):
                    return parts[0]
        return None

    def popups(self):
        """Ids of the override-redirect windows mapped now (Qt's menus)."""
        ids = []
        for line in self.x("xwininfo", "-root", "-children").splitlines():
            parts = line.split()
            if parts and parts[0].startswith("0x"):
                attrs = self.x("xwininfo", "-id", parts[0])
                if "Override Redirect State: yes" in attrs and "IsViewable" in attrs:
                    ids.append(parts[0])
        return ids

    def click(self, x, y, button=1, repeat=1):
        # --sync waits for the pointer to move: one already there would wait for 15 seconds.
        if self.x("xdotool", "getmouselocation").split()[:2] != ["x:%d" % x, "y:%d" % y]:
            self.x("xdotool", "mousemove", "--sync", str(x), str(y))
        self.x("xdotool", "click", "--repeat", str(repeat), "--delay", "60", str(button))

    def click_centre(self, wid, button=1):
        if wid:
            x, y, w, h = self.geometry(wid=wid)
            self.click(x + w // 2, y + h // 2, button)

    def key(self, wid, key):
        # Real key strokes (XTEST) to the window once it has the focus; a key sent to a window
        # (XSendEvent) is not what a user types, and Qt's menus misbehave after one.
        self.x("xdotool", "windowactivate", "--sync", wid)
        self.x("xdotool", "key", key)

    def shoot(self, name, rect=None):
        """Screenshot of the screen (or of rect: x, y, w, h) into the artifacts, a check."""
        path = os.path.join(self.artifacts, name)
        return check(screenshot(self.display, path, rect), "screenshot " + path)

    def shoot_window(self, name, title):
        return self.shoot(name, self.geometry(title, frame=True))


def client_point(desktop, dlu_rect):
    """Screen point at the centre of a control, from the expanded window's client area."""
    x, y, w, h = desktop.geometry(TITLE)
    cx = dlu_rect[0] + dlu_rect[2] / 2.0
    cy = dlu_rect[1] + dlu_rect[3] / 2.0
    return int(x + cx * w / TEMPLATE_W), int(y + cy * h / TEMPLATE_H)


def open_tray_menu(desktop):
    """The menu's window once a right click on the tray icon has opened it, else None."""
    icon = desktop.tray_icon()
    if icon is None:
        return None
    before = set(desktop.popups())
    desktop.click_centre(icon, button=3)
    found = []
    wait_for(lambda: found.extend(set(desktop.popups()) - before) or bool(found), BOUND)
    return found[0] if found else None


def choose_from_menu(desktop, menu, item):
    x, y, w, h = desktop.geometry(wid=menu)
    index = MENU_ITEMS.index(item)
    desktop.click(x + w // 2, y + int(h * (index + 0.5) / len(MENU_ITEMS)))
    return wait_for(lambda: menu not in desktop.popups(), BOUND)


def answer_box(desktop, title, key):
    if not check(desktop.wait_shown(title), "the box \"%s\" is shown" % title):
        return False
    desktop.key(desktop.window_id(title), key)
    return check(desktop.wait_shown(title, False), "the box is answered with " + key)


def expand(desktop):
    """A double click in the main window's corner square; its client area before, or None when
    it did not widen."""
    before = desktop.geometry(TITLE)
    x, y, w, h = before
    desktop.click(x + 4, y + h - 4, repeat=2)
    return before if wait_for(lambda: desktop.geometry(TITLE)[2] > w, BOUND) else None
