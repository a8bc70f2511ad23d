"""The census on the machine's real smart-card stack: the agent on a
workstation made with --pcsc system reaches pcsc-lite through the bench's
bridge, and virtual cards answer it from vpcd readers of a pcscd that this
test starts (and stops, unless one it did not start was running already)."""
import os
import sys
import unittest
from pathlib import Path

import harness
from harness import ScenarioTest

from benchlib.workstation import Workstation, wait_until

CHANGED = "configuration changed: cards_count=%d, tokens_count=%d"
ORDINARY, SECOND, NEVER_PROBED = "Virtual PCD 00 00", "Virtual PCD 00 01", "FT SCR Bench 00 00"
CYRILLIC = "Считыватель Bench 00 00"
PROBE = "apdu=80FE060000"


def _prefix():
    shared = os.environ.get("KEYHAVEN_WORKSTATION") or str(harness.REPO / "build" / "workstation")
    return Path(shared + "-pcsc")


def _bench(*args):
    import subprocess
    return subprocess.run([sys.executable, str(harness.WORKSTATION_COMMAND), "--prefix", str(_prefix()),
                           *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)


class RealStack(ScenarioTest):
    ws = Workstation(_prefix())
    started_pcscd = False

    @classmethod
    def setUpClass(cls):
        started = _bench("pcscd", "start")
        if started.returncode != 0:
            raise AssertionError("pcscd: " + started.stderr.decode(errors="replace"))
        cls.started_pcscd = started.stdout.startswith(b"pcscd started")
        made = _bench("create", "--pcsc", "system", "--force")
        if made.returncode != 0:
            cls.tearDownClass()
            raise AssertionError("create --pcsc system: " + made.stderr.decode(errors="replace"))

    @classmethod
    def tearDownClass(cls):
        _bench("reset")
        _bench("server", "stop")
        if cls.started_pcscd:
            _bench("pcscd", "stop")

    def setUp(self):
        super().setUp()
        readers = self.bench("pcscd", "status", check=False).stdout.decode()
        if NEVER_PROBED not in readers:
            self.skipTest("the running pcscd was not started by the bench and has no reader %r" % NEVER_PROBED)

    def record(self):
        return self.bench("pcsc", "record").stdout.decode().splitlines()

    def probes_of(self, reader):
        return [line for line in self.record() if line.startswith(reader + "\t")]

    def test_windows_programs_see_the_readers_of_pcscd_with_windows_codes(self):
        self.bench("card", "insert", ORDINARY, "--t1-only")
        self.bench("card", "insert", SECOND, "--exclusive")
        self.assertEqual([ORDINARY + "\t0x00000000\t2",       # T=1 only
                          SECOND + "\t0x8010000B\t0",         # sharing violation
                          NEVER_PROBED + "\t0x80100069\t0",   # an empty reader: removed card, as on Windows
                          "FT SCR Bench 00 01\t0x80100069\t0",
                          CYRILLIC + "\t0x80100069\t0",       # UTF-8 in pcsc-lite, code page 1251 here
                          "Считыватель Bench 00 01\t0x80100069\t0"],
                         self.bench("pcsc", "show").stdout.decode().replace("\r", "").splitlines())

    def test_what_belongs_to_the_stand_in_is_refused_with_a_message(self):
        for args, message in [(("reader", "add", "R"), "pcscd's configuration"),
                              (("card", "insert", ORDINARY, "--reply", "!80100069"), "is the stand-in's"),
                              (("card", "insert", "Absent 00 00"), "no vpcd reader 'Absent 00 00'"),
                              (("card", "remove", ORDINARY), "holds no card"),
                              (("pcsc", "service", "stop"), "pcscd start|stop")]:
            result = self.bench(*args, check=False)
            self.assertEqual(2, result.returncode, args)
            self.assertIn(message, result.stderr.decode())

    def test_answering_card_counted_at_insertion_and_at_removal(self):
        self.start_agent()
        self.bench("card", "insert", ORDINARY)
        self.wait_for_entry(CHANGED % (1, 0))
        self.bench("card", "remove", ORDINARY)
        self.wait_for_entry(CHANGED % (0, 0))
        self.assertIn(ORDINARY + "\t" + PROBE + "\treply=9000", self.record())

    def test_card_answering_through_get_response_counted_in_a_reader_named_in_cyrillic(self):
        self.bench("card", "insert", CYRILLIC, "--reply", "6110", "--reply", "00" * 16 + "9000")
        self.start_agent()
        self.wait_for_entry(CHANGED % (1, 0))
        self.assertEqual([CYRILLIC + "\t" + PROBE + "\treply=6110",
                          CYRILLIC + "\tapdu=00C0000010\treply=" + "00" * 16 + "9000"], self.probes_of(CYRILLIC)[:2])

    def test_refusing_and_short_cards_not_counted_and_never_probed_reader_untouched(self):
        self.bench("card", "insert", ORDINARY, "--reply", "6D00")
        self.bench("card", "insert", SECOND, "--reply", "90")
        self.bench("card", "insert", NEVER_PROBED)
        self.start_agent()
        # Two censuses have probed both cards: the first one's verdict is logged.
        self.assertTrue(wait_until(lambda: len(self.probes_of(SECOND)) >= 2, 20), self.record())
        self.assertEqual([], [e for e in self.entries() if "configuration changed" in e])
        self.assertEqual([], self.probes_of(NEVER_PROBED))
        self.assertIn(ORDINARY + "\t" + PROBE + "\treply=6D00", self.record())

    def test_card_held_exclusively_by_another_program_not_counted(self):
        self.bench("card", "insert", ORDINARY, "--exclusive")
        self.bench("card", "insert", SECOND)
        self.start_agent()
        self.wait_for_entry(CHANGED % (1, 0))
        self.assertEqual([], [e for e in self.entries() if CHANGED % (2, 0) in e])
        self.assertEqual([], self.probes_of(ORDINARY))

    def test_pcscd_stopping_and_coming_back_under_a_running_agent(self):
        if not self.started_pcscd:
            self.skipTest("the running pcscd was not started by this test")
        self.bench("card", "insert", ORDINARY)
        self.start_agent()
        self.wait_for_entry(CHANGED % (1, 0))
        self.bench("pcscd", "stop")  # the card goes with its reader
        try:
            self.wait_for_entry(CHANGED % (0, 0))
        finally:
            self.bench("pcscd", "start")
        self.bench("card", "insert", ORDINARY)
        self.wait_for_entry(CHANGED % (1, 0), count=2)
        self.assertEqual(0, self.bench("agent", "status", check=False).returncode)  # it rode it out

    def test_ignore_cards_skips_the_container_of_a_card_that_answers(self):
        self.bench("settings", "write", "ignore_cards=1")
        self.bench("card", "insert", ORDINARY)
        self.bench("container", "add", "on-card", "--on", "card:" + ORDINARY)
        self.bench("token", "insert", "0001")
        self.bench("container", "add", "on-token", "--on", "token:0001")
        self.start_agent()
        ignored = self.wait_for_entry("ignoring card container according to service settings { container=")
        self.assertIn(ORDINARY, ignored[0])
        self.assertIn("on-card", ignored[0])
        self.assertIn("[  INFO   ]: configuration changed: cards_count=(1, ignored), tokens_count=1", self.entries())


if __name__ == "__main__":
    unittest.main(verbosity=2)
