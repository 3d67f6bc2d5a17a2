#!/usr/bin/env python3
"""The Windows installer under wine, in a prefix made fresh for the run, on an Xvfb display:
a silent install puts the program, its console companion ovra7ctl.exe with its App Paths entry,
the driver package, the Start-menu shortcut and the uninstall entry in place; the installed exe
starts and shows its tray icon, and ovra7ctl --control prints and exits with the documented
codes with and without it; a second silent install over the running program closes it,
replaces the exe and starts the new one; the silent uninstall closes it and removes the files,
the shortcut, the uninstall entry, the App Paths entry and the Run value, keeping the settings
folder and the package cache, or removing them with /PURGE.
The driver step (/DRIVER), with pnputil played by a stand-in that answers as told: an installer
without a signed catalog says so and skips the step; one with a catalog runs pnputil on the INF
beside the catalog, and its exit code decides (0 done, 3010 done but restart, anything else
exit 3). The programs and installers are checked for ASLR and DEP in their PE headers.
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
APP_PATHS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\App Paths\ovra7ctl.exe"
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

    def run_installer_for_code(self, installer, *words):
        """Runs an installer to its end through cmd, which sees the whole 32-bit exit code (the
        code wine hands to Linux keeps only its low byte: 3010 would read 194). Only for runs
        that start no program. The code, or None."""
        drive_c = self.unix_path("C:\\")
        with open(os.path.join(drive_c, "run-installer.bat"), "w", newline="\r\n") as f:
            f.write('@start "" /wait %*\n@>C:\\installer-exit.txt echo %errorlevel%\n')
        result = os.path.join(drive_c, "installer-exit.txt")
        if os.path.exists(result):
            os.remove(result)
        self.run("cmd", "/c", "C:\\run-installer.bat", self.windows_path(installer), *words,
                 timeout=300)
        try:
            return int(open(result).read().strip())
        except (OSError, ValueError):
            return None

    def windows_path(self, unix_path):
        done = subprocess.run(["winepath", "-w", unix_path], env=self.env, capture_output=True,
                              text=True, timeout=60)
        return done.stdout.strip()

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


def check_inf(path, guid_header, dfu_ids, version, release_date):
    text = open(path, encoding="utf-8", errors="replace").read()
    wanted = sorted(r"USB\VID_%s&PID_%s" % tuple(i.upper().split(":")) for i in dfu_ids)
    for section in ("NTamd64", "NTarm64"):
        body = re.search(r"^\[Ovra7Devices\.%s\]\r?\n(.*?)(?:\r?\n\r?\n|\Z)" % section, text,
                         re.M | re.S)
        listed = sorted(re.findall(r"Ovra7Dfu, (\S+)", body.group(1))) if body else []
        check(listed == wanted, "the INF's %s devices are the DFU-mode ids %s (got %s)" %
              (section, wanted, listed))
    year, month, day = release_date.split("-")
    driver_ver = "DriverVer   = %s/%s/%s,%s" % (month, day, year, version)
    check(driver_ver in text, "the INF is dated by the release: " + driver_ver)
    check("CatalogFile = ovra7-dfu-winusb.cat" in text, "the INF names its catalog")
    found = re.search(r'DeviceInterfaceGUIDs,0x10000,"(\{[0-9A-Fa-f-]{36}\})"', text)
    check(found is not None, "the INF sets DeviceInterfaceGUIDs (REG_MULTI_SZ)")
    if found:
        constant = re.search(r'kOvra7WinUsbInterfaceGuid\[\]\s*=\s*"(\{[^"]+\})"',
                             open(guid_header, encoding="utf-8").read())
        check(constant is not None and constant.group(1).upper() == found.group(1).upper(),
              "the INF's interface GUID is the one the Windows enumeration looks for")


def pe_header(objdump, path):
    """objdump -p's flag words of a PE file, and whether it has a .reloc section."""
    done = subprocess.run([objdump, "-p", "-h", path], capture_output=True, text=True, timeout=60)
    return done.stdout


def check_pe(objdump, path, installer):
    """ASLR and DEP. A program needs its relocation table to be moved; an NSIS installer keeps
    none (makensis rewrites its stub, and a table left in would break it where Windows forces
    ASLR), so it is loaded where it asks and is checked for DEP and the flags."""
    name = os.path.basename(path)
    text = pe_header(objdump, path)
    for flag in ("DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT"):
        check(re.search(r"^\s+%s$" % flag, text, re.M) is not None, "%s: %s" % (name, flag))
    relocs = re.search(r"^\s+\d+ \.reloc ", text, re.M) is not None
    if installer:
        check(not relocs, "%s: no relocation table, as NSIS needs" % name)
    else:
        check(relocs and "relocations stripped" not in text,
              "%s: relocation table kept, so ASLR can move it" % name)
        check(re.search(r"^\s+TERMINAL_SERVICE_AWARE$", text, re.M) is not None,
              "%s: TERMINAL_SERVICE_AWARE" % name)


def ctl(wine, path, *words):
    """ovra7ctl's exit code, standard output and standard error (CRLF made LF)."""
    done = wine.run(path, *words)
    return (done.returncode, done.stdout.decode("utf-8", "replace").replace("\r\n", "\n"),
            done.stderr.decode("utf-8", "replace").replace("\r\n", "\n"))


def check_driver_step(wine, args, unsigned, signed, folder):
    """The driver step of a silent install with /DRIVER, nothing running, pnputil answering as
    the stand-in in System32 is told."""
    system32 = wine.unix_path("C:\\windows\\system32")
    shutil.copyfile(args.pnputil, os.path.join(system32, "pnputil.exe"))
    calls = os.path.join(system32, "pnputil-calls.txt")
    answer = os.path.join(system32, "pnputil-exit.txt")
    driver = os.path.join(folder, "driver")
    log = os.path.join(driver, "install-driver.log")
    inf = os.path.join(driver, "ovra7-dfu-winusb.inf")

    def install(installer, pnputil_answer):
        if os.path.exists(calls):
            os.remove(calls)
        with open(answer, "w") as f:
            f.write(pnputil_answer)
        return wine.run_installer_for_code(installer, "/S", "/DRIVER")

    def said():
        return open(log, encoding="utf-8", errors="replace").read() if os.path.exists(log) else ""

    code = install(unsigned, "0")
    check(code == 3, "without a signed catalog, /S /DRIVER exits 3 (got %s)" % code)
    check(os.path.isfile(os.path.join(folder, "Ovra7Server.exe")), "... with the program installed")
    check(not os.path.exists(calls), "... and pnputil not run")
    check("skipped: the driver package of this installer is unsigned" in said(),
          "... and says that the package is unsigned: " + said().strip())
    check(not os.path.exists(os.path.join(driver, "ovra7-dfu-winusb.cat")), "... carrying no catalog")

    # pnputil's 259 (in the store, no device took it) cannot be played here: wine's cmd turns
    # an exit code of 259, which is also STILL_ACTIVE, into 0.
    for answer_code, exit_code, verdict in (
            ("0", 0, "exit code 0: the driver is installed"),
            ("3010", 3010, "exit code 3010: the driver is installed; Windows must restart"),
            ("0xE000022F", 3, "the driver was not installed")):
        code = install(signed, answer_code)
        check(code == exit_code, "with a catalog, pnputil answering %s: /S /DRIVER exits %d (got %s)"
              % (answer_code, exit_code, code))
        ran = open(calls, encoding="utf-8").read() if os.path.exists(calls) else ""
        wanted = '/add-driver "%s" /install' % wine.windows_path(inf)
        check(ran.count("/add-driver") == 1 and wanted.lower() in ran.lower(),
              "... pnputil ran once on the installed INF: " + ran.strip())
        check(os.path.isfile(os.path.join(driver, "ovra7-dfu-winusb.cat")),
              "... the catalog lies beside the INF")
        check(verdict in said(), "... install-driver.log says '%s': %s" %
              (verdict, said().strip().splitlines()[-1:] or ""))
        recorded = (wine.registry_values(UNINSTALL_KEY) or {}).get("DriverInstalled", "")
        if exit_code != 3:
            check(int(recorded or "0", 0) == 1, "... the uninstall entry notes the driver")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--installer", required=True)
    parser.add_argument("--other-installer", required=True,
                        help="the same installer with the other catalog case")
    parser.add_argument("--signed", type=int, default=0, help="1: --installer has the catalog")
    parser.add_argument("--exe", required=True, help="the Ovra7Server.exe the installer carries")
    parser.add_argument("--ctl", required=True, help="the ovra7ctl.exe the installer carries")
    parser.add_argument("--inf", required=True, help="the INF the build configured")
    parser.add_argument("--guid-header", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--release-date", required=True)
    parser.add_argument("--dfu-ids", required=True, help="vendor:product;...")
    parser.add_argument("--homepage", required=True)
    parser.add_argument("--pnputil", required=True, help="the stand-in pnputil.exe")
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--prefix", required=True, help="made fresh for this run")
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    if not all(shutil.which(t) for t in ("wine", "Xvfb", "xwininfo", "import", args.objdump)):
        print("needs wine, Xvfb, xwininfo (x11-utils), import (imagemagick) and " + args.objdump)
        return 1
    for installer in (args.installer, args.other_installer):
        if not os.path.exists(installer):
            print("no installer at " + installer)
            return 1
    signed, unsigned = ((args.installer, args.other_installer) if args.signed
                        else (args.other_installer, args.installer))
    for path in (args.exe, args.ctl):
        check_pe(args.objdump, path, installer=False)
    check_pe(args.objdump, args.installer, installer=True)

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
        ovra7ctl = os.path.join(folder, "ovra7ctl.exe")
        shortcut = os.path.join(appdata, "Microsoft", "Windows", "Start Menu", "Programs",
                                "Ovra7Server.lnk")
        settings = os.path.join(appdata, "OvraNetService")

        # --- first silent install ---
        code = wine.run_installer(args.installer, "/S")
        check(code == 0, "silent install exits 0 (got %s)" % code)
        check(os.path.isfile(exe), "the program is in %LOCALAPPDATA%\\Programs\\Ovra7Server")
        check(os.path.isfile(ovra7ctl) and
              open(ovra7ctl, "rb").read() == open(args.ctl, "rb").read(),
              "ovra7ctl.exe is beside it as the build made it")
        check(os.path.isfile(os.path.join(folder, "uninstall.exe")), "the uninstaller is there")
        check_pe(args.objdump, os.path.join(folder, "uninstall.exe"), installer=True)
        installed_inf = os.path.join(folder, "driver", "ovra7-dfu-winusb.inf")
        check(os.path.isfile(installed_inf) and
              open(installed_inf, "rb").read() == open(args.inf, "rb").read(),
              "the driver package is there as the build made it")
        check_inf(installed_inf, args.guid_header, args.dfu_ids.split(";"), args.version,
                  args.release_date)
        check(os.path.isfile(shortcut), "the Start-menu shortcut is there")
        entry = wine.registry_values(UNINSTALL_KEY) or {}
        check(entry.get("DisplayName") == "Ovra7Server", "uninstall entry: display name")
        check(entry.get("DisplayVersion") == args.version, "uninstall entry: version " +
              entry.get("DisplayVersion", "(none)"))
        check(entry.get("Publisher") == "Ovra7", "uninstall entry: publisher")
        check(entry.get("URLInfoAbout") == args.homepage and entry.get("HelpLink") == args.homepage,
              "uninstall entry: URLInfoAbout and HelpLink " + entry.get("URLInfoAbout", "(none)"))
        check("Ovra7Server.exe" in entry.get("DisplayIcon", ""), "uninstall entry: icon")
        check(int(entry.get("EstimatedSize", "0"), 0) > 0, "uninstall entry: size " +
              entry.get("EstimatedSize", "(none)"))
        check("uninstall.exe" in entry.get("UninstallString", ""), "uninstall entry: command")
        app_path = wine.registry_values(APP_PATHS_KEY) or {}
        check(app_path.get("(Default)", "").lower() == wine.windows_path(ovra7ctl).lower() and
              app_path.get("Path", "").lower() == wine.windows_path(folder).lower(),
              "App Paths entry for ovra7ctl.exe: %s" % app_path)
        check(os.path.isdir(os.path.dirname(installed_inf)) and
              not os.path.exists(os.path.join(folder, "driver", "install-driver.log")),
              "the elevated driver step was not run without /DRIVER")
        version = wine.run(exe, "--version")
        check(version.stdout.decode().strip() == "Ovra7Server " + args.version,
              "the installed exe says Ovra7Server " + args.version)
        code, out, err = ctl(wine, ovra7ctl, "--version")
        check(code == 0 and out == "ovra7ctl %s\n" % args.version,
              "the installed ovra7ctl says ovra7ctl %s (got %d, %r)" % (args.version, code, out))
        code, out, err = ctl(wine, ovra7ctl, "--control", "status")
        check(code == 3 and out == "" and "no running instance" in err,
              "ovra7ctl --control status with no program running exits 3 (got %d, %r)" %
              (code, err))
        code, out, err = ctl(wine, ovra7ctl, "--control", "upgrade")
        check(code == 2 and "usage: " in err,
              "ovra7ctl --control upgrade is not a command on Windows: exit 2 (got %d)" % code)

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
        # No reader: the status query fails, the stop is done.
        for words, printed, status in ((["status"], "-1", 1), (["stop"], "1", 0)):
            code, out, err = ctl(wine, ovra7ctl, "--control", *words)
            check(code == status and out == printed + "\n",
                  "ovra7ctl --control %s with the program running prints %s and exits %d "
                  "(got %r, %d)" % (" ".join(words), printed, status, out, code))

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
        check(wine.registry_values(APP_PATHS_KEY) is None, "it removes the App Paths entry")
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

        # --- the driver step, nothing running ---
        check_driver_step(wine, args, unsigned, signed, folder)
    finally:
        for p in programs:
            if p.poll() is None:
                p.kill()
        subprocess.run(["wineserver", "-k"], env=wine.env, capture_output=True, timeout=60)
        xvfb.terminate()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
