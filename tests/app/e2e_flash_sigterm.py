#!/usr/bin/env python3
"""End to end on Linux under the USB test bed: ovra7server --headless runs inside umockdev-run,
which plays an STM32-like DFU device whose side of a whole flash was recorded at build time
(dfu_flash_trace --dialog: a 64 KiB package, 50 ms per written block). The package waits in the
cache; `--control upgrade` starts the flash; once the download phase shows, the program gets
SIGTERM. It must finish the flash (erase, write, read back and compare, leave) and only then exit;
the client gets the dialog's last line and exit code 0. The replay answers only the recorded
exchange in its order, so a flash cut short or changed shows as a transfer that times out.

Usage: e2e_flash_sigterm.py --server BIN --umockdev-run BIN --device D --pcap P --sysfs S
       --package PKG"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_helpers import Checks, Collector, wait_for  # noqa: E402

DONE = "升级完成，请关闭此对话框。如未能成功打开端口，请重新插拔读卡器"
check = Checks()


def program_pid(wrapper):
    """The program umockdev-run started (its child), or None."""
    try:
        with open("/proc/%d/task/%d/children" % (wrapper, wrapper)) as f:
            children = f.read().split()
    except OSError:
        return None
    return int(children[0]) if children else None


def main():
    parser = argparse.ArgumentParser()
    for name in ("--server", "--umockdev-run", "--device", "--pcap", "--sysfs", "--package"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()

    base = tempfile.mkdtemp(prefix="ovra7-e2e-flash-")
    run, config, tmp = (os.path.join(base, d) for d in ("run", "config", "tmp"))
    empty = os.path.join(base, "empty")  # no serial readers anywhere
    for d in (run, config, tmp, empty):
        os.makedirs(d)
    os.chmod(run, 0o700)
    settings = os.path.join(config, "OvraNetService")
    os.makedirs(os.path.join(settings, "DFU"))
    with open(os.path.join(settings, "setting.ini"), "w") as f:
        f.write("[Set]\nLog=1\n")
    shutil.copy(args.package, os.path.join(settings, "DFU", "reader_A.dfu"))
    env = dict(os.environ, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=config, TMPDIR=tmp, HOME=base,
               OVRA7_SYSFS_ROOT=empty, OVRA7_DEV_DIR=empty, DBUS_SYSTEM_BUS_ADDRESS="disabled:")

    wrapper = subprocess.Popen(
        [args.umockdev_run, "--device", args.device, "--pcap", args.sysfs + "=" + args.pcap,
         "--", args.server, "--headless"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    err = Collector(wrapper.stderr)
    Collector(wrapper.stdout)
    client = None
    try:
        check(wait_for(lambda: os.path.exists(os.path.join(run, "ovra7server.sock")), 60),
              "the program listens on its control socket")
        client = subprocess.Popen([args.server, "--control", "upgrade"], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, env=env, text=True)
        check(wait_for(lambda: "Download Phase" in err.text(), 120), "the download began")
        pid = program_pid(wrapper.pid)
        check(pid is not None, "the program's process found")
        if pid:
            os.kill(pid, signal.SIGTERM)
        time.sleep(0.3)
        check(wrapper.poll() is None, "the program is still running right after SIGTERM")
        check(DONE not in err.text(), "... and the flash had not ended yet")
        try:
            wrapper.wait(timeout=120)
        except subprocess.TimeoutExpired:
            check(False, "the program ended within two minutes of SIGTERM")
        check(wrapper.returncode == 0, "the program exited with 0 (%s)" % wrapper.returncode)
        out, cerr = client.communicate(timeout=60)
        check(client.returncode == 0, "--control upgrade exited 0 (%s: %s)" % (
            client.returncode, cerr.strip()))
        check(out.strip() == DONE, "--control upgrade printed the dialog's last line: " + out)
    finally:
        for p in (client, wrapper):
            if p and p.poll() is None:
                p.kill()

    text = err.text()
    lines = ["正在升级，请保持读卡器连接", "Download Phase", "升级成功", "校验成功", DONE]
    at = [text.find(line) for line in lines]
    check(-1 not in at and at == sorted(at), "the dialog went through every phase in order")
    check("Leaving DFU mode 100%" in text, "the leave ran to its end")
    log_path = os.path.join(tmp, "ovra7-%d" % os.getuid(), "ovra7.log")
    log = ""
    if os.path.exists(log_path):
        with open(log_path, encoding="utf-8", errors="replace") as f:
            log = f.read()
    order = ["Launch Upgrade success", "exit requested while a flash runs",
             "Upgrade successful !", "Verify successful !",
             "the flash has ended: the deferred exit is carried out", "StopService"]
    at = [log.find(line) for line in order]
    check(-1 not in at and at == sorted(at),
          "the log: SIGTERM during the download, the flash written and verified (the read back "
          "equals the package), then the exit")
    check("Operation" not in log or "failed" not in log, "no operation failed")
    shutil.rmtree(base, ignore_errors=True)
    if check.failures:
        print("ovra7server said:\n" + text[-6000:])
        print("log:\n" + log[-4000:])
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
