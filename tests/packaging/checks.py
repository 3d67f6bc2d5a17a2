"""What the packaging scripts share: "ok"/"FAIL" per check, and the end-to-end suites' wait for
a condition."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import e2e_helpers  # noqa: E402

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def wait_for(predicate, seconds=120):
    """Generous by default: on a loaded machine one run in twenty saw wine show no window
    within 30 s."""
    return e2e_helpers.wait_for(predicate, seconds, interval=0.1)
