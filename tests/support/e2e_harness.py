"""The frame of a Linux end-to-end suite: its arguments and its one-line skip, the re-run on a
private session bus, folders and an environment of the run's own for the program, children
whose output is kept, and the reader, card server and program that most suites start.

Every wait is for a condition; BOUND only decides when to give up. Suites import it with
tests/support on sys.path."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from e2e_helpers import CardServer, Checks, Collector, wait_for

BOUND = 30  # seconds: generous for a loaded machine and the sanitizer builds
PRIVATE_BUS_MARK = "OVRA7_E2E_PRIVATE_BUS"
INI = "[Set]\nLog=1\n"
check = Checks()


def gi_python():
    """A Python that has GObject introspection (Debian's python3-gi), or None."""
    for candidate in (sys.executable, "/usr/bin/python3"):
        if candidate and os.access(candidate, os.X_OK) and subprocess.run(
                [candidate, "-c", "import gi; gi.require_version('Gio', '2.0');"
                 "from gi.repository import Gio"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return candidate
    return None


def main(run, options=(), tools=(), reader_sim=True, gi=False, private_bus=False):
    """Takes --server, --reader-sim (unless reader_sim is False) and `options`, all required;
    skips in one line with exit code 77 when one of `tools`, reader-sim or (gi) a Python with
    GObject introspection (then args.python) is missing; with private_bus runs again inside a
    session bus of its own that ends with the run, so that no desktop's tray watcher or items
    meet the test's. Then run(args); the exit code is 1 when a check failed."""
    parser = argparse.ArgumentParser()
    for name in ("--server",) + (("--reader-sim",) if reader_sim else ()) + tuple(options):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    args.python = gi_python() if gi else None
    missing = [t for t in tuple(tools) + (("dbus-run-session",) if private_bus else ())
               if not shutil.which(t)]
    if gi and not args.python:
        missing.append("Python with GObject introspection (python3-gi)")
    if reader_sim and not os.access(args.reader_sim, os.X_OK):
        missing.append("reader-sim")
    if missing:
        print("skipped: missing " + ", ".join(missing))
        return 77
    if private_bus and not os.environ.get(PRIVATE_BUS_MARK):
        return subprocess.call(["dbus-run-session", "--", sys.executable] + sys.argv,
                               env=dict(os.environ, **{PRIVATE_BUS_MARK: "1"}))
    if getattr(args, "artifacts", None):
        os.makedirs(args.artifacts, exist_ok=True)
    run(args)
    print("%d failed" % len(check.failures) if check.failures else "all passed")
    return 1 if check.failures else 0


def report(**said):
    """Once a check has failed: the tail of what each child said (reader_sim: reader-sim)."""
    for who, text in said.items() if check.failures else ():
        print("%s said:\n%s" % (who.replace("_", "-"), text[-3000:]), flush=True)


def spawn(command, env, stdin=subprocess.DEVNULL):
    """The command started with its output kept: .out and .err collect stdout and stderr."""
    child = subprocess.Popen(command, env=env, stdin=stdin, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    child.out, child.err = Collector(child.stdout), Collector(child.stderr)
    return child


def stop(child, seconds=10):
    """Ends a child that still runs: SIGTERM, and SIGKILL when that is not heeded in time."""
    if child is not None and child.poll() is None:
        child.terminate()
        try:
            child.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()


def fake_sysfs(root):
    """One reader in a sysfs tree below root: a USB device of the reader's ids whose interface
    has the tty ttyACM0."""
    device = os.path.join(root, "devices/pci0000:00/0000:00:14.0/usb1/1-3")
    tty = os.path.join(device, "1-3:1.0/tty/ttyACM0")
    os.makedirs(tty)
    for name, value in (("idVendor", "0425\n"), ("idProduct", "8159\n")):
        with open(os.path.join(device, name), "w") as f:
            f.write(value)
    os.symlink("../../../1-3:1.0", os.path.join(tty, "device"))
    os.makedirs(os.path.join(root, "class/tty"))
    os.symlink("../../devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/tty/ttyACM0",
               os.path.join(root, "class/tty/ttyACM0"))


class Sandbox:
    """Folders of the run's own (runtime 0700, configuration, temporary files, a sysfs tree and
    a device folder) and the environment (base_env or os.environ) that points the program at
    them. reader: the sysfs tree holds one reader, whose node is `node`. ini: a setting.ini that
    turns the log on. close() removes it all."""

    def __init__(self, base_env=None, reader=False, ini=True):
        self.base = tempfile.mkdtemp(prefix="ovra7-e2e-")
        self.run, self.config, self.tmp, self.sysfs, self.dev = (
            os.path.join(self.base, d) for d in ("run", "config", "tmp", "sys", "dev"))
        self.settings = os.path.join(self.config, "OvraNetService")
        for folder in (self.run, self.settings, self.tmp, self.sysfs, self.dev):
            os.makedirs(folder)
        os.chmod(self.run, 0o700)
        self.ini = os.path.join(self.settings, "setting.ini")
        if ini:
            with open(self.ini, "w") as f:
                f.write(INI)
        if reader:
            fake_sysfs(self.sysfs)
        self.node = os.path.join(self.dev, "ttyACM0")
        self.env = dict(os.environ if base_env is None else base_env, XDG_RUNTIME_DIR=self.run,
                        XDG_CONFIG_HOME=self.config, TMPDIR=self.tmp, HOME=self.base,
                        OVRA7_SYSFS_ROOT=self.sysfs, OVRA7_DEV_DIR=self.dev)

    def log(self):
        """The program's log file as it stands ("" while there is none)."""
        try:
            with open(os.path.join(self.tmp, "ovra7-%d" % os.getuid(), "ovra7.log"),
                      encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def control(self, server, *words):
        """server --control WORDS in this environment: (exit code, stdout stripped, stderr)."""
        done = subprocess.run([server, "--control", *words], env=self.env, capture_output=True,
                              text=True, timeout=2 * BOUND)
        return done.returncode, done.stdout.strip(), done.stderr

    def close(self):
        shutil.rmtree(self.base, ignore_errors=True)


def plug_reader(reader_sim, sandbox, server, *options, stdin=subprocess.DEVNULL):
    """tools/reader-sim on a new pty linked as the sandbox's reader node, told the card server's
    address, with `options`; its output kept as spawn() keeps it."""
    reader = spawn([reader_sim, "--pty", sandbox.node, "--host", "127.0.0.1", "--port",
                    str(server.port)] + list(options), sandbox.env, stdin)
    if not wait_for(lambda: os.path.islink(sandbox.node) or reader.poll() is not None, BOUND) \
            or reader.poll() is not None:
        stop(reader)
        raise RuntimeError("reader-sim did not link its pty: " + reader.err.text()[-2000:])
    return reader


class Bench:
    """A sandbox over base_env, a loopback card server, and a reader on a pty that reports a
    mobile-data link and relays nothing; start() runs the program for the desktop there."""

    def __init__(self, reader_sim, base_env):
        self.sandbox = Sandbox(base_env, reader=True)
        self.env = self.sandbox.env
        self.server = CardServer()
        self.program = None
        try:
            self.reader = plug_reader(reader_sim, self.sandbox, self.server,
                                      "--connect-type", "2", "--relay", "none")
        except Exception:
            self.close()
            raise

    def said(self, command):
        """How often the reader has been sent that command."""
        return self.reader.err.text().count(command)

    def start(self, server):
        """Starts the program; True once it has started the service on the reader."""
        self.program = spawn([server], self.env)
        return wait_for(lambda: self.said("SetNetworkMode") >= 1, BOUND)

    def program_said(self):
        return self.program.err.text() if self.program else ""

    def second_start(self, server):
        return subprocess.run([server], env=self.env, capture_output=True,
                              timeout=BOUND).returncode

    def exited(self):
        """True once the program has ended (waited for)."""
        return wait_for(lambda: self.program.poll() is not None, BOUND)

    def close(self):
        stop(self.program)
        stop(getattr(self, "reader", None))
        self.server.close()
        self.sandbox.close()
