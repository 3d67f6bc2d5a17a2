#!/usr/bin/env python3
# The far end of a serial port for the serial tests: makes port n a pty linked into a device
# folder (natively ttyACM<n-1>, under wine the prefix's comN) and carries its bytes to a loopback
# TCP connection that the test exe drives. Usage: serial_peer.py PORTFILE LINKDIR linux|wine
#
# Control connection (lines):  "open N" -> "ok DATAPORT" (port n now exists; connect to DATAPORT
# for the bytes; " shared" follows where the system lets a held port open twice, as wine does);
# "line" -> the slave's line settings, e.g. "115200 8N1 raw";  "vanish" -> the
# pty is destroyed ("ok"), as when the reader is unplugged.  Closing the control connection
# removes the port.  The listening port is written to the file named by the first argument.
import os
import select
import socket
import sys
import termios
import tty

LINKS, STYLE = sys.argv[2], sys.argv[3]
SPEEDS = {getattr(termios, "B%d" % b): b for b in (1200, 2400, 4800, 9600, 19200, 38400,
                                                    57600, 115200, 230400, 460800, 921600)}


def line_settings(fd):
    iflag, oflag, cflag, lflag, ispeed, ospeed, _ = termios.tcgetattr(fd)
    size = {termios.CS5: "5", termios.CS6: "6", termios.CS7: "7", termios.CS8: "8"}
    text = "%s %s%s%s" % (SPEEDS.get(ospeed, "?"), size[cflag & termios.CSIZE],
                          "E" if cflag & termios.PARENB else "N",
                          "2" if cflag & termios.CSTOPB else "1")
    cooked = [name for name, on in (("icanon", lflag & termios.ICANON),
                                    ("echo", lflag & termios.ECHO),
                                    ("isig", lflag & termios.ISIG),
                                    ("ixon", iflag & termios.IXON),
                                    ("icrnl", iflag & termios.ICRNL),
                                    ("opost", oflag & termios.OPOST)) if on]
    return text + (" " + " ".join(cooked) if cooked else " raw")


class Port:
    """One pty standing in for COMn, with its data connection."""

    def __init__(self, number):
        name = "com%d" % number if STYLE == "wine" else "ttyACM%d" % (number - 1)
        self.link = os.path.join(LINKS, name)
        self.master, self.slave = os.openpty()
        # The slave starts at 9600 7E2, so that the test sees what the port's open set: cooked
        # natively, raw under wine (whose serial driver leaves the terminal modes alone).
        attrs = termios.tcgetattr(self.slave)
        if STYLE == "wine":
            tty.setraw(self.slave)
            attrs = termios.tcgetattr(self.slave)
        else:
            attrs[0] |= termios.IXON | termios.ICRNL
            attrs[1] |= termios.OPOST
            attrs[3] |= termios.ICANON | termios.ECHO | termios.ISIG
        attrs[2] = (attrs[2] & ~termios.CSIZE) | termios.CS7 | termios.PARENB | termios.CSTOPB
        attrs[4] = attrs[5] = termios.B9600
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(os.ttyname(self.slave), self.link)
        os.set_blocking(self.master, False)
        self.pending = b""  # bytes for the port that its input queue could not take yet
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.data = None

    def vanish(self):
        if self.master is not None:
            os.close(self.master)
            os.close(self.slave)
            self.master = self.slave = None
            self.pending = b""
        if os.path.lexists(self.link):
            os.unlink(self.link)

    def close(self):
        self.vanish()
        self.listener.close()
        if self.data:
            self.data.close()


def write_some(fd, data):
    try:
        return os.write(fd, data)
    except BlockingIOError:
        return 0


def main():
    server = socket.create_server(("127.0.0.1", 0))
    with open(sys.argv[1] + ".tmp", "w") as f:
        f.write(str(server.getsockname()[1]))
    os.rename(sys.argv[1] + ".tmp", sys.argv[1])
    controls = {}  # control socket -> (line buffer, Port or None)
    while True:
        watched = [server] + list(controls)
        writers = []
        for buf, port in controls.values():
            if port:
                # Stop taking test bytes while the port's queue is full: the exe reads it later.
                if not port.pending:
                    watched.append(port.data or port.listener)
                if port.master is not None and port.data:
                    watched.append(port.master)
                if port.master is not None and port.pending:
                    writers.append(port.master)
        readable, writable, _ = select.select(watched, writers, [])
        for entry in controls.values():
            p = entry[1]
            if p and p.master is not None and p.master in writable:
                p.pending = p.pending[write_some(p.master, p.pending):]
        for s in readable:
            if s is server:
                c, _ = server.accept()
                controls[c] = [b"", None]
            elif s in controls:
                chunk = s.recv(4096)
                entry = controls[s]
                if not chunk:
                    if entry[1]:
                        entry[1].close()
                    del controls[s]
                    s.close()
                    continue
                entry[0] += chunk
                while b"\n" in entry[0]:
                    line, entry[0] = entry[0].split(b"\n", 1)
                    words = line.decode().split()
                    if words[0] == "open":
                        if entry[1]:
                            entry[1].close()
                        entry[1] = Port(int(words[1]))
                        shared = b" shared" if STYLE == "wine" else b""
                        s.sendall(b"ok %d%s\n" % (entry[1].listener.getsockname()[1], shared))
                    elif words[0] == "line":
                        p = entry[1]
                        text = line_settings(p.slave) if p and p.slave is not None else "gone"
                        s.sendall(text.encode() + b"\n")
                    elif words[0] == "vanish":
                        if entry[1]:
                            entry[1].vanish()
                        s.sendall(b"ok\n")
            else:
                for entry in controls.values():
                    p = entry[1]
                    if not p:
                        continue
                    if s is p.listener:
                        p.data, _ = p.listener.accept()
                    elif s is p.data:
                        chunk = s.recv(65536)
                        if not chunk:
                            p.data.close()
                            p.data = None
                        elif p.master is not None:
                            p.pending = chunk[write_some(p.master, chunk):]
                    elif s is p.master:
                        try:
                            chunk = os.read(p.master, 65536)
                        except OSError:
                            chunk = b""
                        if chunk:
                            p.data.sendall(chunk)


if __name__ == "__main__":
    main()
