"""The real agent shows a real warning box on an X display (Xvfb) for a token
certificate about to expire, from a thread of its own: the polling cycle
goes on while the box is open, and the box's thread ends once it is closed.
A screenshot of the box is kept under the build's artifacts folder."""
import os
from pathlib import Path

import harness
from harness import ScenarioTest, wait_until
from xvfb import OnDisplay

from benchlib import agent, boxes, store

INFO, WARNING, ERROR = "[  INFO   ]: ", "[ WARNING ]: ", "[  ERROR  ]: "
HOLDER = "Сидоров Пётр"
PROVIDER = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider"


def artifacts_dir():
    """KEYHAVEN_ARTIFACTS, or artifacts/ beside the bin folder of the build."""
    chosen = os.environ.get("KEYHAVEN_ARTIFACTS")
    if not chosen:
        chosen = Path(os.environ.get("KEYHAVEN_BIN") or harness.REPO / "build" / "mingw" / "bin").parent / "artifacts"
    path = Path(chosen)
    path.mkdir(parents=True, exist_ok=True)
    return path


def log_form(level, text):
    """The bytes a message takes in the log file (Windows-1251, CRLF)."""
    return (level + text).encode("cp1251").replace(b"\n", b"\r\n") + b"\r\n"


def thread_count(pid):
    try:
        return len(os.listdir("/proc/%d/task" % pid))
    except OSError:
        return 0


class WarningBox(OnDisplay, ScenarioTest):
    def tearDown(self):
        super().tearDown()
        agent.reset(self.ws)  # a server whose desktop is not bound to the display just stopped

    def expected_warning(self):
        """(level, possible texts) for the certificate made from warning_dates:
        1 day left, or 0 should midnight pass before the check, or the
        expired text on 31 December."""
        if self.expired:
            return ERROR, [boxes.expired_text(HOLDER)]
        return WARNING, [boxes.days_left_text(HOLDER, 1, "день"), boxes.days_left_text(HOLDER, 0, "дней")]

    def test_box_appears_while_polling_goes_on_and_its_thread_ends_when_closed(self):
        not_before, not_after, self.expired = boxes.warning_dates()
        cert = self.ws.bench_dir / "soon.der"
        self.bench("cert", "make", "-o", cert, "--cn", HOLDER, "--serial", "5A01",
                   "--not-before", not_before.isoformat(), "--not-after", not_after.isoformat())
        self.bench("container", "add", "key1", "--on", "token:T1", "--cert", cert)
        self.bench("token", "insert", "T1")
        self.start_agent(display=True)

        # The box, as the user sees it.
        self.assertTrue(wait_until(lambda: boxes.open_boxes(self.ws), 60, interval=0.5),
                        "no box within 60 s; log:\n%s" % "\n".join(self.entries()))
        level, texts = self.expected_warning()
        [box] = boxes.open_boxes(self.ws)
        self.assertEqual(boxes.CAPTION, box.caption)
        self.assertIn(box.text, texts)
        self.assertEqual(1, len(box.buttons), box.buttons)  # OK only ("ОК" in Russian)
        self.assertIn(box.buttons[0], ("OK", "ОК"))
        shot = artifacts_dir() / "warning_box.png"
        boxes.screenshot(shot)
        self.assertEqual(b"\x89PNG", shot.read_bytes()[:4])

        # Logged once, on the cycle's thread, before the box; never by the box's thread.
        self.assertEqual(1, self.log_bytes().count(log_form(level, box.text)))
        self.assertEqual(1, self.log_bytes(minimal=True).count(log_form(level, box.text)))

        # The cycle does not wait for the user: a second token is handled meanwhile.
        [pid] = agent.running_pids(self.ws)
        threads_with_box = thread_count(pid)
        far = self.ws.bench_dir / "far.der"
        self.bench("cert", "make", "-o", far, "--cn", "Далёкий", "--serial", "5A02", "--not-after", "+400d")
        self.bench("container", "add", "key2", "--on", "token:T2", "--cert", far)
        self.bench("token", "insert", "T2")
        self.wait_for_entry(INFO + "configuration changed: cards_count=0, tokens_count=2")
        self.wait_for_entry("<--- closing import_if_not_exists(), rc=0|", count=1 if self.expired else 2)
        self.assertEqual([box], boxes.open_boxes(self.ws))
        linked = {c.subject: c.container for c in store.list_certificates(self.ws)}
        self.assertEqual("\\\\.\\Token T2\\key2", linked.get("Далёкий"))
        self.assertEqual(not self.expired, HOLDER in linked)

        # OK pressed: the box goes, and so does its thread.
        self.assertEqual(1, boxes.close_boxes(self.ws))
        self.assertEqual([], boxes.open_boxes(self.ws))
        self.assertTrue(wait_until(lambda: thread_count(pid) < threads_with_box, 30),
                        "the agent still runs %d threads" % thread_count(pid))
        self.assertEqual([pid], agent.running_pids(self.ws))


if __name__ == "__main__":
    harness.main()
