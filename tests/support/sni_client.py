"""The test's side of sni_host.py (the StatusNotifier watcher and host on the session bus): the
host as a child, one command a line, one JSON answer a line. Suites import it with
tests/support on sys.path."""
import json
import os
import subprocess

from e2e_harness import BOUND, spawn, stop
from e2e_helpers import wait_for

HOST_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sni_host.py")


class SniHost:
    """sni_host.py run by python (one with GObject introspection) in env; ask() sends one
    command and returns its answer. err keeps what the host said."""

    def __init__(self, python, env):
        self.process = spawn([python, HOST_SCRIPT], env, stdin=subprocess.PIPE)
        self.err = self.process.err
        self.read = 0
        if self.next_answer() != {"ready": True}:
            stop(self.process)
            raise RuntimeError("sni_host did not start: " + self.err.text())

    def next_answer(self):
        found = []

        def arrived():
            complete = [l for l in self.process.out.text().splitlines(keepends=True)
                        if l.endswith("\n")]
            if len(complete) > self.read:
                found.append(json.loads(complete[self.read]))
                self.read += 1
                return True
            return self.process.poll() is not None

        wait_for(arrived, BOUND)
        return found[0] if found else {"error": "no answer: " + self.err.text()[-500:]}

    def ask(self, command):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()
        return self.next_answer()

    def close(self):
        stop(self.process)


def shape(layout):
    """A menu layout's labels, enabled states and ids, each a list in the menu's order."""
    items = layout.get("items", [])
    return [i["label"] for i in items], [i["enabled"] for i in items], [i["id"] for i in items]
