"""A private X display for GUI tests (Xvfb) and what the tests need of it: windows found by title
with their map state and place, the pointer moved and clicked through XTEST, and screen pixels
read back so that a screenshot shows a window once it is drawn.

Every wait here is for a condition (a display number written, a window mapped, the pointer where
it was sent, a drawn window that stops changing), bounded by a generous time-out that only
decides when to give up. Test scripts import it with tests/support on sys.path."""
import ctypes
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

from e2e_helpers import wait_for

ROOT_BLACK = b"\x00\x00\x00"  # Xvfb's root window: what shows where nothing is drawn yet


def _die_with_parent():
    # Runs in the child before exec: a test killed at its time-out takes its Xvfb with it.
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Xvfb:
    """Xvfb on a display number it picks itself (-displayfd), so parallel runs never collide.
    -noreset keeps the server's state (pointer, properties) when its last client leaves between
    two steps of a test. Use as a context manager, or call close()."""

    def __init__(self, width, height, start_seconds=60):
        self.width, self.height = width, height
        self.log = tempfile.TemporaryFile()
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (width, height),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
            preexec_fn=_die_with_parent)
        os.close(write_end)
        number = b""
        end = time.monotonic() + start_seconds
        # The number arrives once the server listens; a server that dies closes the pipe.
        while not number.endswith(b"\n") and time.monotonic() < end:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 64)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        number = number.strip()
        if not number.isdigit():
            self.close()
            raise RuntimeError("Xvfb did not start: " + self.log_text())
        self.name = ":" + number.decode()

    def log_text(self):
        self.log.seek(0)
        return self.log.read().decode("utf-8", "replace").strip()

    def env(self, base=None):
        """An environment (base or os.environ) with DISPLAY set to this display and no session
        bus: where one could be started (dbus-x11), libdbus would launch one for the test, and
        the results would depend on what the machine has installed."""
        return dict(os.environ if base is None else base, DISPLAY=self.name,
                    DBUS_SESSION_BUS_ADDRESS="disabled:")

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def window_info(display, title=None, wid=None):
    """xwininfo's fields for the top-level window of that title, or the window of that id ({}
    while there is none): "Window id", "Map State", "Absolute upper-left X", "Width" and the
    rest, as text."""
    done = subprocess.run(["xwininfo", "-display", display] +
                          (["-id", wid] if wid else ["-name", title]),
                          capture_output=True, text=True, timeout=30)
    info = {}
    for line in done.stdout.splitlines():
        key, _, value = line.strip().partition(":")
        if key == "xwininfo" and value.split()[:2] == ["Window", "id:"]:
            info["Window id"] = value.split()[2]
        elif ":" in line:
            info[key.strip()] = value.strip()
    return info


def window_rect(info):
    """(x, y, width, height) on the screen from window_info(), or None."""
    try:
        return tuple(int(info[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y",
                                            "Width", "Height"))
    except (KeyError, ValueError):
        return None


def wait_window(display, title, state, seconds):
    """The window's info once its map state is `state` ("IsViewable", "IsUnMapped"), else {}."""
    found = {}

    def reached():
        found.clear()
        found.update(window_info(display, title))
        return found.get("Map State") == state

    return dict(found) if wait_for(reached, seconds, 0.1) else {}


class _XImage(ctypes.Structure):
    # The leading fields of Xlib's XImage, as far as reading pixels needs.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class XConnection:
    """One client connection to the display: XTEST input and pixel reads. close() it."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XQueryPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + \
            [ctypes.c_void_p] * 2 + [ctypes.POINTER(ctypes.c_int)] * 4 + [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.POINTER(_XImage)
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                       ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                                       ctypes.c_ulong, ctypes.c_int]
        self.x11.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.name = display
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open X display " + display)
        self.root = self.x11.XDefaultRootWindow(self.display)

    def close(self):
        if self.display:
            self.x11.XCloseDisplay(self.display)
            self.display = None

    def pointer(self):
        """Where the X server has the pointer, (x, y) on the screen."""
        root_x, root_y, win_x, win_y = (ctypes.c_int() for _ in range(4))
        child, root, mask = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_uint()
        self.x11.XQueryPointer(self.display, self.root, ctypes.byref(root), ctypes.byref(child),
                               ctypes.byref(root_x), ctypes.byref(root_y), ctypes.byref(win_x),
                               ctypes.byref(win_y), ctypes.byref(mask))
        return root_x.value, root_y.value

    def move_pointer(self, x, y, seconds=10):
        """Moves the pointer and waits until the server reports it there. True when it is."""
        self.xtst.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        self.x11.XSync(self.display, 0)
        return wait_for(lambda: self.pointer() == (x, y), seconds)

    def click(self, x, y, count=1):
        """count clicks of the left button at (x, y). The pointer is confirmed there first, and
        every press and release goes in one batch, so that the server stamps the clicks of a
        double click close together however busy the machine is. True once sent."""
        if not self.move_pointer(x, y):
            return False
        for _ in range(count):
            self.xtst.XTestFakeButtonEvent(self.display, 1, 1, 0)
            self.xtst.XTestFakeButtonEvent(self.display, 1, 0, 0)
        self.x11.XSync(self.display, 0)
        return True

    def capture(self, rect):
        """The screen's pixels in rect (x, y, width, height), or None when they cannot be read."""
        x, y, width, height = rect
        image = self.x11.XGetImage(self.display, self.root, x, y, width, height, 0xFFFFFFFF, 2)
        if not image:
            return None
        try:
            im = image.contents
            # Xvfb at depth 24 keeps 32-bit pixels, blue first.
            if im.bits_per_pixel != 32 or im.byte_order != 0:
                return None
            return Capture(ctypes.string_at(im.data, im.bytes_per_line * im.height),
                           im.bytes_per_line, width, height)
        finally:
            self.x11.XDestroyImage(image)

    def wait_drawn(self, rect, seconds=30):
        """Waits until the window at rect is drawn: its inner corners no longer show the bare
        root, and two reads in a row are the same picture (the program has stopped drawing)."""
        x, y, width, height = rect
        corners = [(4, 4), (width - 5, 4), (4, height - 5), (width - 5, height - 5)]
        last = [None]

        def drawn():
            shot = self.capture(rect)
            if shot is None:
                return False
            bare = any(shot.rgb(cx, cy) == ROOT_BLACK for cx, cy in corners
                       if 0 <= cx < width and 0 <= cy < height)
            same = last[0] is not None and shot.data == last[0].data
            last[0] = shot
            return same and not bare

        return wait_for(drawn, seconds, 0.2)

    def wait_settled(self, title, seconds=60):
        """The window's (x, y, width, height) once it is viewable, drawn, and still at that place
        and size once drawn: where a click aimed at it lands. None when that does not come."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            rect = window_rect(wait_window(self.name, title, "IsViewable", end - time.monotonic()))
            if not rect:
                return None
            if (self.wait_drawn(rect, end - time.monotonic()) and
                    window_rect(window_info(self.name, title)) == rect):
                return rect
        return None


class Capture:
    """Pixels read from the screen: data as the server gave it, rgb() for one pixel."""

    def __init__(self, data, bytes_per_line, width, height):
        self.data, self.bytes_per_line = data, bytes_per_line
        self.width, self.height = width, height

    def rgb(self, x, y):
        at = y * self.bytes_per_line + x * 4
        return bytes((self.data[at + 2], self.data[at + 1], self.data[at]))


def screenshot(display, path, rect=None):
    """The whole screen, or rect (x, y, width, height) of it, into path (PNG). A file left by an
    earlier run is removed first, so a failed capture cannot pass for a new one. True when a new
    file was written."""
    if os.path.exists(path):
        os.remove(path)
    if not shutil.which("import"):
        return False
    crop = ["-crop", "%dx%d+%d+%d" % (rect[2], rect[3], rect[0], rect[1]), "+repage"] \
        if rect else []
    subprocess.run(["import", "-display", display, "-window", "root"] + crop + [path],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return os.path.exists(path) and os.path.getsize(path) > 0
