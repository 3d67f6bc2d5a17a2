#!/ usr / bin / env python3
"""Loopback HTTP and HTTPS package servers for the download tests and benchmarks.

  http_server.py --run -- COMMAND ...   start both servers, run COMMAND with OVRA7_HTTP_PORT and
                                        OVRA7_HTTPS_PORT set, stop them, exit with its status
  http_server.py --serve                start both, print "PORTS http https pid", serve until
                                        killed

The HTTPS certificate is self-signed and made at start-up with the openssl command line.
Files are uploaded with PUT /_files/NAME and then fetched as GET /KIND/NAME[?query], where KIND
says how the body is sent:
  files   whole, with its length          slow    in 1000-byte pieces, 20 ms apart
  stall   half, then nothing (60 s)       close   half of the announced length, then close
  more    more bytes than announced       chunked chunked, no length announced
  garbage a response head that is not HTTP
Anything else is answered 404 with a short page. GET /_last returns the request line and
header lines of the last package request exactly as received; GET /_count how many there were.
"""
import http.server
import os
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time

FILES = {}
STATE = {"last": b"", "count": 0}
LOCK = threading.Lock()
STOPPING = threading.Event()
NOT_FOUND_PAGE = b"<html><body><h1>404 Not Found</h1></body></html>\n"


class _TeeLines:
    """Records the header lines that http.server reads, before it parses them."""

    def __init__(self, inner, sink):
        self.inner, self.sink = inner, sink

    def readline(self, *args):
        line = self.inner.readline(*args)
        self.sink.append(line)
        return line

    def __getattr__(self, name):
        return getattr(self.inner, name)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def parse_request(self):
        self._head = [self.raw_requestline]
        inner = self.rfile
        self.rfile = _TeeLines(inner, self._head)
        try:
            return super().parse_request()
        finally:
            self.rfile = inner

    def _send(self, code, body, length=None, extra=()):
        self.send_response_only(code)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body) if length is None else length))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def do_PUT(self):
        name = self.path.split("/", 2)[-1]
        length = int(self.headers.get("Content-Length", "0"))
        data = b""
        while len(data) < length:
            piece = self.rfile.read(length - len(data))
            if not piece:
                break
            data += piece
        with LOCK:
            FILES[name] = data
        self._send(201, b"")

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path == "/_last":
            with LOCK:
                body = STATE["last"]
            self._send(200, body)
            self.wfile.write(body)
            return
        if path == "/_count":
            with LOCK:
                body = str(STATE["count"]).encode()
            self._send(200, body)
            self.wfile.write(body)
            return
        with LOCK:
            STATE["last"] = b"".join(self._head)
            STATE["count"] += 1
        parts = path.split("/", 2)
        kind = parts[1] if len(parts) > 1 else ""
        name = parts[2] if len(parts) > 2 else ""
        if kind == "garbage":
            self.wfile.write(b"THIS IS NOT HTTP\r\nat all\r\n\r\n")
            return
        with LOCK:
            body = FILES.get(name)
        if body is None:
            self.send_response_only(404)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(NOT_FOUND_PAGE)))
            self.end_headers()
            self.wfile.write(NOT_FOUND_PAGE)
            return
        if kind == "files":
            self._send(200, body)
            self.wfile.write(body)
        elif kind == "slow":
            self._send(200, body)
            for at in range(0, len(body), 1000):
                self.wfile.write(body[at:at + 1000])
                self.wfile.flush()
                time.sleep(0.02)
        elif kind == "stall":
            self._send(200, body)
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            STOPPING.wait(60)
        elif kind == "close":
            self._send(200, body)
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.close_connection = True
        elif kind == "more":
            self._send(200, body, length=max(0, len(body) - 100))
            self.wfile.write(body + b"X" * 4096)
        elif kind == "chunked":
            self.protocol_version = "HTTP/1.1"
            self.send_response_only(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.send_header("Connection", "close")
            self.end_headers()
            for at in range(0, len(body), 3000):
                piece = body[at:at + 3000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
            self.close_connection = True
        else:
            self._send(404, NOT_FOUND_PAGE)
            self.wfile.write(NOT_FOUND_PAGE)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def make_certificate(folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
         cert, "-days", "2", "-subj", "/CN=localhost",
         "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def start_servers(folder):
    plain = Server(("127.0.0.1", 0), Handler)
    secure = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*make_certificate(folder))
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    for server in (plain, secure):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    return plain, secure


def main(argv):
    with tempfile.TemporaryDirectory() as folder:
        plain, secure = start_servers(folder)
        ports = (plain.server_address[1], secure.server_address[1])
        if argv[:1] == ["--serve"]:
            print("PORTS %d %d %d" % (ports + (os.getpid(),)), flush=True)
            try:
                while True:
                    time.sleep(3600)
            except KeyboardInterrupt:
                return 0
        if argv[:1] != ["--run"] or "--" not in argv:
            print(__doc__, file=sys.stderr)
            return 2
        command = argv[argv.index("--") + 1:]
        env = dict(os.environ)
        env["OVRA7_HTTP_PORT"], env["OVRA7_HTTPS_PORT"] = str(ports[0]), str(ports[1])
        env["no_proxy"] = env["NO_PROXY"] = "127.0.0.1,localhost"
        # The package cache of a Linux test run stays out of the user's own settings folder.
        env["XDG_CONFIG_HOME"] = os.path.join(folder, "config")
        status = subprocess.call(command, env=env)
        STOPPING.set()
        plain.shutdown()
        secure.shutdown()
        return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
