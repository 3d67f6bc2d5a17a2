"""What the end-to-end scripts share: named checks, waits for a condition, a loopback card
server, a collector of a child's output, and a test for a device node being open.

Every wait is for a condition; its time-out is generous and only decides when to give up.
Test scripts import it with tests/support on sys.path."""
import os
import socket
import threading
import time


def wait_for(predicate, seconds, interval=0.05):
    """True as soon as predicate() holds; False when it still does not after `seconds`."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(interval)
    return bool(predicate())


class Checks:
    """Named checks, each printed as it is made; failures keeps the names of those that failed."""

    def __init__(self):
        self.failures = []

    def __call__(self, condition, what):
        print(("ok   " if condition else "FAIL ") + what, flush=True)
        if not condition:
            self.failures.append(what)
        return bool(condition)


class CardServer:
    """Loopback card server on a port the system picks: records what arrives, counts the
    connections, and sends to the newest one on request."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.received = b""
        self.clients = []
        self.lock = threading.Lock()
        threading.Thread(target=self._accept, daemon=True).start()

    @property
    def connections(self):
        with self.lock:
            return len(self.clients)

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                self.clients.append(client)
            threading.Thread(target=self._read, args=(client,), daemon=True).start()

    def _read(self, client):
        while True:
            try:
                data = client.recv(4096)
            except OSError:
                return
            if not data:
                return
            with self.lock:
                self.received += data

    def send_to_newest(self, data):
        with self.lock:
            client = self.clients[-1] if self.clients else None
        if client:
            client.sendall(data)

    def close(self):
        self.listener.close()


class Collector:
    """Reads a child's pipe on a thread and keeps everything it got."""

    def __init__(self, pipe):
        self._data = b""
        self.lock = threading.Lock()
        threading.Thread(target=self._run, args=(pipe,), daemon=True).start()

    def _run(self, pipe):
        while True:
            chunk = pipe.read1(4096) if hasattr(pipe, "read1") else pipe.read(1)
            if not chunk:
                return
            with self.lock:
                self._data += chunk

    @property
    def data(self):
        with self.lock:
            return self._data

    def text(self):
        return self.data.decode("utf-8", "replace")


def is_open_anywhere(path):
    """True when some process holds the file that path names (a symlink is followed) open:
    under wine that is the program or the wine server, which keeps the program's handles."""
    target = os.path.realpath(path)
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        folder = os.path.join("/proc", pid, "fd")
        try:
            for fd in os.listdir(folder):
                if os.readlink(os.path.join(folder, fd)) == target:
                    return True
        except OSError:  # gone meanwhile, or another user's
            continue
    return False
