#!/usr/bin/env python3
"""The Windows installer under wine, in a prefix made fresh for the run, on an Xvfb display:
a silent install puts the program, the driver package, the Start-menu shortcut and the
uninstall entry in place; the installed exe starts and shows its tray icon; a second silent
install over the running program closes it, replaces the exe and starts the new one; the silent
uninstall closes it and removes the files, the shortcut, the uninstall entry and the Run value,
keeping the settings folder and the package cache, or removing them with /PURGE.
A screenshot of the tray is kept in the artifacts folder."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

failures = []
TITLE = "读卡器设置"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ovra7Server"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
# How long to wait for what wine does. Generous: on a loaded machine one run in twenty saw no
# window within 30 s.
PATIENCE = 120


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def wait_for(predicate, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.2)
    return predicate()


def waited(predicate, seconds):
    """wait_for, and how long it took, for the report."""
    start = time.time()
    ok = wait_for(predicate, seconds)
    return ok, " (%.1f s)" % (time.time() - start)


class Wine:
    def __init__(self, prefix, display):
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY=display,
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def run(self, *words, timeout=120):
        return subprocess.run(["wine", *words], env=self.env, capture_output=True,
                              timeout=timeout, stdin=subprocess.DEVNULL)

    def run_installer(self, *words):
        """Runs an installer or uninstaller to its end; its exit code, or None after 300 s.
        No pipes: the program an installer starts would keep them open."""
        try:
            return subprocess.run(["wine", *words], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=300).returncode
        except subprocess.TimeoutExpired:
            return None

    def start(self, *words):
        return subprocess.Popen(["wine", *words], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def expand(self, variable):
        out = self.run("cmd", "/c", "echo %" + variable + "%").stdout
        return out.decode("utf-8", "replace").strip()

    def unix_path(self, windows_path):
        done = subprocess.run(["winepath", "-u", windows_path], env=self.env,
                              capture_output=True, text=True, timeout=60)
        return done.stdout.strip()

    def registry_values(self, key):
        """The values of a key as {name: text}, or None when the key does not exist."""
        done = self.run("reg", "query", key)
        if done.returncode != 0:
            return None
        values = {}
        for line in done.stdout.decode("utf-8", "replace").splitlines():
            parts = re.split(r"\s{4}", line.strip(), maxsplit=2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2]
        return values

    def window(self, title):
        """xwininfo's answer for the window of that title: {} when there is none."""
        done = subprocess.run(["xwininfo", "-name", title], env=self.env, capture_output=True,
                              text=True, timeout=30)
        info = {}
        for line in done.stdout.splitlines():
            key, sep, value = line.strip().partition(":")
            if sep:
                info[key.strip()] = value.strip()
        return info


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x600x24"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    return xvfb, (":" + number if number.isdigit() else None)


def check_inf(path, guid_header):
    text = open(path, encoding="utf-8", errors="replace").read()
    check(r"USB\VID_0483&PID_DF11" in text, "the INF names the reader's DFU-mode ids")
    found = re.search(r'DeviceInterfaceGUIDs,0x10000,"(\{[0-9A-Fa-f-]{36}\})"', text)
    check(found is not None, "the INF sets DeviceInterfaceGUIDs (REG_MULTI_SZ)")
    if found:
        constant = re.search(r'kOvra7WinUsbInterfaceGuid\[\]\s*=\s*"(\{[^"]+\})"',
                             open(guid_header, encoding="utf-8").read())
        check(constant is not None and constant.group(1).upper() == found.group(1).upper(),
              "the INF's interface GUID is the one the Windows enumeration looks for")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--installer", required=True)
    parser.add_argument("--exe", required=True, help="the Ovra7Server.exe the installer carries")
    parser.add_argument("--inf", required=True, help="the INF the build configured")
    parser.add_argument("--guid-header", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--prefix", required=True, help="made fresh for this run")
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    if not all(shutil.which(t) for t in ("wine", "Xvfb", "xwininfo", "import")):
        print("needs wine, Xvfb, xwininfo (x11-utils) and import (imagemagick)")
        return 1
    if not os.path.exists(args.installer):
        print("no installer at " + args.installer)
        return 1
    os.makedirs(args.artifacts, exist_ok=True)
    shutil.rmtree(args.prefix, ignore_errors=True)
    xvfb, display = start_xvfb()
    if not display:
        print("Xvfb did not start")
        xvfb.kill()
        return 1
    wine = Wine(args.prefix, display)
    programs = []
    try:
        subprocess.run(["wineboot", "-i"], env=wine.env, capture_output=True, timeout=300)
        # Without a window manager wine waits at a window's first show unless it manages none.
        wine.run("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/t", "REG_SZ",
                 "/d", "N", "/f")
        appdata = wine.unix_path(wine.expand("APPDATA"))
        home = wine.unix_path(wine.expand("LOCALAPPDATA"))
        folder = os.path.join(home, "Programs", "Ovra7Server")
        exe = os.path.join(folder, "Ovra7Server.exe")
        shortcut = os.path.join(appdata, "Microsoft", "Windows", "Start Menu", "Programs",
                                "Ovra7Server.lnk")
        settings = os.path.join(appdata, "OvraNetService")

        # --- first silent install ---
        code = wine.run_installer(args.installer, "/S")
        check(code == 0, "silent install exits 0 (got %s)" % code)
        check(os.path.isfile(exe), "the program is in %LOCALAPPDATA%\\Programs\\Ovra7Server")
        check(os.path.isfile(os.path.join(folder, "uninstall.exe")), "the uninstaller is there")
        installed_inf = os.path.join(folder, "driver", "ovra7-dfu-winusb.inf")
        check(os.path.isfile(installed_inf) and
              open(installed_inf, "rb").read() == open(args.inf, "rb").read(),
              "the driver package is there as the build made it")
        check_inf(installed_inf, args.guid_header)
        check(os.path.isfile(shortcut), "the Start-menu shortcut is there")
        entry = wine.registry_values(UNINSTALL_KEY) or {}
        check(entry.get("DisplayName") == "Ovra7Server", "uninstall entry: display name")
        check(entry.get("DisplayVersion") == args.version, "uninstall entry: version " +
              entry.get("DisplayVersion", "(none)"))
        check(entry.get("Publisher") == "Ovra7", "uninstall entry: publisher")
        check("Ovra7Server.exe" in entry.get("DisplayIcon", ""), "uninstall entry: icon")
        check(int(entry.get("EstimatedSize", "0"), 0) > 0, "uninstall entry: size " +
              entry.get("EstimatedSize", "(none)"))
        check("uninstall.exe" in entry.get("UninstallString", ""), "uninstall entry: command")
        check(os.path.isdir(os.path.dirname(installed_inf)) and
              not os.path.exists(os.path.join(folder, "driver", "install-driver.log")),
              "the elevated driver step was not run without /DRIVER")
        version = wine.run(exe, "--version")
        check(version.stdout.decode().strip() == "Ovra7Server " + args.version,
              "the installed exe says Ovra7Server " + args.version)

        # --- the installed program starts hidden behind its tray icon ---
        os.makedirs(os.path.join(settings, "DFU"), exist_ok=True)
        with open(os.path.join(settings, "setting.ini"), "w", newline="\r\n") as f:
            f.write("[SETTING]\nAutoStart=0\n")
        with open(os.path.join(settings, "DFU", "cached_1.dfu"), "wb") as f:
            f.write(b"DfuSe")
        first = wine.start(exe)
        programs.append(first)
        ok, took = waited(lambda: wine.window(TITLE).get("Map State") == "IsUnMapped", PATIENCE)
        check(ok, "the installed program made its window, hidden" + took)
        check(wait_for(lambda: wine.window("Wine System Tray").get("Map State") == "IsViewable",
                       PATIENCE), "its tray icon is shown")
        shot = os.path.join(args.artifacts, "installed-tray.png")
        if os.path.exists(shot):
            os.remove(shot)
        subprocess.run(["import", "-window", "root", shot], env=wine.env, timeout=30)
        check(os.path.exists(shot), "screenshot kept at " + shot)

        # --- a second silent install over the running program ---
        # A mark on the installed file (Linux lets us write to it while it runs) that only a
        # replacement removes.
        with open(exe, "ab") as f:
            f.write(b"old copy")
        code = wine.run_installer(args.installer, "/S")
        check(code == 0, "the second silent install exits 0 (got %s)" % code)
        check(wait_for(lambda: first.poll() is not None, PATIENCE),
              "it closed the running program")
        check(first.returncode == 0, "which ended cleanly (exit %s)" % first.returncode)
        check(os.path.isfile(exe) and
              open(exe, "rb").read() == open(args.exe, "rb").read(), "the exe was replaced")
        ok, took = waited(lambda: wine.window(TITLE).get("Map State") == "IsUnMapped", PATIENCE)
        check(ok, "the new program runs (a silent install restarts what it closed)" + took)
        check(wait_for(lambda: wine.window("Wine System Tray").get("Map State") == "IsViewable",
                       PATIENCE), "with its tray icon")

        # --- silent uninstall keeps the settings and the package cache ---
        wine.run("reg", "add", RUN_KEY, "/v", "OvraNetService", "/t", "REG_SZ", "/d",
                 '"C:\\Ovra7\\Ovra7Server.exe"', "/f")
        check("OvraNetService" in (wine.registry_values(RUN_KEY) or {}), "Run value set")
        uninstaller = os.path.join(folder, "uninstall.exe")
        # The uninstaller runs from a copy of itself and returns at once: wait for its work.
        wine.run_installer(uninstaller, "/S")
        check(wait_for(lambda: not os.path.exists(folder), PATIENCE),
              "the silent uninstall removes the program folder")
        check(wait_for(lambda: not wine.window(TITLE), PATIENCE), "it closed the running program")
        check(not os.path.exists(shortcut), "it removes the shortcut")
        check(wait_for(lambda: wine.registry_values(UNINSTALL_KEY) is None, PATIENCE),
              "it removes the uninstall entry")
        check("OvraNetService" not in (wine.registry_values(RUN_KEY) or {}),
              "it removes the Run value OvraNetService")
        check(os.path.isfile(os.path.join(settings, "setting.ini")) and
              os.path.isfile(os.path.join(settings, "DFU", "cached_1.dfu")),
              "it keeps the settings folder and the package cache")

        # --- install again, then /PURGE removes the settings and the cache as well ---
        code = wine.run_installer(args.installer, "/S")
        check(code == 0 and os.path.isfile(exe), "a third silent install")
        wine.run_installer(uninstaller, "/S", "/PURGE")
        check(wait_for(lambda: not os.path.exists(folder) and not os.path.exists(settings),
                       PATIENCE),
              "uninstall /S /PURGE removes the program and the settings folder with its cache")
    finally:
        for p in programs:
            if p.poll() is None:
                p.kill()
        subprocess.run(["wineserver", "-k"], env=wine.env, capture_output=True, timeout=60)
        xvfb.terminate()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
