"""An Xvfb server for scenarios whose agent shows real message boxes.

    with Xvfb() as x:          # a free display, DISPLAY set for this process
        ...                    # and so for the agent, bench_boxes and xwd
    # server stopped, DISPLAY as it was

Xvfb chooses the display number itself (-displayfd), so parallel runs do not
collide. Wine keeps one desktop per X display: the agent and bench_boxes.exe
must see the same DISPLAY, which they do when both inherit it from here.
"""
import os
import select
import shutil
import subprocess


class Xvfb:
    def __init__(self, screen="1024x768x24", timeout=30):
        self.screen = screen
        self.timeout = timeout
        self.process = None
        self.display = None
        self._saved = None

    def start(self):
        if not shutil.which("Xvfb"):
            raise RuntimeError("Xvfb is not installed (package xvfb)")
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen, "-nolisten", "tcp"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            os.close(write_end)
            write_end = None
            number = self._read_display_number(read_end)
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        self.display = ":%s" % number
        self._saved = os.environ.get("DISPLAY")
        os.environ["DISPLAY"] = self.display
        return self

    def _read_display_number(self, read_end):
        text = b""
        while not text.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], self.timeout)
            chunk = os.read(read_end, 64) if ready else b""
            if not chunk:
                self.stop()
                raise RuntimeError("Xvfb did not report its display within %ss" % self.timeout)
            text += chunk
        return int(text.strip())

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None
        if self.display is not None:
            if self._saved is None:
                os.environ.pop("DISPLAY", None)
            else:
                os.environ["DISPLAY"] = self._saved
            self.display = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class OnDisplay:
    """Mixed into a scenario (before its test class) whose agent shows its
    boxes: each test gets a display of its own, stopped after the test's own
    tearDown."""

    def setUp(self):
        super().setUp()
        self.display = Xvfb().start()

    def tearDown(self):
        super().tearDown()
        self.display.stop()
