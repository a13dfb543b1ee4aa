"""The checker (vexorin-checker.exe, written into a folder by the native vexorin-build) driven
through vxdriver.exe under Wine: its dialog's caption, its boxes, a session for the scenarios,
and what a script run of it showed.
"""
import os
import re
import shutil
import subprocess
import tempfile

from harness import Box, WineSession, quote, to_wine_path, unescape
from trees import write_tree

DIALOG = "ファイルチェッカー"
SUCCESS_BOX = Box("チェック終了", "すべてのファイルは正常です.", ["OK"], "none")


def error_box(text):
    return Box("エラー", text, ["OK"], "warning")


class Run:
    """What one vxdriver script printed: boxes, control texts, the exit code."""

    def __init__(self, result):
        self.ok = result.ok
        self.failure = result.failure
        self.transcript = result.transcript()
        self.boxes = result.boxes
        codes = result.exit_codes
        self.exit_code = codes[-1] if codes else None
        self.texts = []
        for line in result.output:
            m = re.match(r"^TEXT (\d+)=(.*)$", line)
            if m:
                self.texts.append((int(m.group(1)), unescape(m.group(2))))

    def kbytes(self):
        """The KByte figures that control 1001 showed, in the order read."""
        return [int(m.group(1)) for cid, t in self.texts if cid == 1001
                for m in [re.match(r"^(\d+) KByte Checked\. \(\d+％\)$", t)] if m]


class Session:
    """The Wine session (display, prefix, locale) and the tools, shared by all scenarios."""

    def __init__(self, args):
        self.args = args
        self.wine = WineSession(build_dir=os.path.dirname(os.path.abspath(args.driver)))
        self.wine.start()
        self.root = tempfile.mkdtemp(prefix="vxchk-")

    def close(self):
        self.wine.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def folder(self, name, files):
        """A fresh folder below the session's root, with `files` {relative path: bytes or size}."""
        path = os.path.join(self.root, name)
        os.makedirs(path)
        return write_tree(path, files)

    def build(self, folder, name="Vexorin.exe", options=()):
        """Writes a checker into `folder` with vexorin-build and `options` (messages ...)."""
        result = subprocess.run([self.args.build, "--image", self.args.checker, "--yes", "--name", name, *options,
                                 folder],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if result.returncode != 0:
            raise RuntimeError("vexorin-build failed: " + result.stdout.decode("utf-8", "replace"))
        return os.path.join(folder, name)

    def drive(self, lines, timeout=240, **options):
        """Runs a vxdriver script; every process it started is ended by the driver itself."""
        return Run(self.wine.run_driver(self.args.driver, "\n".join(lines), timeout=timeout, **options))


def start(exe, workdir=None):
    return "start %s %s" % (quote(to_wine_path(exe)), quote(to_wine_path(workdir)) if workdir else "-")


def expect_run(t, name, run, boxes, exit_code=0):
    """The driver got through its script, these boxes were shown in order, the exit code."""
    t.check(name + ": script ran to its end", run.ok and run.failure is None, run.transcript[-3000:])
    t.check(name + ": boxes", run.boxes == boxes, "got %r\n     want %r" % (run.boxes, boxes))
    t.check(name + ": exit code %d" % exit_code, run.exit_code == exit_code, "got %r" % run.exit_code)
