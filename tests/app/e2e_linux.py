#!/usr/bin/env python3
"""End to end on Linux: ovra7server --headless finds a reader in a fake sysfs tree, opens its
node (OVRA7_DEV_DIR links it to the pty of tools/reader-sim), takes the platform address from
the reader, serves its connect request against a loopback card server, relays both ways, obeys
--control, shows its window on a second start, and on SIGTERM tells the reader
DisconnectPlatform before the port closes. Exit 77 when reader-sim is not built.

Every step waits for what it needs (the reader asks to connect only once the program has read
the platform address, however long its start takes); time-outs only decide when to give up."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_helpers import CardServer, Checks, Collector, wait_for  # noqa: E402

GET_PLATFORM_INFO = 0x09  # the host's next frame after it: the platform address is taken in
check = Checks()


def fake_sysfs(root):
    device = os.path.join(root, "devices/pci0000:00/0000:00:14.0/usb1/1-3")
    tty = os.path.join(device, "1-3:1.0/tty/ttyACM0")
    os.makedirs(tty)
    with open(os.path.join(device, "idVendor"), "w") as f:
        f.write("0425\n")
    with open(os.path.join(device, "idProduct"), "w") as f:
        f.write("8159\n")
    os.symlink("../../../1-3:1.0", os.path.join(tty, "device"))
    os.makedirs(os.path.join(root, "class/tty"))
    os.symlink("../../devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/tty/ttyACM0",
               os.path.join(root, "class/tty/ttyACM0"))


def holds_a_pty(pid):
    """True when process pid holds a pty open: the program's handle on the reader's port."""
    try:
        fds = os.listdir("/proc/%d/fd" % pid)
    except OSError:
        return False
    for fd in fds:
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue
        if target.startswith("/dev/pts/"):
            return True
    return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--reader-sim", required=True)
    args = parser.parse_args()
    if not os.access(args.reader_sim, os.X_OK):
        print("reader-sim not built: skipped")
        return 77

    base = tempfile.mkdtemp(prefix="ovra7-e2e-")
    dev, sysfs, run = (os.path.join(base, d) for d in ("dev", "sys", "run"))
    config, tmp = os.path.join(base, "config"), os.path.join(base, "tmp")
    for d in (dev, run, config, tmp):
        os.makedirs(d)
    os.chmod(run, 0o700)
    fake_sysfs(sysfs)
    settings_dir = os.path.join(config, "OvraNetService")
    os.makedirs(settings_dir)
    ini = os.path.join(settings_dir, "setting.ini")
    with open(ini, "w") as f:
        f.write("[Set]\nLog=1\n")
    env = dict(os.environ, XDG_RUNTIME_DIR=run, XDG_CONFIG_HOME=config, TMPDIR=tmp,
               OVRA7_SYSFS_ROOT=sysfs, OVRA7_DEV_DIR=dev, HOME=base)

    server = CardServer()

    def plug_reader():
        """A reader on a new pty, linked as ttyACM0; it asks to connect once the program has
        read its platform address."""
        child = subprocess.Popen(
            [args.reader_sim, "--pty", os.path.join(dev, "ttyACM0"), "--host", "127.0.0.1",
             "--port", str(server.port), "--connect", "0", "--connect-after",
             str(GET_PLATFORM_INFO), "--relay", "stdin"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        return child, Collector(child.stdout), Collector(child.stderr)

    def relay_both_ways(reader, reader_out, up, down, who):
        """A line from the reader reaches the card server, then a chunk from the server the
        reader."""
        reader.stdin.write(up)
        reader.stdin.flush()
        check(wait_for(lambda: up in server.received, 60), who + ": data reached the card server")
        server.send_to_newest(down)
        check(wait_for(lambda: down in reader_out.data, 60), who + ": server data arrived")

    reader, reader_out, reader_err = plug_reader()
    if not check(wait_for(lambda: os.path.islink(os.path.join(dev, "ttyACM0")), 60),
                 "reader pty linked"):
        reader.kill()
        print("reader-sim said:\n" + reader_err.text()[-2000:])
        shutil.rmtree(base, ignore_errors=True)
        return 1

    program = subprocess.Popen([args.server, "--headless"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=env)
    program_err = Collector(program.stderr)
    Collector(program.stdout)

    def control(*words):
        done = subprocess.run([args.server, "--control", *words], env=env,
                              capture_output=True, text=True, timeout=120)
        return done.returncode, done.stdout.strip()

    try:
        check(wait_for(lambda: "SetNetworkMode" in reader_err.text(), 60),
              "the service started by itself: Cat1 query, platform read, network mode")
        order = [reader_err.text().find(n) for n in
                 ("QueryCat1Module", "GetPlatformInfo", "SetNetworkMode")]
        check(-1 not in order and order == sorted(order), "start sequence in order")
        check(wait_for(lambda: "connect result 00 00" in reader_err.text(), 60),
              "the reader's connect request was served with the platform address")
        relay_both_ways(reader, reader_out, b"hello from the reader\n",
                        b"answer from the server", "the reader")

        code, out = control("status")
        check(code == 0 and out.lstrip("-").isdigit(), "--control status prints a result: " + out)
        code, out = control("mode", "3")
        check(code == 2 and out == "", "--control mode 3 is a usage error (exit 2), not sent")
        code, out = control("mode", "1")
        check(code == 0 and out == "1", "--control mode 1 gives 1")
        code, out = control("bogus")
        check(code == 2, "--control with a bad command is a usage error (exit 2)")
        # No USB device here: the pending check finds no reader in DFU mode and runs no dialog.
        upgrade = subprocess.run([args.server, "--control", "upgrade"], env=env,
                                 capture_output=True, text=True, timeout=60)
        check(upgrade.returncode == 1 and upgrade.stdout == "" and
              "no reader in DFU mode found" in upgrade.stderr,
              "--control upgrade without a DFU device exits 1 and says so: " + upgrade.stderr)

        second = subprocess.run([args.server, "--headless"], env=env, capture_output=True,
                                timeout=120)
        check(second.returncode == 0, "a second start ends at once")

        # The reader is unplugged (its pty hangs up, its node goes) and comes back under the
        # same name: the program notices both by itself and serves the new one.
        connections = server.connections
        reader.send_signal(signal.SIGTERM)
        reader.wait(timeout=60)
        check(wait_for(lambda: not holds_a_pty(program.pid), 60),
              "the program let go of the unplugged reader's port")
        reader, reader_out, reader_err = plug_reader()
        check(wait_for(lambda: "connect result 00 00" in reader_err.text(), 60),
              "the replugged reader was served again: start sequence and connect request")
        check(wait_for(lambda: server.connections > connections, 60),
              "the replugged reader's connection reached the card server")
        relay_both_ways(reader, reader_out, b"after the replug\n", b"welcome back",
                        "the replugged reader")

        frames_before = reader_err.text().count("DisconnectPlatform")
        program.send_signal(signal.SIGTERM)
        program.wait(timeout=120)
        check(program.returncode == 0, "SIGTERM ends the program cleanly")
        check(wait_for(lambda: reader_err.text().count("DisconnectPlatform") > frames_before, 30),
              "SIGTERM told the reader DisconnectPlatform before the port closed")
        code, out = control("status")
        check(code == 3, "--control without a running instance exits 3")
        code, out = control("upgrade")
        check(code == 3, "--control upgrade without a running instance exits 3")
        check(not os.path.exists(os.path.join(run, "ovra7server.sock")),
              "the control socket is gone")
    finally:
        if program.poll() is None:
            program.kill()
        reader.send_signal(signal.SIGTERM)
        try:
            reader.wait(timeout=10)
        except subprocess.TimeoutExpired:
            reader.kill()

    log_path = os.path.join(tmp, "ovra7-%d" % os.getuid(), "ovra7.log")
    log = ""
    if os.path.exists(log_path):
        with open(log_path, encoding="utf-8", errors="replace") as f:
            log = f.read()
    with open(ini) as f:
        text = f.read()
    shutil.rmtree(base, ignore_errors=True)
    check("StopService" in log, "the log holds the stop")
    check("show window" in log, "the log holds the second start's show request")
    check(text == "[Set]\nLog=1\n", "the INI holds only what was there (no change was accepted)")
    check("设备未连接" not in program_err.text(), "no message box about a missing reader")
    print("reader-sim said:\n" + reader_err.text()[-2000:])
    if check.failures:
        print("ovra7server said:\n" + program_err.text()[-6000:])
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
