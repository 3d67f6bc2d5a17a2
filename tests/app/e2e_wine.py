#!/usr/bin/env python3
"""End to end on Windows under wine and Xvfb: Ovra7Server.exe starts hidden with its tray
icon, a second start shows the window, a double click in the corner square expands it (a
screenshot is kept under the build folder), and --control start, status, mode and stop work
against COM7, which socat links to COM8 where tools/reader-sim answers as the reader, with a
loopback card server behind. Exit 77 after the window checks when reader-sim is not built."""
import argparse
import ctypes
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def wait_for(predicate, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


def window_info(title, env):
    done = subprocess.run(["xwininfo", "-name", title], env=env, capture_output=True, text=True)
    info = {}
    for line in done.stdout.splitlines():
        if ":" in line:
            key, _, value = line.strip().partition(":")
            info[key.strip()] = value.strip()
    return info


def click(x, y, display, count=1):
    x11 = ctypes.CDLL("libX11.so.6")
    xtst = ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    d = ctypes.c_void_p(x11.XOpenDisplay(display.encode()))
    xtst.XTestFakeMotionEvent(d, -1, x, y, 0)
    x11.XFlush(d)
    time.sleep(0.2)
    for _ in range(count):
        xtst.XTestFakeButtonEvent(d, 1, 1, 0)
        xtst.XTestFakeButtonEvent(d, 1, 0, 0)
        x11.XFlush(d)
        time.sleep(0.05)
    x11.XCloseDisplay(d)


def client_origin(info, width_units, height_units):
    """Screen position of a window's client area from its outer size and its template size."""
    x, y = int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"])
    width, height = int(info["Width"]), int(info["Height"])
    border = max(0, (width - width_units * 3 // 2) // 2)
    caption = max(0, height - height_units * 13 // 8 - border)
    return x + border, y + caption


class CardServer:
    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.connections = 0
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            self.connections += 1
            threading.Thread(target=lambda c=client: [None for _ in iter(lambda: c.recv(4096), b"")],
                             daemon=True).start()


class Collector:
    def __init__(self, pipe):
        self.data = b""
        threading.Thread(target=self.run, args=(pipe,), daemon=True).start()

    def run(self, pipe):
        for chunk in iter(lambda: pipe.read1(4096), b""):
            self.data += chunk

    def text(self):
        return self.data.decode("utf-8", "replace")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--reader-sim", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    prefix = os.environ.get("WINEPREFIX")
    if not prefix or not all(shutil.which(t) for t in ("Xvfb", "socat", "xwininfo", "import")):
        print("needs WINEPREFIX, Xvfb, socat, xwininfo (x11-utils) and import (imagemagick)")
        return 1
    os.makedirs(args.artifacts, exist_ok=True)
    # Xvfb picks a free display itself, so that parallel runs never share one.
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    if not number.isdigit():
        print("Xvfb did not start")
        xvfb.kill()
        return 1
    display = ":" + number
    env = dict(os.environ, DISPLAY=display, WINEDEBUG="-all")
    base = tempfile.mkdtemp(prefix="ovra7-wine-e2e-")
    processes = []

    def wine(*words, **kw):
        return subprocess.run(["wine", *words], env=env, capture_output=True, text=True,
                              timeout=kw.get("timeout", 60))

    try:
        # Chinese glyphs for the screenshot.
        wine("reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink",
             "/v", "Tahoma", "/t", "REG_MULTI_SZ", "/d", "wqy-microhei.ttc,WenQuanYi Micro Hei", "/f")
        wine("reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", "Microsoft YaHei",
             "/t", "REG_SZ", "/d", "WenQuanYi Micro Hei", "/f")
        appdata = wine("cmd", "/c", "echo %APPDATA%").stdout.strip()
        unix_appdata = subprocess.run(["winepath", "-u", appdata], env=env, capture_output=True,
                                      text=True).stdout.strip()
        settings = os.path.join(unix_appdata, "OvraNetService")
        os.makedirs(settings, exist_ok=True)
        # Port 7 pinned (wine lists no USB serial devices), no auto-start, log on.
        with open(os.path.join(settings, "setting.ini"), "w", newline="\r\n") as f:
            f.write("[COM]\nPORT=7\n[SETTING]\nAutoStart=0\n[Set]\nLog=1\n")

        program = subprocess.Popen(["wine", args.exe], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        processes.append(program)
        check(wait_for(lambda: window_info("读卡器设置", env).get("Map State") == "IsUnMapped", 20),
              "the first start creates the window hidden")
        check(wait_for(lambda: window_info("Wine System Tray", env).get("Map State") ==
                       "IsViewable", 10), "the tray icon is there")
        second = subprocess.run(["wine", args.exe], env=env, capture_output=True, timeout=60)
        check(second.returncode == 0, "a second start ends")
        check(wait_for(lambda: window_info("读卡器设置", env).get("Map State") == "IsViewable", 10),
              "the second start shows the window")
        info = window_info("读卡器设置", env)
        x, y = int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"])
        width, height = int(info["Width"]), int(info["Height"])
        click(x + 6, y + height - 6, display, count=2)
        check(wait_for(lambda: int(window_info("读卡器设置", env).get("Width", 0)) >= 2 * width - 4,
                       10), "a double click in the corner square expands the window")
        time.sleep(0.5)
        shot = os.path.join(args.artifacts, "ovra7server-expanded.png")
        if os.path.exists(shot):
            os.remove(shot)
        subprocess.run(["import", "-window", "root", shot], env=env, timeout=30)
        check(os.path.exists(shot), "screenshot kept at " + shot)
        # The About button, at dialog units 127+25, 336+7 of the client area (MS Shell Dlg 8 pt:
        # 3/2 and 13/8 px per unit); the frame wine draws around the client is worked out from
        # the window's size against the template's 613 x 357 units.
        left, top = client_origin(window_info("读卡器设置", env), 613, 357)
        click(left + 152 * 3 // 2, top + 343 * 13 // 8, display)
        check(wait_for(lambda: window_info("关于", env).get("Map State") == "IsViewable", 10),
              "the About button opens the About box")
        subprocess.run(["import", "-window", "root", os.path.join(args.artifacts,
                        "ovra7server-about.png")], env=env, timeout=30)
        about = window_info("关于", env)
        if about:
            left, top = client_origin(about, 225, 136)
            click(left + 110 * 3 // 2, top + 117 * 13 // 8, display)
        check(wait_for(lambda: window_info("关于", env).get("Map State") != "IsViewable", 10),
              "its OK button closes it")

        if not os.path.exists(args.reader_sim):
            print("reader-sim.exe not built: the COM port part is skipped")
            return 1 if failures else 77

        dosdevices = os.path.join(prefix, "dosdevices")
        link_a, link_b = os.path.join(base, "com7"), os.path.join(base, "com8")
        socat = subprocess.Popen(["socat", "pty,raw,echo=0,link=" + link_a,
                                  "pty,raw,echo=0,link=" + link_b],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(socat)
        wait_for(lambda: os.path.exists(link_a) and os.path.exists(link_b), 5)
        for name, target in (("com7", link_a), ("com8", link_b)):
            path = os.path.join(dosdevices, name)
            if os.path.lexists(path):
                os.remove(path)
            os.symlink(target, path)
        server = CardServer()
        reader = subprocess.Popen(["wine", args.reader_sim, "--device", "COM8", "--host",
                                   "127.0.0.1", "--port", str(server.port), "--relay", "none",
                                   "--connect", "4000"],
                                  env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        processes.append(reader)
        reader_err = Collector(reader.stderr)
        Collector(reader.stdout)
        time.sleep(1.5)

        def control(*words):
            done = subprocess.run(["wine", args.exe, "--control", *words], env=env,
                                  capture_output=True, text=True, timeout=90)
            return done.returncode, done.stdout.strip()

        code, out = control("start")
        check(code == 0 and out == "1", "--control start opens COM7: " + out)
        check(wait_for(lambda: "GetPlatformInfo" in reader_err.text(), 10),
              "the external start read the platform settings")
        code, out = control("status")
        check(code == 0 and out == "0", "--control status gives the reader's status code: " + out)
        code, out = control("mode", "2")
        check(code == 0 and out == "1", "--control mode 2 is accepted: " + out)
        code, out = control("mode", "3")
        check(code == 0 and out == "-1", "--control mode 3 gives -1")
        check(wait_for(lambda: "connect result 00 00" in reader_err.text(), 15),
              "the reader's connect request reached the card server")
        code, out = control("stop")
        check(code == 0 and out == "1", "--control stop gives 1")
        check(wait_for(lambda: "DisconnectPlatform" in reader_err.text(), 10),
              "the stop told the reader DisconnectPlatform")
        program.terminate()
        program.wait(timeout=30)
        code, out = control("status")
        check(code == 2, "--control with no window exits 2")
        for name in ("com7", "com8"):
            os.remove(os.path.join(dosdevices, name))
    finally:
        for p in processes:
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    p.kill()
        xvfb.terminate()
        shutil.rmtree(base, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
