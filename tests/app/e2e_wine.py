#!/usr/bin/env python3
"""End to end on Windows under wine and Xvfb: Ovra7Server.exe starts hidden with its tray
icon, a second start shows the window, a double click in the corner square expands it (a
screenshot is kept under the build folder), and --control start, status, mode and stop work
against COM7, which socat links to COM8 where tools/reader-sim answers as the reader, with a
loopback card server behind. Exit 77 after the window checks when reader-sim is not built.

Every step waits for what it needs (a window mapped, drawn and at rest before a click is aimed
at it, the pointer where it was sent, the reader's port open, the reader's platform address read
before it asks to connect); the prefix starts clean and all its processes end with the run."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_helpers import CardServer, Checks, Collector, is_open_anywhere, wait_for  # noqa: E402
from wine_prefix import CJK_FONT, UNMANAGED_WINDOWS, WinePrefix  # noqa: E402
from xvfb_display import XConnection, Xvfb, screenshot, wait_window, window_info  # noqa: E402

MAIN_TITLE, ABOUT_TITLE = "读卡器设置", "关于"
GET_PLATFORM_INFO = 0x09  # the host's next frame after it: the platform address is taken in
check = Checks()


def client_origin(rect, width_units, height_units):
    """Screen position of a window's client area from its outer size and its template size."""
    x, y, width, height = rect
    border = max(0, (width - width_units * 3 // 2) // 2)
    caption = max(0, height - height_units * 13 // 8 - border)
    return x + border, y + caption


def window_checks(exe, env, pointer, artifacts):
    program = subprocess.Popen(["wine", exe], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    display = pointer.name
    check(wait_window(display, MAIN_TITLE, "IsUnMapped", 120),
          "the first start creates the window hidden")
    check(wait_window(display, "Wine System Tray", "IsViewable", 60), "the tray icon is there")
    second = subprocess.run(["wine", exe], env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    check(second.returncode == 0, "a second start ends")
    rect = pointer.wait_settled(MAIN_TITLE, 60)
    check(rect, "the second start shows the window")
    if not rect:
        return program
    x, y, width, height = rect
    check(pointer.click(x + 6, y + height - 6, count=2), "the pointer reached the corner square")
    check(wait_for(lambda: int(window_info(display, MAIN_TITLE).get("Width", 0)) >= 2 * width - 4,
                   30), "a double click in the corner square expands the window")
    expanded = pointer.wait_settled(MAIN_TITLE, 60)
    shot = os.path.join(artifacts, "ovra7server-expanded.png")
    check(expanded and screenshot(display, shot), "screenshot kept at " + shot)
    if not expanded:
        return program
    # The About button, at dialog units 127+25, 336+7 of the client area (MS Shell Dlg 8 pt:
    # 3/2 and 13/8 px per unit); the frame wine draws around the client is worked out from the
    # window's size against the template's 613 x 357 units.
    left, top = client_origin(expanded, 613, 357)
    pointer.click(left + 152 * 3 // 2, top + 343 * 13 // 8)
    about = pointer.wait_settled(ABOUT_TITLE, 60)
    check(about, "the About button opens the About box")
    shot = os.path.join(artifacts, "ovra7server-about.png")
    check(about and screenshot(display, shot), "screenshot kept at " + shot)
    if about:
        left, top = client_origin(about, 225, 136)
        pointer.click(left + 110 * 3 // 2, top + 117 * 13 // 8)
    check(wait_for(lambda: window_info(display, ABOUT_TITLE).get("Map State") != "IsViewable",
                   30), "its OK button closes it")
    return program


def port_checks(args, prefix, program, base):
    env = prefix.env
    dosdevices = os.path.join(prefix.path, "dosdevices")
    link_a, link_b = os.path.join(base, "com7"), os.path.join(base, "com8")
    socat = subprocess.Popen(["socat", "pty,raw,echo=0,link=" + link_a,
                              "pty,raw,echo=0,link=" + link_b],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    processes = [socat]
    if not check(wait_for(lambda: os.path.exists(link_a) and os.path.exists(link_b), 30),
                 "socat made the port pair"):
        return processes
    for name, target in (("com7", link_a), ("com8", link_b)):
        path = os.path.join(dosdevices, name)
        if os.path.lexists(path):
            os.remove(path)
        os.symlink(target, path)
    server = CardServer()
    # The connect request goes once the host's start has read the platform address, however
    # long the start takes.
    reader = subprocess.Popen(["wine", args.reader_sim, "--device", "COM8", "--host",
                               "127.0.0.1", "--port", str(server.port), "--relay", "none",
                               "--connect", "0", "--connect-after", str(GET_PLATFORM_INFO)],
                              env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
    processes.append(reader)
    reader_err = Collector(reader.stderr)
    Collector(reader.stdout)
    check(wait_for(lambda: is_open_anywhere(link_b) or reader.poll() is not None, 120) and
          reader.poll() is None, "reader-sim opened COM8")

    def control(*words):
        code, out = prefix.wine(args.exe, "--control", *words)
        return code, out.strip()

    code, out = control("start")
    check(code == 0 and out == "1", "--control start opens COM7: " + out)
    check(wait_for(lambda: "GetPlatformInfo" in reader_err.text(), 30),
          "the external start read the platform settings")
    code, out = control("status")
    check(code == 0 and out == "0", "--control status gives the reader's status code: " + out)
    check(wait_for(lambda: "connect result 00 00" in reader_err.text(), 30),
          "the reader's connect request reached the card server")
    check(server.connections >= 1, "the card server took the connection")
    code, out = control("mode", "2")
    check(code == 0 and out == "1", "--control mode 2 is accepted: " + out)
    code, out = control("mode", "3")
    check(code == 2 and out == "", "--control mode 3 is a usage error (exit 2), not sent")
    code, out = control("stop")
    check(code == 0 and out == "1", "--control stop gives 1")
    check(wait_for(lambda: "DisconnectPlatform" in reader_err.text(), 30),
          "the stop told the reader DisconnectPlatform")
    program.terminate()
    program.wait(timeout=60)
    code, out = control("status")
    check(code == 3, "--control with no window exits 3")
    if check.failures:
        print("reader-sim said:\n" + reader_err.text()[-3000:])
    return processes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--reader-sim", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    prefix_path = os.environ.get("WINEPREFIX")
    tools = ("Xvfb", "socat", "xwininfo", "import", "wineserver")
    if not prefix_path or not all(shutil.which(t) for t in tools):
        print("needs WINEPREFIX, Xvfb, socat, xwininfo (x11-utils), import (imagemagick), wine")
        return 1
    os.makedirs(args.artifacts, exist_ok=True)
    base = tempfile.mkdtemp(prefix="ovra7-wine-e2e-")
    processes = []
    skipped = False
    with Xvfb(1280, 800) as xvfb, WinePrefix(prefix_path, xvfb.env()) as prefix:
        pointer = XConnection(xvfb.name)
        try:
            check(prefix.set_registry(dict(CJK_FONT, **UNMANAGED_WINDOWS)),
                  "windows drawn by wine, Chinese glyphs for the screenshots")
            code, appdata = prefix.wine("cmd", "/c", "echo %APPDATA%")
            unix_appdata = subprocess.run(["winepath", "-u", appdata.strip()], env=prefix.env,
                                          capture_output=True, text=True,
                                          timeout=60).stdout.strip()
            if not check(code == 0 and unix_appdata, "the prefix names its APPDATA folder"):
                return 1
            settings = os.path.join(unix_appdata, "OvraNetService")
            os.makedirs(settings, exist_ok=True)
            # Port 7 pinned (wine lists no USB serial devices), no auto-start, log on.
            with open(os.path.join(settings, "setting.ini"), "w", newline="\r\n") as f:
                f.write("[COM]\nPORT=7\n[SETTING]\nAutoStart=0\n[Set]\nLog=1\n")

            program = window_checks(args.exe, prefix.env, pointer, args.artifacts)
            processes.append(program)
            if not os.path.exists(args.reader_sim):
                print("reader-sim.exe not built: the COM port part is skipped")
                skipped = True
            else:
                processes += port_checks(args, prefix, program, base)
        finally:
            pointer.close()
            for p in processes:
                if p.poll() is None:
                    p.terminate()
                    try:
                        p.wait(timeout=30)
                    except subprocess.TimeoutExpired:
                        p.kill()
            for name in ("com7", "com8"):
                path = os.path.join(prefix.path, "dosdevices", name)
                if os.path.islink(path):
                    os.remove(path)
            shutil.rmtree(base, ignore_errors=True)
    if check.failures:
        return 1
    return 77 if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
