#!/usr/bin/env python3
"""End to end on Linux: ovra7server --headless finds a reader in a fake sysfs tree, opens its
node (OVRA7_DEV_DIR links it to the pty of tools/reader-sim), takes the platform address from
the reader, serves its connect request against a loopback card server, relays both ways, obeys
--control (its usage errors: tests/packaging), shows its window on a second start, and on
SIGTERM tells the reader DisconnectPlatform before the port closes. Exit 77 when reader-sim is
not built.

Every step waits for what it needs (the reader asks to connect only once the program has read
the platform address, however long its start takes); time-outs only decide when to give up."""
import os
import signal
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_harness import (BOUND, INI, Sandbox, check, main, plug_reader, report,  # noqa: E402
                         spawn, stop)
from e2e_helpers import CardServer, wait_for  # noqa: E402

GET_PLATFORM_INFO = 0x09  # the host's next frame after it: the platform address is taken in


def holds_a_pty(pid):
    """True when process pid holds a pty open: the program's handle on the reader's port."""
    try:
        fds = os.listdir("/proc/%d/fd" % pid)
    except OSError:
        return False
    for fd in fds:
        try:
            if os.readlink("/proc/%d/fd/%s" % (pid, fd)).startswith("/dev/pts/"):
                return True
        except OSError:
            continue
    return False


def run(args):
    sandbox = Sandbox(reader=True)
    server = CardServer()

    def plug():
        """A reader on a new pty; it asks to connect once the program has read its platform
        address, and relays its standard input."""
        return plug_reader(args.reader_sim, sandbox, server, "--connect", "0", "--connect-after",
                           str(GET_PLATFORM_INFO), "--relay", "stdin", stdin=subprocess.PIPE)

    def relay_both_ways(reader, up, down, who):
        """A line from the reader reaches the card server, then a chunk from the server the
        reader."""
        reader.stdin.write(up)
        reader.stdin.flush()
        check(wait_for(lambda: up in server.received, BOUND), who + ": data reached the card server")
        server.send_to_newest(down)
        check(wait_for(lambda: down in reader.out.data, BOUND), who + ": server data arrived")

    def control(*words):
        return sandbox.control(args.server, *words)

    reader = plug()
    program = spawn([args.server, "--headless"], sandbox.env)
    try:
        check(wait_for(lambda: "SetNetworkMode" in reader.err.text(), BOUND),
              "the service started by itself: Cat1 query, platform read, network mode")
        check(wait_for(lambda: "connect result 00 00" in reader.err.text(), BOUND),
              "the reader's connect request was served with the platform address")
        relay_both_ways(reader, b"hello from the reader\n", b"answer from the server", "the reader")

        code, out, _ = control("status")
        check(code == 0 and out.lstrip("-").isdigit(), "--control status prints a result: " + out)
        code, out, _ = control("mode", "1")
        check(code == 0 and out == "1", "--control mode 1 gives 1")
        # No USB device here: the pending check finds no reader in DFU mode and runs no dialog.
        code, out, err = control("upgrade")
        check(code == 1 and out == "" and "no reader in DFU mode found" in err,
              "--control upgrade without a DFU device exits 1 and says so: " + err)

        second = subprocess.run([args.server, "--headless"], env=sandbox.env, capture_output=True,
                                timeout=2 * BOUND)
        check(second.returncode == 0, "a second start ends at once")

        # The reader is unplugged (its pty hangs up, its node goes) and comes back under the
        # same name: the program notices both by itself and serves the new one.
        connections = server.connections
        stop(reader, BOUND)
        check(wait_for(lambda: not holds_a_pty(program.pid), BOUND),
              "the program let go of the unplugged reader's port")
        reader = plug()
        check(wait_for(lambda: "connect result 00 00" in reader.err.text(), BOUND),
              "the replugged reader was served again: start sequence and connect request")
        check(wait_for(lambda: server.connections > connections, BOUND),
              "the replugged reader's connection reached the card server")
        relay_both_ways(reader, b"after the replug\n", b"welcome back", "the replugged reader")

        frames_before = reader.err.text().count("DisconnectPlatform")
        program.send_signal(signal.SIGTERM)
        program.wait(timeout=2 * BOUND)
        check(program.returncode == 0, "SIGTERM ends the program cleanly")
        check(wait_for(lambda: reader.err.text().count("DisconnectPlatform") > frames_before,
                       BOUND), "SIGTERM told the reader DisconnectPlatform before the port closed")
        check(control("upgrade")[0] == 3, "--control upgrade without a running instance exits 3")
        check(not os.path.exists(os.path.join(sandbox.run, "ovra7server.sock")),
              "the control socket is gone")
        log = sandbox.log()
        check("StopService" in log, "the log holds the stop")
        check("show window" in log, "the log holds the second start's show request")
        with open(sandbox.ini) as f:
            check(f.read() == INI, "the INI holds only what was there (no change was accepted)")
        check("设备未连接" not in program.err.text(), "no message box about a missing reader")
    finally:
        report(ovra7server=program.err.text(), reader_sim=reader.err.text())
        stop(program)
        stop(reader)
        server.close()
        sandbox.close()


if __name__ == "__main__":
    sys.exit(main(run))
