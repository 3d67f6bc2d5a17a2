#!/usr/bin/env python3
"""The programs' command lines as a new user tries them: --version prints the name and the
project's version on standard output and exits 0; --help prints the usage on standard output
and exits 0; an unknown option prints the usage on standard error and exits 2. With --man, the
options of the man page and of ovra7server's usage must be the same.

Usage: command_line_test.py --version V [--emulator wine] [--man PAGE] NAME=PATH ..."""
import argparse
import os
import re
import subprocess
import sys

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def run(command, *args):
    done = subprocess.run(command + list(args), capture_output=True, timeout=120,
                          stdin=subprocess.DEVNULL)
    # Windows programs print CRLF; the texts compare without it.
    return (done.returncode, done.stdout.decode("utf-8", "replace").replace("\r\n", "\n"),
            done.stderr.decode("utf-8", "replace").replace("\r\n", "\n"))


def usage_options(text):
    """Long options that the usage lists as entries of its own ("  --name ...")."""
    return set(re.findall(r"^\s+(--[a-z][a-z-]*)", text, re.M))


def man_options(path):
    """Long options of the man page's OPTIONS section (.TP entries)."""
    text = open(path, encoding="utf-8").read()
    section = re.search(r"^\.SH OPTIONS\n(.*?)^\.SH ", text, re.M | re.S)
    if not section:
        return set()
    entries = re.findall(r"^\.TP\n\.BI? (\S+)", section.group(1), re.M)
    return {e.replace("\\-", "-").strip('"') for e in entries}


def man_control_commands(path):
    text = open(path, encoding="utf-8").read()
    section = re.search(r"^\.SH CONTROL COMMANDS\n(.*?)^\.SH ", text, re.M | re.S)
    return set(re.findall(r"^\.TP\n\.BI? (\w+)", section.group(1), re.M)) if section else set()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--man", default="")
    parser.add_argument("programs", nargs="+", help="NAME=PATH: NAME is what --version prints")
    args = parser.parse_args()
    prefix = args.emulator.split() if args.emulator else []
    usages = {}
    for entry in args.programs:
        name, _, path = entry.partition("=")
        if not os.path.exists(path):
            check(False, name + " is built at " + path)
            continue
        command = prefix + [path]
        code, out, err = run(command, "--version")
        check(code == 0 and out == "%s %s\n" % (name, args.version) and err == "",
              "%s --version prints '%s %s' and exits 0 (got %d, %r)" %
              (name, name, args.version, code, out))
        code, out, err = run(command, "--help")
        check(code == 0 and out.startswith("usage: ") and err == "",
              "%s --help prints the usage on standard output and exits 0 (got %d)" % (name, code))
        usages[name] = out
        code, out, err = run(command, "--no-such-option")
        check(code == 2 and out == "" and "usage: " in err,
              "%s --no-such-option prints the usage on standard error and exits 2 (got %d)" %
              (name, code))
    if args.man:
        name = next((n for n in usages if n.lower() == "ovra7server"), None)
        check(name is not None, "ovra7server's usage was read")
        if name:
            in_man, in_usage = man_options(args.man), usage_options(usages[name])
            check(in_man != set() and in_man == in_usage,
                  "the man page and the usage list the same options: man %s, usage %s" %
                  (sorted(in_man), sorted(in_usage)))
            commands = man_control_commands(args.man)
            line = re.search(r"--control ([^\n]+)", usages[name])
            listed = set(re.findall(r"[a-z]+", line.group(1))) if line else set()
            check(commands != set() and commands == listed,
                  "the man page and the usage list the same control commands: man %s, usage %s" %
                  (sorted(commands), sorted(listed)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
