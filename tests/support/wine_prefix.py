"""The wine prefix of a GUI suite, started clean and ended with every process in it.

A wine server outlives its last program by a few seconds, and with it the desktop process that
holds the X display it was started on. A suite that comes back meanwhile with a new Xvfb finds
that server: its windows go to a desktop on a display that is gone (BadWindow, or no window at
all). So a run kills any server left in its prefix before it starts, keeps one server of its own
for all of its wine commands, and kills it (and every program of the prefix) before its display
goes. Test scripts import it with tests/support on sys.path."""
import os
import subprocess
import tempfile

# No Mono or Gecko: a prefix made without them never asks for a download.
DLL_OVERRIDES = "mscoree,mshtml="


# Chinese texts drawn with an installed CJK font (fonts-wqy-microhei).
CJK_FONT = {
    r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink":
        {"Tahoma": ["wqy-microhei.ttc,WenQuanYi Micro Hei"]},
    r"HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements":
        {"Microsoft YaHei": "WenQuanYi Micro Hei"},
}

# Windows drawn by wine itself: with no window manager it would otherwise wait for one at each
# window's first show.
UNMANAGED_WINDOWS = {r"HKEY_CURRENT_USER\Software\Wine\X11 Driver": {"Managed": "N"}}


def own_desktop(exe_name, width, height):
    """Settings that give a program a virtual desktop of its own. The default desktop is shared
    by every process of the server, and one started by a console program without a display
    would leave this program's windows nowhere to go."""
    desktop = "ovra7-" + os.path.splitext(exe_name)[0]
    return {
        "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\Explorer" % exe_name:
            {"Desktop": desktop},
        r"HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops":
            {desktop: "%dx%d" % (width, height)},
    }


class WinePrefix:
    """Use as a context manager around the suite, or call start() and stop()."""

    def __init__(self, path, env):
        self.path = os.path.abspath(path)
        self.env = dict(env, WINEPREFIX=self.path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES=DLL_OVERRIDES)

    def _run(self, words, seconds):
        """Runs a wine tool (output dropped: the same reason as in wine()); its exit code, or
        None when it did not end within `seconds`."""
        try:
            done = subprocess.run(words, env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=seconds)
        except subprocess.TimeoutExpired:
            return None
        return done.returncode

    def kill_server(self):
        """Ends the prefix's server and every program in it, and waits until it is gone."""
        self._run(["wineserver", "-k"], 60)
        self._run(["wineserver", "-w"], 60)

    def start(self, create_seconds=600):
        """A clean server for this prefix, the prefix made first when it is new. True when the
        prefix exists and its server runs."""
        self.kill_server()
        if not os.path.exists(os.path.join(self.path, "system.reg")):
            # A first start takes seconds on an idle machine and far longer on a busy one; its
            # own server is ended before the persistent one starts, which would refuse to.
            self._run(["wineboot", "-i"], create_seconds)
            self.kill_server()
        if not os.path.exists(os.path.join(self.path, "system.reg")):
            return False
        return self._run(["wineserver", "-p"], 60) == 0

    def stop(self):
        self.kill_server()

    def wine(self, *words, seconds=120):
        """Runs a program in the prefix; (exit code, its output as text). The output goes
        through a file: programs that wine starts on the way (the desktop, services) inherit
        the output and would hold a pipe open long after the program itself has ended."""
        with tempfile.TemporaryFile() as out:
            try:
                done = subprocess.run(["wine", *words], env=self.env, stdin=subprocess.DEVNULL,
                                      stdout=out, stderr=subprocess.DEVNULL, timeout=seconds)
            except subprocess.TimeoutExpired:
                return None, ""
            out.seek(0)
            return done.returncode, out.read().decode("utf-8", "replace")

    def set_registry(self, keys):
        """Sets registry values in one import: {key: {name: value}}, a key with its root spelt
        out (HKEY_CURRENT_USER\\...), a value a string (REG_SZ) or a list of them (REG_MULTI_SZ).
        True when reg says so."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        for key, values in keys.items():
            lines.append("[%s]" % key)
            for name, value in values.items():
                if isinstance(value, list):
                    data = "".join(v + "\0" for v in value).encode("utf-16-le") + b"\0\0"
                    text = "hex(7):" + ",".join("%02x" % b for b in data)
                else:
                    text = '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')
                lines.append('"%s"=%s' % (name, text))
            lines.append("")
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "settings.reg")
            with open(path, "w", encoding="utf-16", newline="\r\n") as f:
                f.write("\n".join(lines) + "\n")
            # Z: is the prefix's drive for "/".
            return self.wine("reg", "import", "Z:" + path.replace("/", "\\"))[0] == 0

    def __enter__(self):
        if not self.start():
            self.stop()
            raise RuntimeError("wine prefix %s could not be started" % self.path)
        return self

    def __exit__(self, *exc):
        self.stop()
