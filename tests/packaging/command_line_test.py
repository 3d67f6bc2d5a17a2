#!/usr/bin/env python3
"""The programs' command lines as a new user and a script try them, the same cases for the Linux
programs and, under wine, the Windows ones. --version prints the name and version (exit 0);
--help prints the usage, ending with the exit-status line (exit 0); an unknown option prints the
usage on standard error (exit 2); a command that cannot be carried out exits 1. The control
programs exit 2 for a bad command, 3 when no instance runs and, with --headless (Linux), 0 or 1
by what a headless instance answered. With --man, the man page and ovra7server's usage list the
same options, control commands and exit codes.
Usage: command_line_test.py --version V [--emulator wine] [--man PAGE] [--headless] NAME=PATH ...
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile

from checks import check, failures, wait_for

EXIT_LINE = "Exit status: 0 done, 1 the command failed, 2 usage error"
CONTROL_EXIT_LINE = EXIT_LINE + ", 3 no running instance."
USAGE_ERROR = (2, "", "usage: ")
# (programs, arguments, exit status, standard output, text in standard error; None: anything).
# {version}, {name} and {missing} are filled in; "control" stands for ovra7server and ovra7ctl.
CASES = [
    ("all", ["--version"], 0, "{name} {version}\n", ""),
    ("all", ["--no-such-option"]) + USAGE_ERROR,
    ("control", ["--control", "bogus"]) + USAGE_ERROR,
    ("control", ["--control", "mode", "3"]) + USAGE_ERROR,
    ("control", ["--control", "show"]) + USAGE_ERROR,
    ("control", ["--control"]) + USAGE_ERROR,
    ("ovra7ctl", ["--control", "upgrade"]) + USAGE_ERROR,  # Windows upgrades through its window
    ("control", ["--control", "status"], 3, "", "no running instance"),
    ("dfu-tool", ["info", "{missing}.dfu"], 1, "", "{missing}"),
    ("reader-sim", ["--device", "{missing}", "--quiet"], 1, None, "{missing}"),
]
# With a headless instance and no reader: what it answered decides.
INSTANCE_CASES = [(["start"], "0\n", 1), (["status"], "-1\n", 1), (["mode", "1"], "0\n", 1),
                  (["stop"], "1\n", 0)]


def run(command, *args, env=None, again=True):
    done = subprocess.run(command + list(args), capture_output=True, timeout=120,
                          stdin=subprocess.DEVNULL, env=env)
    # Windows programs print CRLF; the texts compare without it.
    result = (done.returncode,) + tuple(t.decode("utf-8", "replace").replace("\r\n", "\n")
                                        for t in (done.stdout, done.stderr))
    # wine's own processes fault now and then while other wine programs start beside them, and
    # wine writes that on the program's standard error: such a run is tried once more (a fault
    # of the program itself shows again).
    if again and result[2].startswith("wine: Unhandled"):
        print("note %s: %s; run again" % (" ".join(args), result[2].splitlines()[0][:120]))
        return run(command, *args, env=env, again=False)
    return result


def check_case(name, command, words, status, printed, said, env):
    code, out, err = run(command, *words, env=env)
    check(code == status and (printed is None or out == printed) and
          (said is None or said in err and (said or not err)),
          "%s %s: exit %d, printed %r, said %r (got %d, %r, %r)" %
          (name, " ".join(words), status, printed, said, code, out, err.strip()[:100]))


def check_with_instance(command, env):
    server = subprocess.Popen(command + ["--headless"], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    socket_path = os.path.join(env["XDG_RUNTIME_DIR"], "ovra7server.sock")
    try:
        check(wait_for(lambda: os.path.exists(socket_path) or server.poll() is not None, 60) and
              os.path.exists(socket_path), "the headless instance listens on its socket")
        for words, printed, status in INSTANCE_CASES:
            check_case("ovra7server", command, ["--control"] + words, status, printed, None, env)
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(timeout=60)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
    check(server.returncode == 0, "the instance ends with exit 0 on SIGTERM (got %s)" %
          server.returncode)


def check_man_page(page, usage):
    text = open(page, encoding="utf-8").read()

    def entries(title, entry):  # the .TP entries of a section of the man page
        section = re.search(r'^\.SH "?%s"?\n(.*?)^\.SH ' % title, text, re.M | re.S)
        found = re.findall(r"^\.TP\n\.BI? " + entry, section.group(1) if section else "", re.M)
        return {e.replace("\\-", "-").strip('"') for e in found}

    line = re.search(r"--control ([^\n]+)", usage)
    for what, in_man, in_usage in (
            ("options", entries("OPTIONS", r"(\S+)"),
             set(re.findall(r"^\s+(--[a-z][a-z-]*)", usage, re.M))),
            ("control commands", entries("CONTROL COMMANDS", r"(\w+)"),
             set(re.findall(r"[a-z]+", line.group(1))) if line else set()),
            ("exit codes", entries("EXIT STATUS", r"(\d+)$"),
             {"0", "1", "2", "3"} if CONTROL_EXIT_LINE in usage else set())):
        check(in_man and in_man == in_usage, "the man page and the usage list the same %s: "
              "man %s, usage %s" % (what, sorted(in_man), sorted(in_usage)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--man", default="")
    parser.add_argument("--headless", action="store_true",
                        help="also start ovra7server --headless and steer it")
    parser.add_argument("programs", nargs="+", help="NAME=PATH: NAME is what --version prints")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="ovra7-cli-") as tmp:
        # A session of its own: no instance of the user's, no reader, no settings.
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for var in ("HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "TMPDIR", "OVRA7_DEV_DIR",
                    "OVRA7_SYSFS_ROOT"):
            env[var] = os.path.join(tmp, var.lower())
            os.makedirs(env[var], mode=0o700)
        missing = os.path.join(tmp, "no-such-file")
        for name, _, path in (entry.partition("=") for entry in args.programs):
            check(os.path.exists(path), name + " is built at " + path)
            command = args.emulator.split() + [path]
            control = name.lower() in ("ovra7server", "ovra7ctl")
            code, usage, err = run(command, "--help", env=env)
            check(code == 0 and usage.startswith("usage: ") and err == "" and
                  (CONTROL_EXIT_LINE if control else EXIT_LINE) in usage,
                  "%s --help prints the usage with its exit-status line on standard output and "
                  "exits 0 (got %d, %r)" % (name, code, err.strip()[:100]))
            for programs, words, status, printed, said in CASES:
                if programs in ("all", name.lower()) or programs == "control" and control:
                    fill = lambda t: t.format(name=name, version=args.version, missing=missing)
                    check_case(name, command, [fill(w) for w in words], status,
                               printed and fill(printed), said and fill(said), env)
            if args.headless and name == "ovra7server":
                check_with_instance(command, env)
            if args.man and name == "ovra7server":
                check_man_page(args.man, usage)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
