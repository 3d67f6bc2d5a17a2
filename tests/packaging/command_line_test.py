#!/usr/bin/env python3
"""The programs' command lines as a new user and a script try them. Every program: --version
prints the name and the project's version on standard output and exits 0; --help prints the
usage, which ends with the exit-status line, on standard output and exits 0; an unknown option
prints the usage on standard error and exits 2 (usage error); a command that cannot be carried
out exits 1. The control programs (--control) exit 2 for a bad command, 3 when no instance runs
and, where a headless instance can be started here (Linux), 0 or 1 by what the instance
answered. With --man, the options, control commands and exit codes of the man page and of
ovra7server's usage must be the same.

Usage: command_line_test.py --version V [--emulator wine] [--man PAGE] [--headless] NAME=PATH ...
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

failures = []
EXIT_LINE = "Exit status: 0 done, 1 the command failed, 2 usage error"
CONTROL_EXIT_LINE = EXIT_LINE + ", 3 no running instance."
CONTROL_PROGRAMS = ("ovra7server", "ovra7ctl")


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def run(command, *args, env=None):
    done = subprocess.run(command + list(args), capture_output=True, timeout=120,
                          stdin=subprocess.DEVNULL, env=env)
    # Windows programs print CRLF; the texts compare without it.
    return (done.returncode, done.stdout.decode("utf-8", "replace").replace("\r\n", "\n"),
            done.stderr.decode("utf-8", "replace").replace("\r\n", "\n"))


def usage_options(text):
    """Long options that the usage lists as entries of its own ("  --name ...")."""
    return set(re.findall(r"^\s+(--[a-z][a-z-]*)", text, re.M))


def man_section(path, title):
    text = open(path, encoding="utf-8").read()
    section = re.search(r"^\.SH " + title + r"\n(.*?)^\.SH ", text, re.M | re.S)
    return section.group(1) if section else ""


def man_options(path):
    """Long options of the man page's OPTIONS section (.TP entries)."""
    entries = re.findall(r"^\.TP\n\.BI? (\S+)", man_section(path, "OPTIONS"), re.M)
    return {e.replace("\\-", "-").strip('"') for e in entries}


def man_control_commands(path):
    return set(re.findall(r"^\.TP\n\.BI? (\w+)", man_section(path, '"?CONTROL COMMANDS"?'), re.M))


def man_exit_codes(path):
    return set(re.findall(r"^\.TP\n\.B (\d+)$", man_section(path, '"?EXIT STATUS"?'), re.M))


def check_common(name, command, version):
    code, out, err = run(command, "--version")
    check(code == 0 and out == "%s %s\n" % (name, version) and err == "",
          "%s --version prints '%s %s' and exits 0 (got %d, %r)" % (name, name, version, code, out))
    code, usage, err = run(command, "--help")
    check(code == 0 and usage.startswith("usage: ") and err == "",
          "%s --help prints the usage on standard output and exits 0 (got %d)" % (name, code))
    line = CONTROL_EXIT_LINE if name.lower() in CONTROL_PROGRAMS else EXIT_LINE
    check(line in usage, "%s --help tells the exit status: %r" % (name, line))
    code, out, err = run(command, "--no-such-option")
    check(code == 2 and out == "" and "usage: " in err,
          "%s --no-such-option prints the usage on standard error and exits 2 (got %d)" %
          (name, code))
    return usage


def check_control_without_instance(name, command, env):
    """What --control does when its command is wrong, and when nobody runs."""
    for words in (["bogus"], ["mode", "3"], ["show"], []):
        code, out, err = run(command, "--control", *words, env=env)
        check(code == 2 and out == "" and "usage: " in err,
              "%s --control %s is a usage error: exit 2, usage on standard error (got %d)" %
              (name, " ".join(words) or "(nothing)", code))
    code, out, err = run(command, "--control", "status", env=env)
    check(code == 3 and out == "" and "no running instance" in err,
          "%s --control status with no instance exits 3 and says so (got %d, %r)" %
          (name, code, err))


def check_control_with_instance(name, command, env):
    """A headless instance without a reader: what a script sees for each command."""
    server = subprocess.Popen(command + ["--headless"], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    socket_path = os.path.join(env["XDG_RUNTIME_DIR"], "ovra7server.sock")
    try:
        end = time.time() + 60
        while not os.path.exists(socket_path) and time.time() < end and server.poll() is None:
            time.sleep(0.1)
        check(os.path.exists(socket_path), "the headless instance listens on its socket")
        # result printed, exit status: what the instance answered decides.
        for words, printed, status in ((["start"], "0", 1), (["status"], "-1", 1),
                                       (["mode", "1"], "0", 1), (["stop"], "1", 0)):
            code, out, err = run(command, "--control", *words, env=env)
            check(code == status and out == printed + "\n",
                  "%s --control %s with no reader prints %s and exits %d (got %r, %d, %r)" %
                  (name, " ".join(words), printed, status, out, code, err))
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
    in_man, in_usage = man_options(page), usage_options(usage)
    check(in_man != set() and in_man == in_usage,
          "the man page and the usage list the same options: man %s, usage %s" %
          (sorted(in_man), sorted(in_usage)))
    commands = man_control_commands(page)
    line = re.search(r"--control ([^\n]+)", usage)
    listed = set(re.findall(r"[a-z]+", line.group(1))) if line else set()
    check(commands != set() and commands == listed,
          "the man page and the usage list the same control commands: man %s, usage %s" %
          (sorted(commands), sorted(listed)))
    codes = man_exit_codes(page)
    check(codes == {"0", "1", "2", "3"} and CONTROL_EXIT_LINE in usage,
          "the man page and the usage give the same exit codes: man %s" % sorted(codes))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--man", default="")
    parser.add_argument("--headless", action="store_true",
                        help="also start ovra7server --headless and steer it")
    parser.add_argument("programs", nargs="+", help="NAME=PATH: NAME is what --version prints")
    args = parser.parse_args()
    prefix = args.emulator.split() if args.emulator else []
    usages = {}
    with tempfile.TemporaryDirectory(prefix="ovra7-cli-") as tmp:
        # A session of its own: no instance of the user's, no reader, no settings.
        env = dict(os.environ)
        for var in ("HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "TMPDIR", "OVRA7_DEV_DIR",
                    "OVRA7_SYSFS_ROOT"):
            env[var] = os.path.join(tmp, var.lower())
            os.makedirs(env[var], mode=0o700)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        for entry in args.programs:
            name, _, path = entry.partition("=")
            if not os.path.exists(path):
                check(False, name + " is built at " + path)
                continue
            command = prefix + [path]
            usages[name] = check_common(name, command, args.version)
            if name.lower() in CONTROL_PROGRAMS:
                check_control_without_instance(name, command, env)
                if args.headless and name == "ovra7server":
                    check_control_with_instance(name, command, env)
        # A command that cannot be carried out: exit 1, and why on standard error.
        missing = os.path.join(tmp, "no-such-file")
        for name, words in (("dfu-tool", ["info", missing + ".dfu"]),
                            ("reader-sim", ["--device", missing, "--quiet"])):
            path = dict(e.partition("=")[::2] for e in args.programs).get(name)
            if path and os.path.exists(path):
                code, out, err = run(prefix + [path], *words, env=env)
                check(code == 1 and err != "",
                      "%s %s fails with exit 1 and says why (got %d)" %
                      (name, words[0], code))
    if args.man:
        name = next((n for n in usages if n.lower() == "ovra7server"), None)
        check(name is not None, "ovra7server's usage was read")
        if name:
            check_man_page(args.man, usages[name])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
