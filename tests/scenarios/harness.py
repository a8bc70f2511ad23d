"""Scenario tests: the real keyhaven.exe on a workstation, driven through
bench/workstation and judged by its log files, the store and the stand-ins'
records. Each test starts from a reset workstation."""
import os
import re
import subprocess
import sys
import time
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "bench" / "lib"))

from benchlib import agent  # noqa: E402
from benchlib.workstation import Workstation, wait_until  # noqa: E402

WORKSTATION_COMMAND = REPO / "bench" / "workstation"
STAMP = re.compile(rb"^\d\d:\d\d:\d\d > ")


class ScenarioTest(unittest.TestCase):
    ws = Workstation()

    def setUp(self):
        self.bench("reset")

    def tearDown(self):
        agent.stop_all(self.ws)

    # --- bench ------------------------------------------------------------
    def bench(self, *args, input=None, check=True):
        """Runs bench/workstation COMMAND ... on this workstation."""
        result = subprocess.run([sys.executable, str(WORKSTATION_COMMAND), "--prefix", str(self.ws.prefix),
                                 *map(str, args)], input=input, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=300)
        if check and result.returncode != 0:
            self.fail("bench/workstation %s: %s" % (" ".join(map(str, args)), result.stderr.decode(errors="replace")))
        return result

    def start_agent(self, quick=False, display=False):
        return agent.start(self.ws, quick=quick, display=display)

    # --- log --------------------------------------------------------------
    def log_bytes(self, minimal=False, folder=None):
        path = agent.log_path(self.ws, minimal)
        if folder is not None:
            path = Path(folder) / path.name
        return path.read_bytes() if path.is_file() else b""

    def entries(self, minimal=False, folder=None):
        """Log lines as text without their time stamps (Windows-1251 decoded)."""
        lines = self.log_bytes(minimal, folder).split(b"\r\n")
        if lines and lines[-1] == b"":
            lines.pop()
        return [STAMP.sub(b"", line).decode("cp1251") for line in lines]

    def wait_for_entry(self, text, timeout=15, minimal=False, count=1):
        """Waits until at least count log lines contain text; returns them all."""
        found = wait_until(lambda: [e for e in self.entries(minimal) if text in e] if
                           len([e for e in self.entries(minimal) if text in e]) >= count else None, timeout)
        if not found:
            self.fail("no log line with %r within %ss; log:\n%s" % (text, timeout, "\n".join(self.entries())))
        return found

    def assertInOrder(self, expected, entries):
        """expected appear in entries in this order (other lines may lie between)."""
        position = 0
        for wanted in expected:
            for i in range(position, len(entries)):
                if entries[i] == wanted:
                    position = i + 1
                    break
            else:
                self.fail("%r not found in order in:\n%s" % (wanted, "\n".join(entries)))


def main():
    unittest.main(verbosity=2)
