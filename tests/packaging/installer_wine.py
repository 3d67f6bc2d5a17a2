#!/usr/bin/env python3
"""The Windows installer under wine, in a fresh prefix on an Xvfb display: what a silent install
puts in place; the installed program runs behind its tray icon and answers ovra7ctl; an install
over the running program replaces and restarts it; the uninstall leaves nothing but the settings
and the package cache, which /PURGE removes too; the driver step (/DRIVER) with a stand-in for
pnputil; ASLR and DEP in the PE headers. A screenshot of the tray goes to the artifacts folder."""
import argparse
import os
import re
import shutil
import subprocess
import sys

from checks import check, failures, wait_for

TITLE = "读卡器设置"
HKCU = r"HKCU\Software\Microsoft\Windows\CurrentVersion"
UNINSTALL_KEY = HKCU + r"\Uninstall\Ovra7Server"
APP_PATHS_KEY = HKCU + r"\App Paths\ovra7ctl.exe"
RUN_KEY = HKCU + r"\Run"


def same_file(path, built):
    return os.path.isfile(path) and open(path, "rb").read() == open(built, "rb").read()


def read(path):
    return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""


class Wine:
    def __init__(self, prefix, display):
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", DISPLAY=display,
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def run(self, *words, timeout=120):
        """Exit code, standard output and standard error (CRLF made LF)."""
        done = subprocess.run(["wine", *words], env=self.env, capture_output=True,
                              timeout=timeout, stdin=subprocess.DEVNULL)
        return (done.returncode,) + tuple(t.decode("utf-8", "replace").replace("\r\n", "\n")
                                          for t in (done.stdout, done.stderr))

    def start(self, *words):
        """No pipes: a program an installer starts would keep them open."""
        return subprocess.Popen(["wine", *words], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run_installer(self, *words):
        """To its end: its exit code, or None after 300 s."""
        process = self.start(*words)
        try:
            return process.wait(timeout=300)
        except subprocess.TimeoutExpired:
            process.kill()
            return None

    def run_installer_for_code(self, installer, *words):
        """Through cmd, which sees the whole 32-bit exit code (the code wine hands to Linux keeps
        only its low byte: 3010 would read 194). Only for runs that start no program."""
        drive_c = self.path("-u", "C:\\")
        with open(os.path.join(drive_c, "run-installer.bat"), "w", newline="\r\n") as f:
            f.write('@start "" /wait %*\n@>C:\\installer-exit.txt echo %errorlevel%\n')
        result = os.path.join(drive_c, "installer-exit.txt")
        if os.path.exists(result):
            os.remove(result)
        self.run("cmd", "/c", "C:\\run-installer.bat", self.path("-w", installer), *words,
                 timeout=300)
        try:
            return int(read(result).strip())
        except ValueError:
            return None

    def path(self, direction, path):
        """winepath -u: the Unix path of a Windows one; -w: the other way."""
        return subprocess.run(["winepath", direction, path], env=self.env, capture_output=True,
                              text=True, timeout=60).stdout.strip()

    def registry_values(self, key):
        """The values of a key as {name: text}, or None when the key does not exist."""
        code, out, _ = self.run("reg", "query", key)
        rows = (re.split(r"\s{4}", line.strip(), maxsplit=2) for line in out.splitlines())
        return {r[0]: r[2] for r in rows if len(r) == 3 and r[1].startswith("REG_")} \
            if code == 0 else None

    def map_state(self, title):
        """xwininfo's Map State of the window of that title, None when there is none."""
        out = subprocess.run(["xwininfo", "-name", title], env=self.env, capture_output=True,
                             text=True, timeout=30).stdout
        found = re.search(r"^\s*Map State:\s*(\S+)", out, re.M)
        return found.group(1) if found else None


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x600x24"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    return xvfb, (":" + number if number.isdigit() else None)


def check_inf(path, args):
    text = read(path)
    wanted = sorted(r"USB\VID_%s&PID_%s" % tuple(i.upper().split(":"))
                    for i in args.dfu_ids.split(";"))
    for section in ("NTamd64", "NTarm64"):
        body = re.search(r"^\[Ovra7Devices\.%s\]\r?\n(.*?)(?:\r?\n\r?\n|\Z)" % section, text,
                         re.M | re.S)
        listed = sorted(re.findall(r"Ovra7Dfu, (\S+)", body.group(1))) if body else []
        check(listed == wanted, "the INF's %s devices are the DFU-mode ids %s (got %s)" %
              (section, wanted, listed))
    year, month, day = args.release_date.split("-")
    driver_ver = "DriverVer   = %s/%s/%s,%s" % (month, day, year, args.version)
    check(driver_ver in text, "the INF is dated by the release: " + driver_ver)
    check("CatalogFile = ovra7-dfu-winusb.cat" in text, "the INF names its catalog")
    found = re.search(r'DeviceInterfaceGUIDs,0x10000,"(\{[0-9A-Fa-f-]{36}\})"', text)
    constant = re.search(r'kOvra7WinUsbInterfaceGuid\[\]\s*=\s*"(\{[^"]+\})"',
                         read(args.guid_header))
    check(found and constant and constant.group(1).upper() == found.group(1).upper(),
          "the INF sets DeviceInterfaceGUIDs (REG_MULTI_SZ) to the GUID the Windows "
          "enumeration looks for")


def check_pe(objdump, path, installer):
    """ASLR and DEP. An NSIS installer keeps no relocation table (makensis rewrites its stub, and
    a table left in would break it where Windows forces ASLR): it is loaded where it asks."""
    name = os.path.basename(path)
    text = subprocess.run([objdump, "-p", "-h", path], capture_output=True, text=True,
                          timeout=60).stdout
    flags = ["DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT"]
    for flag in flags + ([] if installer else ["TERMINAL_SERVICE_AWARE"]):
        check(re.search(r"^\s+%s$" % flag, text, re.M) is not None, "%s: %s" % (name, flag))
    relocs = re.search(r"^\s+\d+ \.reloc ", text, re.M) is not None
    if installer:
        check(not relocs, "%s: no relocation table, as NSIS needs" % name)
    else:
        check(relocs and "relocations stripped" not in text,
              "%s: relocation table kept, so ASLR can move it" % name)


def check_driver_step(wine, args, unsigned, signed, folder):
    """A silent install with /DRIVER, nothing running, pnputil answering as the stand-in in
    System32 is told."""
    system32 = wine.path("-u", "C:\\windows\\system32")
    shutil.copyfile(args.pnputil, os.path.join(system32, "pnputil.exe"))
    calls = os.path.join(system32, "pnputil-calls.txt")
    driver = os.path.join(folder, "driver")
    log = os.path.join(driver, "install-driver.log")
    catalog = os.path.join(driver, "ovra7-dfu-winusb.cat")

    def install(installer, pnputil_answer):
        if os.path.exists(calls):
            os.remove(calls)
        with open(os.path.join(system32, "pnputil-exit.txt"), "w") as f:
            f.write(pnputil_answer)
        return wine.run_installer_for_code(installer, "/S", "/DRIVER")

    code = install(unsigned, "0")
    check(code == 3, "without a signed catalog, /S /DRIVER exits 3 (got %s)" % code)
    check(os.path.isfile(os.path.join(folder, "Ovra7Server.exe")), "... the program installed")
    check(not os.path.exists(calls), "... and pnputil not run")
    check("skipped: the driver package of this installer is unsigned" in read(log),
          "... and says that the package is unsigned: " + read(log).strip())
    check(not os.path.exists(catalog), "... carrying no catalog")

    # pnputil's 259 (in the store, no device took it) cannot be played here: wine's cmd turns
    # an exit code of 259, which is also STILL_ACTIVE, into 0.
    inf = wine.path("-w", os.path.join(driver, "ovra7-dfu-winusb.inf"))
    wanted = '/add-driver "%s" /install' % inf
    for answer, exit_code, verdict in (
            ("0", 0, "exit code 0: the driver is installed"),
            ("3010", 3010, "exit code 3010: the driver is installed; Windows must restart"),
            ("0xE000022F", 3, "the driver was not installed")):
        code = install(signed, answer)
        check(code == exit_code, "with a catalog, pnputil answering %s: /S /DRIVER exits %d "
              "(got %s)" % (answer, exit_code, code))
        ran = read(calls)
        check(ran.count("/add-driver") == 1 and wanted.lower() in ran.lower(),
              "... pnputil ran once on the installed INF: " + ran.strip())
        check(os.path.isfile(catalog), "... the catalog lies beside the INF")
        check(verdict in read(log), "... install-driver.log says '%s': %s" %
              (verdict, read(log).strip().splitlines()[-1:]))
        recorded = (wine.registry_values(UNINSTALL_KEY) or {}).get("DriverInstalled", "")
        if exit_code != 3:
            check(int(recorded or "0", 0) == 1, "... the uninstall entry notes the driver")


def main():
    parser = argparse.ArgumentParser()
    # --other-installer: the same installer with the other catalog case; --exe, --ctl, --inf:
    # what the installer carries; --prefix: made fresh for this run.
    for name in ("installer", "other-installer", "exe", "ctl", "inf", "guid-header", "version",
                 "release-date", "dfu-ids", "homepage", "pnputil", "objdump", "prefix",
                 "artifacts"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--signed", type=int, default=0, help="1: --installer has the catalog")
    args = parser.parse_args()
    tools = ("wine", "Xvfb", "xwininfo", "import", args.objdump)  # import: imagemagick
    installers = (args.installer, args.other_installer)
    if not all(map(shutil.which, tools)) or not all(map(os.path.exists, installers)):
        print("needs %s and the installers %s" % (tools, installers))
        return 1
    signed, unsigned = ((args.installer, args.other_installer) if args.signed
                        else (args.other_installer, args.installer))
    for path, installer in ((args.exe, False), (args.ctl, False), (args.installer, True)):
        check_pe(args.objdump, path, installer)

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
        appdata, home = (wine.path("-u", wine.run("cmd", "/c", "echo %" + v + "%")[1].strip())
                         for v in ("APPDATA", "LOCALAPPDATA"))
        folder = os.path.join(home, "Programs", "Ovra7Server")
        exe = os.path.join(folder, "Ovra7Server.exe")
        ovra7ctl = os.path.join(folder, "ovra7ctl.exe")
        uninstaller = os.path.join(folder, "uninstall.exe")
        installed_inf = os.path.join(folder, "driver", "ovra7-dfu-winusb.inf")
        shortcut = os.path.join(appdata, "Microsoft", "Windows", "Start Menu", "Programs",
                                "Ovra7Server.lnk")
        settings = os.path.join(appdata, "OvraNetService")

        def install(what):
            code = wine.run_installer(args.installer, "/S")
            check(code == 0, "%s silent install exits 0 (got %s)" % (what, code))
            check(same_file(exe, args.exe),
                  "the program in %LOCALAPPDATA%\\Programs\\Ovra7Server is the build's")

        def runs_behind_tray(what):
            check(wait_for(lambda: wine.map_state(TITLE) == "IsUnMapped"),
                  what + " made its window, hidden")
            check(wait_for(lambda: wine.map_state("Wine System Tray") == "IsViewable"),
                  "with its tray icon shown")

        install("the first")
        check(same_file(ovra7ctl, args.ctl), "ovra7ctl.exe is beside it as the build made it")
        check_pe(args.objdump, uninstaller, installer=True)  # fails where it is missing
        check(same_file(installed_inf, args.inf), "the driver package is the build's")
        check_inf(installed_inf, args)
        check(os.path.isfile(shortcut), "the Start-menu shortcut is there")
        entry = wine.registry_values(UNINSTALL_KEY) or {}
        for name, good in (("DisplayName", lambda v: v == "Ovra7Server"),
                           ("DisplayVersion", lambda v: v == args.version),
                           ("Publisher", lambda v: v == "Ovra7"),
                           ("URLInfoAbout", lambda v: v == args.homepage),
                           ("HelpLink", lambda v: v == args.homepage),
                           ("DisplayIcon", lambda v: "Ovra7Server.exe" in v),
                           ("EstimatedSize", lambda v: int(v or "0", 0) > 0),
                           ("UninstallString", lambda v: "uninstall.exe" in v)):
            check(good(entry.get(name, "")), "uninstall entry %s: %s" % (name, entry.get(name)))
        app_path = wine.registry_values(APP_PATHS_KEY) or {}
        check(app_path.get("(Default)", "").lower() == wine.path("-w", ovra7ctl).lower() and
              app_path.get("Path", "").lower() == wine.path("-w", folder).lower(),
              "App Paths entry for ovra7ctl.exe: %s" % app_path)
        check(not os.path.exists(os.path.join(folder, "driver", "install-driver.log")),
              "the elevated driver step was not run without /DRIVER")

        # --- the installed program starts hidden behind its tray icon ---
        os.makedirs(os.path.join(settings, "DFU"), exist_ok=True)
        with open(os.path.join(settings, "setting.ini"), "w", newline="\r\n") as f:
            f.write("[SETTING]\nAutoStart=0\n")
        with open(os.path.join(settings, "DFU", "cached_1.dfu"), "wb") as f:
            f.write(b"DfuSe")
        first = wine.start(exe)
        programs.append(first)
        runs_behind_tray("the installed program")
        shot = os.path.join(args.artifacts, "installed-tray.png")
        if os.path.exists(shot):
            os.remove(shot)
        subprocess.run(["import", "-window", "root", shot], env=wine.env, timeout=30)
        check(os.path.exists(shot), "screenshot kept at " + shot)
        # No reader: the status query fails, the stop is done.
        for words, printed, status in ((["status"], "-1", 1), (["stop"], "1", 0)):
            code, out, err = wine.run(ovra7ctl, "--control", *words)
            check(code == status and out == printed + "\n",
                  "ovra7ctl --control %s with the program running prints %s and exits %d "
                  "(got %r, %d, %r)" % (" ".join(words), printed, status, out, code, err))

        # --- a second silent install over the running program; a mark on the installed file
        # (Linux lets us write to it while it runs) that only a replacement removes ---
        with open(exe, "ab") as f:
            f.write(b"old copy")
        install("the second")
        check(wait_for(lambda: first.poll() is not None), "it closed the running program")
        check(first.returncode == 0, "which ended cleanly (exit %s)" % first.returncode)
        runs_behind_tray("the new program (a silent install restarts what it closed)")

        # --- silent uninstall keeps the settings and the package cache ---
        wine.run("reg", "add", RUN_KEY, "/v", "OvraNetService", "/t", "REG_SZ", "/d",
                 '"C:\\Ovra7\\Ovra7Server.exe"', "/f")
        check("OvraNetService" in (wine.registry_values(RUN_KEY) or {}), "Run value set")
        # The uninstaller runs from a copy of itself and returns at once: wait for its work.
        wine.run_installer(uninstaller, "/S")
        for what, gone in (
                ("the program folder", lambda: not os.path.exists(folder)),
                ("the running program", lambda: wine.map_state(TITLE) is None),
                ("the shortcut", lambda: not os.path.exists(shortcut)),
                ("the uninstall entry", lambda: wine.registry_values(UNINSTALL_KEY) is None),
                ("the App Paths entry", lambda: wine.registry_values(APP_PATHS_KEY) is None),
                ("the Run value OvraNetService",
                 lambda: "OvraNetService" not in (wine.registry_values(RUN_KEY) or {}))):
            check(wait_for(gone), "the silent uninstall removes " + what)
        check(os.path.isfile(os.path.join(settings, "setting.ini")) and
              os.path.isfile(os.path.join(settings, "DFU", "cached_1.dfu")),
              "it keeps the settings folder and the package cache")

        install("a third")
        wine.run_installer(uninstaller, "/S", "/PURGE")
        check(wait_for(lambda: not os.path.exists(folder) and not os.path.exists(settings)),
              "uninstall /S /PURGE removes the program and the settings folder with its cache")

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
