#!/usr/bin/env python3
"""End to end on a Linux desktop: the real ovra7server (the Qt window, no --headless) on Xvfb
with a window manager (openbox), driven with real input (xdotool), against tools/reader-sim on a
pty found through a fake sysfs tree and a loopback card server.

Three runs, each a fresh program:
  tray, answer Yes  with a tray host (trayer, an XEmbed tray): starts hidden behind its icon; a
                    second start shows the window at its place; the corner square expands it; a
                    configuration button talks to the reader; a message box and the About box are
                    answered; Escape hides; the icon's click shows; its menu stops and starts the
                    service; exit on a mobile link asks, and Yes sends no DisconnectPlatform
  tray, answer No   the same exit question answered No: DisconnectPlatform is sent
  no tray host      starts shown; hiding minimises; a second start restores; SIGTERM exits
                    without the question and tells the reader
Screenshots go to --artifacts. Exit 77 when a tool is missing or reader-sim is not built."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_linux import CardServer, Collector, fake_sysfs  # noqa: E402

TITLE = "读卡器设置"
ABOUT_TITLE = "关于"
QUESTION_TITLE = "提示"
APP_CAPTION = "Ovra7Server"  # the caption of OK message boxes
# The main window's template: 613 x 357 dialog units; the controls clicked here.
TEMPLATE_W, TEMPLATE_H = 613, 357
QUERY_AUTH = (540, 96, 50, 14)
QUERY_HEARTBEAT = (495, 295, 50, 14)
ABOUT_BUTTON = (127, 336, 50, 14)
MENU_ITEMS = ["设置", "启动", "停止", "退出"]
BOUND = 20  # seconds: a generous bound for every condition waited for

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def wait_for(predicate, seconds=BOUND):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


class Desktop:
    """Xvfb on a free display, openbox, and optionally trayer; X queries and real input."""

    def __init__(self, artifacts, tray, size=(1280, 800), session_bus=False, panel=None):
        """tray: start trayer (an XEmbed tray). session_bus: keep the caller's session bus (a
        private one with a StatusNotifier watcher); without it the program sees no bus and
        uses the XEmbed tray protocol. panel: (edge, height) makes trayer a panel that takes
        that band off the screen's work area, as a desktop's panel does."""
        read_end, write_end = os.pipe()
        self.processes = []
        self.size = size
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % size, "-nolisten",
             "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number.isdigit():
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.env = dict(os.environ, DISPLAY=self.display)
        for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            self.env.pop(name, None)  # the program picks xcb itself
        if not session_bus:
            # No session bus at all: where one could be started (dbus-x11), libdbus would launch
            # it, and the run would depend on what the machine has installed.
            self.env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:"
        self.artifacts = artifacts
        try:
            self.start_window_manager()
            if tray:
                self.start_tray(*(panel or ("top", 32)), strut=panel is not None)
        except Exception:
            self.close()
            raise

    def start_window_manager(self):
        """openbox, managing the screen. Like the tray host, furniture: one that has not taken the
        screen within the bound is replaced (it happened once in about thirty runs on a loaded
        machine), and what it was doing is told."""
        for attempt in range(3):
            log_path = os.path.join(self.artifacts, "openbox-%d.log" % attempt)
            with open(log_path, "wb") as log:
                wm = self.start(["openbox", "--sm-disable"], stderr=log)
            if wait_for(lambda: "_NET_SUPPORTING_WM_CHECK" in self.x("xprop", "-root") or
                        wm.poll() is not None) and wm.poll() is None:
                return
            with open(log_path, errors="replace") as f:
                said = f.read()[-2000:]
            print("openbox attempt %d: no window manager (exit code %s, waiting in %s): %s" %
                  (attempt + 1, wm.poll(), self.wait_channel(wm), said), flush=True)
            wm.kill()
            wm.wait(timeout=10)
            self.processes.remove(wm)
        raise RuntimeError("openbox did not take the screen in three attempts")

    def start_tray(self, edge, height, strut):
        """trayer, its panel mapped. The tray host is the test's furniture, not what is tested:
        one that has not mapped its panel within the bound is replaced (it happened about once in
        twenty runs on a loaded machine, trayer alive and silent), and what it was doing is told."""
        for attempt in range(3):
            log_path = os.path.join(self.artifacts, "trayer-%d.log" % attempt)
            with open(log_path, "wb") as log:
                trayer = self.start(["trayer", "--edge", edge, "--align", "right", "--widthtype",
                                     "request", "--height", str(height), "--SetDockType", "true",
                                     "--SetPartialStrut", "true" if strut else "false",
                                     "--transparent", "false", "--tint", "0xd0d0d0", "--expand",
                                     "true"], stderr=log)
            if wait_for(lambda: self.info("panel").get("Map State") == "IsViewable" or
                        trayer.poll() is not None) and trayer.poll() is None:
                if not strut or wait_for(lambda: self.work_area() != (0, 0) + self.size):
                    return
            with open(log_path, errors="replace") as f:
                said = f.read()[-2000:]
            print("trayer attempt %d: no panel (exit code %s, waiting in %s): %s\nwindows:\n%s" %
                  (attempt + 1, trayer.poll(), self.wait_channel(trayer), said,
                   self.x("xwininfo", "-root", "-children")), flush=True)
            trayer.kill()
            trayer.wait(timeout=10)
        raise RuntimeError("trayer did not map its panel in three attempts")

    def work_area(self):
        """The screen's work area (x, y, width, height) as the window manager publishes it."""
        value = self.x("xprop", "-root", "_NET_WORKAREA").partition("=")[2]
        parts = [int(p) for p in value.replace(",", " ").split() if p.isdigit()]
        return tuple(parts[:4]) if len(parts) >= 4 else (0, 0) + self.size

    @staticmethod
    def wait_channel(process):
        try:
            with open("/proc/%d/wchan" % process.pid) as f:
                return f.read() or "?"
        except OSError:
            return "?"

    def start(self, command, stderr=subprocess.DEVNULL):
        p = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL, stderr=stderr)
        self.processes.append(p)
        return p

    def close(self):
        for p in reversed(self.processes):
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
        self.xvfb.terminate()
        self.xvfb.wait(timeout=10)

    def x(self, *command):
        done = subprocess.run(list(command), env=self.env, capture_output=True, text=True,
                              timeout=30)
        return done.stdout

    def info(self, name=None, wid=None):
        args = ["xwininfo"] + (["-id", wid] if wid else ["-name", name])
        result = {}
        for line in self.x(*args).splitlines():
            line = line.strip()
            if line.startswith("xwininfo: Window id:"):
                result["Window id"] = line.split()[3]
                continue
            key, sep, value = line.partition(":")
            if sep:
                result[key.strip()] = value.strip()
        return result

    def viewable(self, name):
        return self.info(name).get("Map State") == "IsViewable"

    def geometry(self, name=None, wid=None, frame=False):
        """x, y, width, height of the client area, or of the frame the window manager drew."""
        i = self.info(name, wid)
        x, y, w, h = (int(i.get(k, "-1")) for k in ("Absolute upper-left X",
                                                    "Absolute upper-left Y", "Width", "Height"))
        if frame:
            wid = wid or i.get("Window id", "")
            extents = self.x("xprop", "-id", wid, "_NET_FRAME_EXTENTS").partition("=")[2]
            parts = [int(p) for p in extents.replace(",", " ").split()]
            if len(parts) == 4:
                left, right, top, bottom = parts
                x, y, w, h = x - left, y - top, w + left + right, h + top + bottom
        return x, y, w, h

    def window_id(self, name):
        return self.info(name).get("Window id", "")

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
        self.x("xdotool", "mousemove", "--sync", str(x), str(y))
        self.x("xdotool", "click", "--repeat", str(repeat), "--delay", "60", str(button))

    def key(self, wid, key):
        # Real key strokes (XTEST) to the window once it has the focus; a key sent to a window
        # (XSendEvent) is not what a user types, and Qt's menus misbehave after one.
        self.x("xdotool", "windowactivate", "--sync", wid)
        self.x("xdotool", "key", key)

    def shoot(self, name, rect=None):
        """Screenshot of the screen (or of rect: x, y, w, h), replacing an older one."""
        path = os.path.join(self.artifacts, name)
        if os.path.exists(path):
            os.remove(path)
        args = ["import", "-window", "root"]
        if rect:
            args += ["-crop", "%dx%d+%d+%d" % (rect[2], rect[3], rect[0], rect[1]), "+repage"]
        self.x(*args, path)
        return check(os.path.exists(path), "screenshot " + path)

    def shoot_window(self, name, title):
        return self.shoot(name, self.geometry(title, frame=True))


class Bench:
    """The reader on a pty, the card server, a fake sysfs and folders of the run's own."""

    def __init__(self, reader_sim, desktop):
        self.base = tempfile.mkdtemp(prefix="ovra7-gui-e2e-")
        dev, sysfs, run = (os.path.join(self.base, d) for d in ("dev", "sys", "run"))
        config, tmp = os.path.join(self.base, "config"), os.path.join(self.base, "tmp")
        for d in (dev, run, config, tmp):
            os.makedirs(d)
        os.chmod(run, 0o700)
        fake_sysfs(sysfs)
        os.makedirs(os.path.join(config, "OvraNetService"))
        with open(os.path.join(config, "OvraNetService", "setting.ini"), "w") as f:
            f.write("[Set]\nLog=1\n")
        self.env = dict(desktop.env, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=config, TMPDIR=tmp,
                        OVRA7_SYSFS_ROOT=sysfs, OVRA7_DEV_DIR=dev, HOME=self.base)
        self.server = CardServer()
        self.reader = subprocess.Popen(
            [reader_sim, "--pty", os.path.join(dev, "ttyACM0"), "--host", "127.0.0.1",
             "--port", str(self.server.port), "--connect-type", "2", "--relay", "none"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            env=self.env)
        self.reader_err = Collector(self.reader.stderr)
        Collector(self.reader.stdout)
        if not wait_for(lambda: os.path.islink(os.path.join(dev, "ttyACM0"))):
            raise RuntimeError("reader-sim did not link its pty")
        self.program = None
        self.program_err = None

    def said(self, command):
        return self.reader_err.text().count(command)

    def start(self, server):
        self.program = subprocess.Popen([server], env=self.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
        self.program_err = Collector(self.program.stderr)
        return wait_for(lambda: self.said("SetNetworkMode") >= 1)

    def second_start(self, server):
        done = subprocess.run([server], env=self.env, capture_output=True, timeout=60)
        return done.returncode

    def close(self):
        for p in (self.program, self.reader):
            if p and p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    p.kill()
        shutil.rmtree(self.base, ignore_errors=True)


def client_point(desktop, dlu_rect):
    """Screen point at the centre of a control, from the expanded window's client area."""
    x, y, w, h = desktop.geometry(TITLE)
    cx = dlu_rect[0] + dlu_rect[2] / 2.0
    cy = dlu_rect[1] + dlu_rect[3] / 2.0
    return int(x + cx * w / TEMPLATE_W), int(y + cy * h / TEMPLATE_H)


def open_tray_menu(desktop):
    icon = desktop.tray_icon()
    x, y, w, h = desktop.geometry(wid=icon)
    before = set(desktop.popups())
    desktop.click(x + w // 2, y + h // 2, button=3)
    found = []
    wait_for(lambda: found.extend(set(desktop.popups()) - before) or bool(found))
    return found[0] if found else None


def choose_from_menu(desktop, menu, item):
    x, y, w, h = desktop.geometry(wid=menu)
    index = MENU_ITEMS.index(item)
    desktop.click(x + w // 2, y + int(h * (index + 0.5) / len(MENU_ITEMS)))
    return wait_for(lambda: menu not in desktop.popups())


def answer_box(desktop, title, key):
    if not check(wait_for(lambda: desktop.viewable(title)), "the box \"%s\" is shown" % title):
        return False
    desktop.key(desktop.window_id(title), key)
    return check(wait_for(lambda: not desktop.viewable(title)), "the box is answered with " + key)


def tray_run(args, answer_yes):
    label = "tray, answer %s: " % ("Yes" if answer_yes else "No")
    desktop = Desktop(args.artifacts, tray=True)
    bench = Bench(args.reader_sim, desktop)
    try:
        check(bench.start(args.server), label + "the service started on the reader")
        check(wait_for(lambda: desktop.tray_icon() is not None), label + "the icon is in the tray")
        check(not desktop.viewable(TITLE), label + "the window starts hidden")
        if answer_yes:
            walk_through(args, desktop, bench)
        menu = open_tray_menu(desktop)
        check(menu is not None, label + "the icon's menu opens")
        disconnects = bench.said("DisconnectPlatform")
        if menu:
            choose_from_menu(desktop, menu, "退出")
            answer_box(desktop, QUESTION_TITLE, "Return" if answer_yes else "Escape")
        check(wait_for(lambda: bench.program.poll() is not None), label + "the program exits")
        check(bench.program.returncode == 0, label + "exit code 0")
        sent = bench.said("DisconnectPlatform") - disconnects
        if answer_yes:
            check(sent == 0, label + "no DisconnectPlatform: the reader keeps its mobile link")
        else:
            check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects, 5),
                  label + "DisconnectPlatform told the reader")
        check(desktop.tray_icon() is None, label + "the icon left the tray")
    finally:
        if failures:
            print("ovra7server said:\n" + (bench.program_err.text() if bench.program_err else ""))
            print("reader-sim said:\n" + bench.reader_err.text()[-3000:])
        bench.close()
        desktop.close()


def walk_through(args, desktop, bench):
    check(bench.second_start(args.server) == 0, "a second start ends at once")
    check(wait_for(lambda: desktop.viewable(TITLE)), "a second start shows the window")
    check(wait_for(lambda: desktop.geometry(TITLE, frame=True)[:2] == (0, 0)),
          "the window stands at the screen's top-left corner, its frame included")
    x, y, w, h = desktop.geometry(TITLE)
    desktop.shoot_window("linux-main-collapsed.png", TITLE)

    desktop.click(x + 4, y + h - 4, repeat=2)
    check(wait_for(lambda: desktop.geometry(TITLE)[2] > w),
          "a double click in the corner square expands the window")
    ex, ey, ew, eh = desktop.geometry(TITLE)
    check((ex, ey, eh) == (x, y, h) and abs(ew - 2 * w) <= 2,
          "it kept its place and height and doubled its width: %dx%d -> %dx%d" % (w, h, ew, eh))
    # A configuration button talks to the reader.
    asked = bench.said("GetAuthorizationInfo")
    desktop.click(*client_point(desktop, QUERY_AUTH))
    check(wait_for(lambda: bench.said("GetAuthorizationInfo") > asked),
          "查询 (authorization) asked the reader")
    # One with a message box, answered with the keyboard.
    asked = bench.said("GetHeartBeatInterval")
    desktop.click(*client_point(desktop, QUERY_HEARTBEAT))
    check(wait_for(lambda: bench.said("GetHeartBeatInterval") > asked),
          "查询 (heartbeat) asked the reader")
    if wait_for(lambda: desktop.viewable(APP_CAPTION)):
        desktop.shoot_window("linux-message-box.png", APP_CAPTION)
    answer_box(desktop, APP_CAPTION, "Return")
    desktop.shoot_window("linux-main-expanded.png", TITLE)  # the reader's answers shown

    desktop.click(*client_point(desktop, ABOUT_BUTTON))
    if check(wait_for(lambda: desktop.viewable(ABOUT_TITLE)), "关于 opens the About box"):
        desktop.shoot_window("linux-about.png", ABOUT_TITLE)
        answer_box(desktop, ABOUT_TITLE, "Return")

    desktop.key(desktop.window_id(TITLE), "Escape")
    check(wait_for(lambda: not desktop.viewable(TITLE)), "Escape hides the window")
    icon = desktop.tray_icon()
    ix, iy, iw, ih = desktop.geometry(wid=icon)
    desktop.click(ix + iw // 2, iy + ih // 2)
    check(wait_for(lambda: desktop.viewable(TITLE)), "a click on the icon shows the window")

    menu = open_tray_menu(desktop)
    if check(menu is not None, "the icon's menu opens"):
        mx, my, mw, mh = desktop.geometry(wid=menu)
        desktop.shoot("linux-tray-menu.png",
                      (max(0, mx - 160), 0, min(1280, mx + mw + 20) - max(0, mx - 160), my + mh + 10))
        disconnects = bench.said("DisconnectPlatform")
        choose_from_menu(desktop, menu, "停止")
        check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects),
              "停止 from the menu stops the service and tells the reader")
    menu = open_tray_menu(desktop)
    if menu:
        modes = bench.said("SetNetworkMode")
        choose_from_menu(desktop, menu, "启动")
        check(wait_for(lambda: bench.said("SetNetworkMode") > modes),
              "启动 from the menu starts the service again")


def no_tray_run(args):
    label = "no tray host: "
    desktop = Desktop(args.artifacts, tray=False)
    bench = Bench(args.reader_sim, desktop)
    try:
        check(bench.start(args.server), label + "the service started on the reader")
        check(wait_for(lambda: desktop.viewable(TITLE)), label + "the window starts shown")
        check(wait_for(lambda: desktop.geometry(TITLE, frame=True)[:2] == (0, 0)),
              label + "at the screen's top-left corner, its frame included")
        check(wait_for(lambda: "no system tray" in bench.program_err.text()),
              label + "the program says why the window stays")
        desktop.shoot_window("linux-no-tray.png", TITLE)
        wid = desktop.window_id(TITLE)
        desktop.key(wid, "Escape")
        check(wait_for(lambda: not desktop.viewable(TITLE)), label + "Escape takes it off screen")
        check(wait_for(lambda: "Iconic" in desktop.x("xprop", "-id", wid, "WM_STATE")),
              label + "... minimised, not hidden: the task bar keeps it")
        check(bench.second_start(args.server) == 0, label + "a second start ends at once")
        check(wait_for(lambda: desktop.viewable(TITLE)), label + "and restores the window")
        disconnects = bench.said("DisconnectPlatform")
        bench.program.send_signal(signal.SIGTERM)
        check(wait_for(lambda: bench.program.poll() is not None), label + "SIGTERM ends it")
        check(bench.program.returncode == 0, label + "exit code 0")
        check(not desktop.viewable(QUESTION_TITLE), label + "no question on a signal")
        check(wait_for(lambda: bench.said("DisconnectPlatform") > disconnects, 5),
              label + "SIGTERM told the reader DisconnectPlatform")
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
    tray_run(args, answer_yes=True)
    tray_run(args, answer_yes=False)
    no_tray_run(args)
    print("%d failed" % len(failures) if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
