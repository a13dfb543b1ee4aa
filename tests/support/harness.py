"""Run Windows GUI programs under Wine + Xvfb for automated tests.

Standard library only. Typical use::

    from harness import WineSession
    with WineSession(build_dir=os.path.dirname(driver_exe)) as wine:
        res = wine.run_driver(driver_exe, '''
            start "%s" - dialog
            wait-dialog 設定
            press OK
            expect-exit 111
        ''' % wine.to_wine_path(sample_exe))
        assert res.ok, res.transcript()

What a session does:

* Display: uses $DISPLAY when an X server answers there, otherwise starts
  ``Xvfb :N -screen 0 1024x768x24`` on a free N and stops it (and the Wine
  processes that used it) when the session ends.
* Build: the Windows build the test command chose for this machine
  (tests/support/wine_arch.py, handed over in $VX_WINE_ARCH and $VX_WINE_WHY; asked
  here when they are not set). The i686 build runs with Debian's ``wine`` in a
  32-bit prefix; the x86-64 build, where the machine runs no 32-bit code, with
  the 64-bit loader in a 64-bit prefix of its own. A session says which, and why,
  on its first line of output.
* Prefix: ``prefix`` argument, else $VX_WINEPREFIX, else $WINEPREFIX, else
  ``<build_dir>/wineprefix-<user>`` (``-win64`` added for the x86-64 build), else
  ~/.wine. A missing prefix is created once (without the Mono/Gecko installers);
  later sessions only check a marker file, so a second run starts in well under a
  second when the wineserver is still up.
* Wine setting: without a window manager (plain Xvfb) Wine's X11 driver
  waits 2 s for the window manager on every window it unmaps, so each
  program exit took 2 s longer. Sessions therefore set
  HKCU\\Software\\Wine\\X11 Driver\\Managed=N in their prefix (never in the
  user's own ~/.wine).
* Fonts: Wine's Marlett (fonts-wine), which draws the caption buttons, is copied
  into the prefix's Fonts folder: Debian's Wine 8 does not load it where the
  package puts it.
* Environment: LC_ALL=ja_JP.UTF-8 (ANSI code page 932) and WINEDEBUG=-all. Another
  ``locale`` (C.UTF-8 gives code page 1252) runs the programs as on a system that is not
  Japanese; Wine takes the code page from each program's locale.
* Locking: a session holds an exclusive lock on ``<prefix>.lock``, so test
  processes that share a prefix (ctest -j) take turns instead of fighting
  over one wineserver, desktop and keyboard focus.
"""

import contextlib
import fcntl
import getpass
import os
import queue
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

import wine_arch

__all__ = [
    "WineSession", "DriverResult", "Box", "HarnessError", "WineArch", "current_arch",
    "to_wine_path", "from_wine_path", "quote", "unescape", "parse_box", "png_size",
]

MANAGED_MARKER = ".vx-managed-n"
FONTS_MARKER = ".vx-fonts"
CREATED_MARKER = ".vx-harness-prefix"
# Wine draws the caption buttons with its Marlett font (the close cross is its "r").
WINE_MARLETT = "/usr/share/wine/fonts/marlett.ttf"  # Debian's fonts-wine


class HarnessError(Exception):
    pass


# ------------------------------------------------------------------ which Windows build

class WineArch:
    """One of the two Windows builds: how Wine runs it, and what compiles programs for it."""

    def __init__(self, name, why):
        if name not in ("i686", "x86-64"):
            raise HarnessError("unknown Windows build %r (VX_WINE_ARCH)" % name)
        self.name, self.why = name, why
        self.x64 = name == "x86-64"
        # Debian's `wine` script takes the 32-bit loader whenever it is installed, also where it
        # cannot run, so the x86-64 build names the 64-bit loader itself.
        self.loader = (shutil.which("wine64") or "/usr/lib/wine/wine64") if self.x64 else "wine"
        self.winearch = "win64" if self.x64 else "win32"
        self.cc = "x86_64-w64-mingw32-gcc" if self.x64 else "i686-w64-mingw32-gcc"
        self.prefix_suffix = "-win64" if self.x64 else ""

    @property
    def announcement(self):
        return "Wine tests: the %s build (%s)" % (self.name, self.why)

    def env(self, base):
        """`base` with the variables that make Wine programs start with this build's loader."""
        env = dict(base)
        if self.x64:
            env["WINELOADER"] = self.loader
        return env


def current_arch(environ=None):
    """The build the test command chose ($VX_WINE_ARCH, $VX_WINE_WHY), else asks the machine."""
    environ = os.environ if environ is None else environ
    if environ.get("VX_WINE_ARCH"):
        return WineArch(environ["VX_WINE_ARCH"], environ.get("VX_WINE_WHY", "chosen by VX_WINE_ARCH"))
    return WineArch(*wine_arch.choose(environ))


# ------------------------------------------------------------------ paths

def to_wine_path(path):
    """Linux path -> the same file seen through Wine's Z: drive."""
    full = os.path.abspath(os.fspath(path))
    return "Z:" + full.replace("/", "\\")


def from_wine_path(path):
    """Z:\\... path (as the driver prints it) -> Linux path."""
    if not re.match(r"^[zZ]:\\", path):
        raise ValueError("not a Z: drive path: %r" % path)
    return path[2:].replace("\\", "/") or "/"


def quote(text):
    """Quotes text as one vxdriver script argument (double quotes, escaped)."""
    out = ['"']
    for c in text:
        out.append({"\\": "\\\\", '"': '\\"', "\n": "\\n", "\r": "\\r", "\t": "\\t"}.get(c, c))
    out.append('"')
    return "".join(out)


# ------------------------------------------------------------------ transcript parsing

_UNESCAPE = {"\\": "\\", "n": "\n", "r": "\r", "t": "\t", ",": ","}


def unescape(text):
    """Undo the driver's escaping (\\\\, \\n, \\r, \\t, and \\, in button lists)."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text) and text[i + 1] in _UNESCAPE:
            out.append(_UNESCAPE[text[i + 1]])
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


class Box:
    def __init__(self, caption, text, buttons, icon):
        self.caption, self.text, self.buttons, self.icon = caption, text, buttons, icon

    def __repr__(self):
        return "Box(caption=%r, text=%r, buttons=%r, icon=%r)" % (
            self.caption, self.text, self.buttons, self.icon)

    def __eq__(self, other):
        return isinstance(other, Box) and vars(self) == vars(other)


_BOX_RE = re.compile(r"^BOX caption=(.*) text=(.*) buttons=(.*) icon=(\w+)$")


def parse_box(line):
    m = _BOX_RE.match(line)
    if not m:
        return None
    caption, text, buttons, icon = m.groups()
    labels = [unescape(b) for b in re.split(r"(?<!\\),", buttons)] if buttons else []
    return Box(unescape(caption), unescape(text), labels, icon)


class DriverResult:
    """Outcome of one vxdriver run."""

    def __init__(self, returncode, lines, stderr, snapshots, timed_out):
        self.returncode = returncode
        self.lines = lines            # every stdout line, command echoes included
        self.stderr = stderr
        self.snapshots = snapshots    # {name: png path}
        self.timed_out = timed_out

    @property
    def ok(self):
        return self.returncode == 0 and not self.timed_out

    @property
    def output(self):
        """Result lines without the "> command" echoes."""
        return [l for l in self.lines if not l.startswith("> ")]

    @property
    def failure(self):
        for l in self.lines:
            if l.startswith("FAIL: "):
                return l[len("FAIL: "):]
        return None

    def starting(self, prefix):
        return [l for l in self.output if l.startswith(prefix)]

    @property
    def boxes(self):
        return [parse_box(l) for l in self.output if l.startswith("BOX ")]

    @property
    def exit_codes(self):
        return [int(l.split()[1]) for l in self.output if l.startswith("EXIT ")]

    def controls(self):
        """CTRL lines as dicts (values unescaped; id as int)."""
        out = []
        for l in self.output:
            if not l.startswith("CTRL "):
                continue
            head, _, text = l.partition(" text=")
            fields = dict(kv.split("=", 1) for kv in head.split()[1:])
            fields["id"] = int(fields["id"])
            fields["text"] = unescape(text)
            out.append(fields)
        return out

    def transcript(self):
        t = "\n".join(self.lines)
        if self.stderr.strip():
            t += "\n[stderr]\n" + self.stderr
        if self.timed_out:
            t += "\n[driver timed out]"
        return t


def png_size(path):
    """(width, height) from a PNG header."""
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise HarnessError("%s is not a PNG file" % path)
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


# ------------------------------------------------------------------ X display

def _display_socket(display):
    """(family, address) of an X display string such as ':99' or 'host:1.0'."""
    m = re.match(r"^(?:unix)?(?P<host>[^:]*):(?P<num>\d+)(?:\.\d+)?$", display or "")
    if not m:
        return None
    num = int(m.group("num"))
    host = m.group("host")
    if host in ("", "unix", "localhost") and os.path.exists("/tmp/.X11-unix/X%d" % num):
        return socket.AF_UNIX, "/tmp/.X11-unix/X%d" % num
    if host in ("", "unix"):
        return socket.AF_UNIX, "\0/tmp/.X11-unix/X%d" % num  # Linux abstract socket
    return socket.AF_INET, (host, 6000 + num)


def display_reachable(display, timeout=2.0):
    addr = _display_socket(display)
    if not addr:
        return False
    s = socket.socket(addr[0], socket.SOCK_STREAM)
    s.settimeout(timeout)
    try:
        s.connect(addr[1])
        return True
    except OSError:
        return False
    finally:
        s.close()


def _display_in_use(num):
    return (os.path.exists("/tmp/.X%d-lock" % num)
            or os.path.exists("/tmp/.X11-unix/X%d" % num)
            or display_reachable(":%d" % num, timeout=0.5))


# ------------------------------------------------------------------ session

class WineSession:
    def __init__(self, prefix=None, build_dir=None, display=None, verbose=False,
                 screen="1024x768x24", locale="ja_JP.UTF-8", arch=None, announce=True):
        self.verbose = verbose
        self.announce = announce
        self.locale = locale
        self.screen = screen
        self.arch = arch or current_arch()
        self.wine = os.environ.get("VX_WINE", self.arch.loader)
        self.prefix = os.path.abspath(os.path.expanduser(self._choose_prefix(prefix, build_dir, self.arch)))
        self._requested_display = display
        self.display = None
        self._xvfb = None
        self._lock_file = None
        self._tmp = None
        self.env = None

    @staticmethod
    def _choose_prefix(prefix, build_dir, arch):
        if prefix:
            return prefix
        for var in ("VX_WINEPREFIX", "WINEPREFIX"):
            if os.environ.get(var):
                return os.environ[var]
        if build_dir:
            return os.path.join(build_dir, "wineprefix-%s%s" % (getpass.getuser(), arch.prefix_suffix))
        return "~/.wine" + arch.prefix_suffix

    def command(self, *args):
        """The command line that runs a Windows program (and its arguments) with this session's Wine."""
        return [self.wine] + [str(a) for a in args]

    # -- lifecycle

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def start(self):
        if self.announce:
            print(self.arch.announcement, flush=True)
        self._log("prefix %s" % self.prefix)
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        self._lock_file = open(self.prefix + ".lock", "a")
        fcntl.flock(self._lock_file, fcntl.LOCK_EX)
        self._tmp = tempfile.mkdtemp(prefix="vxwine-")
        try:
            self._ensure_display()
            self.env = self._make_env()
            self._ensure_prefix()
        except BaseException:
            self.close()
            raise

    def close(self):
        if self._xvfb is not None:
            # Wine processes of this prefix are bound to the display we are
            # about to remove; end them first so no one is left half-dead.
            self._run_quiet(["wineserver", "-k"], timeout=30)
            self._xvfb.terminate()
            try:
                self._xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
            self._xvfb = None
        if self._tmp:
            shutil.rmtree(self._tmp, ignore_errors=True)
            self._tmp = None
        if self._lock_file:
            self._lock_file.close()
            self._lock_file = None

    def _log(self, msg):
        if self.verbose:
            print("[harness] " + msg, file=sys.stderr, flush=True)

    # -- display

    def _ensure_display(self):
        if self._requested_display:
            if not display_reachable(self._requested_display):
                raise HarnessError("X display %s does not answer" % self._requested_display)
            self.display = self._requested_display
            return
        current = os.environ.get("DISPLAY")
        if current and display_reachable(current):
            self.display = current
            self._log("using DISPLAY=%s" % current)
            return
        if not shutil.which("Xvfb"):
            raise HarnessError("no usable DISPLAY and Xvfb is not installed (tools/install-deps.sh)")
        for num in range(99, 199):
            if _display_in_use(num):
                continue
            proc = subprocess.Popen(
                ["Xvfb", ":%d" % num, "-screen", "0", self.screen, "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
            deadline = time.time() + 10
            while time.time() < deadline and proc.poll() is None:
                if display_reachable(":%d" % num, timeout=0.5):
                    self._xvfb = proc
                    self.display = ":%d" % num
                    self._log("started Xvfb on %s" % self.display)
                    return
                time.sleep(0.05)
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            # Lost a race for this display number (or Xvfb failed): next one.
        raise HarnessError("could not start Xvfb")

    # -- prefix

    def _make_env(self):
        env = self.arch.env(os.environ)
        env.update({
            "WINEPREFIX": self.prefix,
            "DISPLAY": self.display,
            "LC_ALL": self.locale,
            "WINEDEBUG": "-all",
        })
        # Mono and Gecko installers would pop up dialogs nobody can answer.
        env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        env.pop("WINEARCH", None)  # only meaningful when creating a prefix
        return env

    def _run_quiet(self, args, timeout, env=None):
        """Runs a Wine tool with all stdio on /dev/null.

        Wine starts long-lived helpers (wineserver, services.exe, explorer.exe)
        on demand; if they inherited a pipe of ours, reading it would never
        reach EOF. So the helpers are started here, detached from any pipe.
        """
        try:
            return subprocess.run(args, env=env or self.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=timeout, start_new_session=True).returncode
        except subprocess.TimeoutExpired:
            return None

    def _ensure_prefix(self):
        t0 = time.time()
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            self._log("creating prefix (takes a while once)")
            env = dict(self.env, WINEARCH=self.arch.winearch)
            rc = self._run_quiet([self.wine, "wineboot", "-i"], timeout=300, env=env)
            # The wineserver writes the registry files when it shuts down.
            self._run_quiet(["wineserver", "-k"], timeout=60)
            self._run_quiet(["wineserver", "-w"], timeout=60)
            if rc != 0 or not os.path.exists(os.path.join(self.prefix, "system.reg")):
                raise HarnessError("wineboot failed to create %s (rc=%s)" % (self.prefix, rc))
            open(os.path.join(self.prefix, CREATED_MARKER), "w").close()
        # Keep a wineserver around between the short driver runs of a test.
        subprocess.Popen(["wineserver", "-p30"], env=self.env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True).wait(timeout=30)
        own_default = os.path.realpath(self.prefix) == os.path.realpath(os.path.expanduser("~/.wine"))
        if not os.path.exists(os.path.join(self.prefix, MANAGED_MARKER)):
            if own_default:
                self._log("~/.wine is left unchanged: every window unmap costs 2 s without a "
                          "window manager; use a separate prefix for speed")
            else:
                rc = self._run_quiet([self.wine, "reg", "add", r"HKCU\Software\Wine\X11 Driver",
                                      "/v", "Managed", "/d", "N", "/f"], timeout=120)
                if rc != 0:
                    raise HarnessError("could not configure the Wine prefix (reg add rc=%s)" % rc)
                open(os.path.join(self.prefix, MANAGED_MARKER), "w").close()
        if not os.path.exists(os.path.join(self.prefix, FONTS_MARKER)):
            # Wine has no "ＭＳ Ｐゴシック" and would stand a monospaced font in for it; the
            # proportional IPA Gothic is much closer to what Windows shows.
            for face in ("ＭＳ Ｐゴシック", "MS PGothic"):
                rc = self._run_quiet([self.wine, "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements",
                                      "/v", face, "/d", "IPAPGothic", "/f"], timeout=120)
                if rc != 0:
                    raise HarnessError("could not configure the Wine prefix's fonts (rc=%s)" % rc)
            open(os.path.join(self.prefix, FONTS_MARKER), "w").close()
        marlett = os.path.join(self.prefix, "drive_c", "windows", "Fonts", "marlett.ttf")
        if not os.path.exists(marlett):
            # Debian's Wine 8 looks for the fonts of fonts-wine under "<data dir>\../fonts", a path
            # its NT layer rejects, so it never loads them and draws the close box as the letter "r".
            # The fonts in the prefix's own Fonts folder it does load.
            if os.path.exists(WINE_MARLETT):
                os.makedirs(os.path.dirname(marlett), exist_ok=True)
                shutil.copyfile(WINE_MARLETT, marlett)
            else:
                print("harness: %s is missing (tools/install-deps.sh installs fonts-wine): window "
                      "captions show an \"r\" for the close box" % WINE_MARLETT, file=sys.stderr, flush=True)
        # Starts the prefix's background processes detached from our pipes.
        self._run_quiet([self.wine, "cmd", "/c", "exit"], timeout=120)
        self._log("prefix ready in %.1f s" % (time.time() - t0))

    # -- running things

    to_wine_path = staticmethod(to_wine_path)

    def run_driver(self, driver_exe, script, timeout=120, snapshot_dir=None,
                   screenshot_on_failure=None, via_stdin=False, cwd=None):
        """Runs vxdriver with the given script text and returns a DriverResult.

        snapshot_dir: `snapshot <name>` commands are saved as <name>.png there.
        screenshot_on_failure: PNG path for a full-screen shot taken when the
        script fails, before the driver terminates the program.
        via_stdin: pass the script on stdin instead of as a file.
        """
        if self.env is None:
            raise HarnessError("session not started")
        script = "\n".join(line.strip() for line in script.strip("\n").splitlines()) + "\n"
        ack = not via_stdin and (snapshot_dir is not None or screenshot_on_failure is not None)
        args = [self.wine, os.path.abspath(driver_exe)]
        if ack:
            args.append("--ack")
        if not via_stdin:
            fd, path = tempfile.mkstemp(suffix=".vxs", dir=self._tmp)
            with os.fdopen(fd, "w", encoding="utf-8") as f:
                f.write(script)
            args.append(to_wine_path(path))
        stderr_file = tempfile.TemporaryFile(dir=self._tmp)
        proc = subprocess.Popen(args, env=self.env, cwd=cwd or self._tmp,
                                stdin=subprocess.PIPE if (ack or via_stdin) else subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=stderr_file, start_new_session=True)
        if via_stdin:
            proc.stdin.write(script.encode("utf-8"))
            proc.stdin.close()

        lines_q = queue.Queue()

        def reader():
            for raw in proc.stdout:
                lines_q.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
            lines_q.put(None)

        threading.Thread(target=reader, daemon=True).start()
        lines, snapshots = [], {}
        timed_out = False
        deadline = time.time() + timeout
        exited_at = None
        while True:
            try:
                line = lines_q.get(timeout=0.05)
            except queue.Empty:
                if proc.poll() is not None:
                    # Output is complete once the driver is gone; a program it
                    # started could hold the pipe open, so do not wait for EOF long.
                    exited_at = exited_at or time.time()
                    if time.time() - exited_at > 1.0:
                        break
                elif time.time() > deadline:
                    timed_out = True
                    break
                continue
            if line is None:
                break
            lines.append(line)
            m = re.match(r"^SNAPSHOT name=(\S+) x=(-?\d+) y=(-?\d+) w=(\d+) h=(\d+)$", line)
            if m and ack:
                name = m.group(1)
                rect = tuple(int(v) for v in m.group(2, 3, 4, 5))
                if name == "failure" and screenshot_on_failure:
                    png = screenshot_on_failure
                    rect = None
                else:
                    os.makedirs(snapshot_dir or self._tmp, exist_ok=True)
                    png = os.path.join(snapshot_dir or self._tmp, name + ".png")
                try:
                    self.screenshot(png, rect)
                    snapshots[name] = png
                except HarnessError as e:
                    lines.append("HARNESS: screenshot failed: %s" % e)
                with contextlib.suppress(OSError):
                    proc.stdin.write(b"\n")
                    proc.stdin.flush()
        if timed_out:
            proc.kill()
            # The programs the driver started live on as separate processes.
            self._run_quiet(["wineserver", "-k"], timeout=30)
        try:
            rc = proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            rc = proc.wait()
        if proc.stdin and not proc.stdin.closed:
            with contextlib.suppress(OSError):
                proc.stdin.close()
        stderr_file.seek(0)
        err = stderr_file.read().decode("utf-8", "replace")
        stderr_file.close()
        return DriverResult(rc, lines, err, snapshots, timed_out)

    def screenshot(self, png_path, rect=None):
        """Screenshot of the whole screen, or of rect=(x, y, w, h), as PNG."""
        if not shutil.which("import"):
            raise HarnessError("ImageMagick 'import' is not installed")
        args = ["import", "-display", self.display, "-window", "root"]
        if rect:
            x, y, w, h = rect
            # ImageMagick clips a crop at the right and bottom edges itself,
            # but cannot express a negative offset.
            x0, y0 = max(0, x), max(0, y)
            w, h = w - (x0 - x), h - (y0 - y)
            if w <= 0 or h <= 0:
                raise HarnessError("rectangle %r is off screen" % (rect,))
            args += ["-crop", "%dx%d+%d+%d" % (w, h, x0, y0), "+repage"]
        args.append(png_path)
        try:
            r = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        except subprocess.TimeoutExpired:
            raise HarnessError("import timed out")
        if r.returncode != 0 or not os.path.exists(png_path):
            raise HarnessError("import failed: %s" % r.stderr.decode("utf-8", "replace").strip())
        return png_path
