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
import os
import shutil
import signal
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_harness import BOUND, Sandbox, check, main, report, spawn, stop  # noqa: E402
from e2e_helpers import wait_for  # noqa: E402

DONE = "升级完成，请关闭此对话框。如未能成功打开端口，请重新插拔读卡器"


def program_pid(wrapper):
    """The program umockdev-run started (its child), or None."""
    try:
        with open("/proc/%d/task/%d/children" % (wrapper, wrapper)) as f:
            children = f.read().split()
    except OSError:
        return None
    return int(children[0]) if children else None


def in_order(text, parts):
    at = [text.find(part) for part in parts]
    return -1 not in at and at == sorted(at)


def run(args):
    sandbox = Sandbox()  # no serial readers anywhere
    os.makedirs(os.path.join(sandbox.settings, "DFU"))
    shutil.copy(args.package, os.path.join(sandbox.settings, "DFU", "reader_A.dfu"))
    env = dict(sandbox.env, DBUS_SYSTEM_BUS_ADDRESS="disabled:")
    wrapper = spawn([args.umockdev_run, "--device", args.device,
                     "--pcap", args.sysfs + "=" + args.pcap, "--", args.server, "--headless"], env)
    client = None
    try:
        check(wait_for(lambda: os.path.exists(os.path.join(sandbox.run, "ovra7server.sock")),
                       BOUND), "the program listens on its control socket")
        client = subprocess.Popen([args.server, "--control", "upgrade"], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, env=env, text=True)
        check(wait_for(lambda: "Download Phase" in wrapper.err.text(), 4 * BOUND),
              "the download began")
        pid = program_pid(wrapper.pid)
        if check(pid is not None, "the program's process found"):
            os.kill(pid, signal.SIGTERM)
        try:
            wrapper.wait(timeout=4 * BOUND)
        except subprocess.TimeoutExpired:
            check(False, "the program ended within %d s of SIGTERM" % (4 * BOUND))
        check(wrapper.returncode == 0, "the program exited with 0 (%s)" % wrapper.returncode)
        out, cerr = client.communicate(timeout=BOUND)
        check(client.returncode == 0, "--control upgrade exited 0 (%s: %s)" % (
            client.returncode, cerr.strip()))
        check(out.strip() == DONE, "--control upgrade printed the dialog's last line: " + out)
        check(in_order(wrapper.err.text(), ["正在升级，请保持读卡器连接", "Download Phase",
                                            "升级成功", "校验成功", DONE]),
              "the dialog went through every phase in order")
        check("Leaving DFU mode 100%" in wrapper.err.text(), "the leave ran to its end")
        log = sandbox.log()
        # The exit asked for during the download waits for the flash: a program that ended at
        # once, or cut the flash short, logs no verified flash between the two.
        check(in_order(log, ["Launch Upgrade success", "exit requested while a flash runs",
                             "Upgrade successful !", "Verify successful !",
                             "the flash has ended: the deferred exit is carried out",
                             "StopService"]),
              "the log: SIGTERM during the download, the flash written and verified (the read "
              "back equals the package), then the exit")
        check("Operation" not in log or "failed" not in log, "no operation failed")
    finally:
        stop(client)
        stop(wrapper)
        report(ovra7server=wrapper.err.text(), log=sandbox.log()[-4000:])
        sandbox.close()


if __name__ == "__main__":
    sys.exit(main(run, reader_sim=False, options=["--umockdev-run", "--device", "--pcap",
                                                  "--sysfs", "--package"]))
