"""What the packaging scripts share: "ok"/"FAIL" per check, and waiting for a condition."""
import time

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def wait_for(predicate, seconds=120):
    """Generous by default: on a loaded machine one run in twenty saw wine show no window
    within 30 s."""
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()
