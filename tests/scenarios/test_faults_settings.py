"""A settings file that stays broken, turns binary, holds NUL bytes, carries
a 1 MB line, or is rewritten while the agent reads it. The agent keeps
running and keeps the last good values (each broken read logged), and ends
with the values the file ends with. A file in UTF-16, with a UTF-8
byte-order mark or ending in Ctrl-Z is read; one that is broken or another user's at start-up
holds the cleaning, so a hand-imported certificate survives the carriers."""
import random
import threading
import time

import faults
from faults import ERROR, INFO, WARNING, FaultScenario

from benchlib import agent, pcsc, provider, settings, store
from benchlib.workstation import wait_until

EXCEPTION = ERROR + "settings file exception: "
HELD = WARNING + "[MY] storage is not cleaned until the settings file is read: "
GOOD = b"[properties]\r\nclean_storage = 0\r\n"


def changed_line(mark_default=0, ignore_cards=0, clean_storage=1, init_plugin=0):
    return INFO + "settings are changed: [mark_default=%d, ignore_cards=%d, clean_storage=%d, init_plugin=%d]" % (
        mark_default, ignore_cards, clean_storage, init_plugin)


class SettingsFaults(FaultScenario):
    # What a finished file holds; a file read while it is being written is
    # test_rewritten_while_read_ends_with_the_final_values' own case.
    def write(self, data):
        settings.replace_raw(self.ws, data)

    def probes(self):
        return [line for line in pcsc.record_lines(self.ws) if line.startswith("connect\tTurns 0\t")]

    def exceptions(self):
        return [e for e in self.entries() if e.startswith(EXCEPTION)]

    def test_broken_for_many_turns_keeps_the_last_good_values(self):
        self.write(GOOD)
        kept = self.container("S1", "kept", "3101")
        self.insert("S1")
        pid = self.start()
        self.wait_for_store([kept])

        # A card that answers the probe: every working turn's census connects to it once.
        self.bench("reader", "add", "Turns 0")
        self.bench("card", "insert", "Turns 0")
        self.write(b"[properties]\r\n; cleaning stays off\r\n")
        # Ten working turns on the broken file give its line once, with the
        # empty line its message ends in.
        self.wait_for_count(EXCEPTION, 1)
        turns = len(self.probes())
        self.assertTrue(wait_until(lambda: len(self.probes()) >= turns + 10, 60), "fewer than ten turns")
        entries = self.entries()
        line = EXCEPTION + "the options configuration file contains an invalid line '; cleaning stays off'"
        self.assertIn(line, entries, self.tail())
        at = entries.index(line)
        self.assertEqual(([entries[at]], ""), (self.exceptions(), entries[at + 1]))
        self.bench("card", "remove", "Turns 0")
        self.wait_for_entry(INFO + "configuration changed: cards_count=0, tokens_count=1")

        # clean_storage 0 still holds: the carrier goes, its certificate stays.
        self.remove("S1")
        self.wait_for_entry(INFO + "configuration changed: cards_count=0, tokens_count=0")
        self.wait_for_entry("no new containers found")
        self.assertStoreHolds([kept], exactly=True)
        self.assertNotIn(INFO + " === cleaning [MY] storage: ===", self.entries())

        self.write(b"[properties]\r\nclean_storage = 1\r\nmark_default = 1\r\n")
        self.wait_for_entry(changed_line(mark_default=1))
        self.assertEqual(1, len(self.exceptions()))
        self.assertIn(INFO + "settings file failure has ended (code=300)", self.entries())
        self.assertAgentRunning(pid)

    def test_binary_nul_bytes_and_a_megabyte_line_are_refused_a_byte_order_mark_is_read(self):
        self.write(GOOD)
        kept = self.container("S2", "kept", "3201")
        self.insert("S2")
        pid = self.start()
        self.wait_for_store([kept])

        cases = [
            ("binary", random.Random(7).randbytes(4096), None),
            # The message goes on past the NUL, shown as "\0", to name the option.
            ("NUL bytes", b"[properties]\r\nclean_storage = 1\x00\r\n",
             EXCEPTION + "the argument ('1\\0') for option 'properties.clean_storage' is invalid"),
            ("a megabyte line", GOOD + b"mark_default = " + b"7" * (1 << 20) + b"\r\n",
             (EXCEPTION + "the argument ('" + "7" * 1008)[:13 + 1008]),
        ]
        for what, data, expected in cases:
            with self.subTest(what):
                before = len(self.exceptions())
                self.write(data)
                lines = self.wait_for_count(EXCEPTION, before + 1)
                if expected:
                    self.assertEqual(expected, lines[-1])
                self.assertTrue(all(len(e.encode("cp1251", errors="replace")) <= 13 + 1008 for e in lines))
        self.assertEqual([], [e for e in self.entries() if "settings are changed" in e])
        # What Set-Content -Encoding UTF8 writes is read.
        self.write(b"\xef\xbb\xbf" + GOOD + b"ignore_cards = 1\r\n")
        self.wait_for_entry(changed_line(ignore_cards=1, clean_storage=0))
        raw = self.log_bytes().split(b"\r\n")
        self.assertLessEqual(max(len(line) for line in raw), faults.LINE_LIMIT)

        # A megabyte of comment is no fault at all.
        self.write(b"#" * (1 << 20) + b"\r\n[properties]\r\nclean_storage = 0\r\nmark_default = 1\r\n")
        self.wait_for_entry(changed_line(mark_default=1, clean_storage=0))
        self.assertStoreHolds([kept], exactly=True)
        self.assertAgentRunning(pid)

    def test_rewritten_while_read_ends_with_the_final_values(self):
        padding = b"".join(b"# padding line %06d, so that a read takes a while\r\n" % i for i in range(4000))
        variants = [b"[properties]\r\nclean_storage = 0\r\nmark_default = 1\r\n" + padding,
                    padding + b"[properties]\r\nclean_storage = 0\r\nignore_cards = 1\r\n"]
        final = b"[properties]\r\nclean_storage = 0\r\ninit_plugin = 2\r\nmark_default = 1\r\n" + padding
        self.write(variants[0])
        kept = self.container("S3", "kept", "3301")
        self.insert("S3")
        pid = self.start()
        self.wait_for_store([kept])

        path = settings.settings_path(self.ws)
        stop = threading.Event()
        rewrites = [0]

        def rewrite():
            while not stop.is_set():
                data = variants[rewrites[0] % 2]
                if rewrites[0] % 4 < 2:
                    settings.replace_raw(self.ws, data)
                else:
                    with open(path, "r+b") as f:
                        f.truncate(0)
                        for start in range(0, len(data), 4096):
                            f.write(data[start:start + 4096])
                            f.flush()
                rewrites[0] += 1

        writer = threading.Thread(target=rewrite)
        writer.start()
        try:
            time.sleep(8)
        finally:
            stop.set()
            writer.join()
        self.write(final)
        self.wait_for_entry(changed_line(mark_default=1, clean_storage=0, init_plugin=2))
        self.pause_turns()

        entries = self.entries()
        changes = [e for e in entries if "settings are changed" in e]
        self.assertEqual(changed_line(mark_default=1, clean_storage=0, init_plugin=2), changes[-1])
        print("\n%d rewrites; the agent saw %d changes and %d unreadable files" % (
            rewrites[0], len(changes), len(self.exceptions())))
        self.assertStoreHolds([kept], exactly=True)
        self.assertAgentRunning(pid)

    # --- files not taken at start-up --------------------------------------
    def hand_imported(self, serial):
        """A certificate the user imported by hand: no carrier holds it."""
        self.certificate(serial, cn="Wi-Fi предприятия")
        store.add(self.ws, self.scratch / ("%s.der" % serial))
        return serial

    def carrier_comes_and_goes(self, token, serial):
        carried = self.container(token, "carried", serial)
        self.insert(token)
        self.wait_for_store([carried])
        self.remove(token)
        self.wait_for_entry(INFO + "no new containers found")
        self.assertNotIn(INFO + " === cleaning [MY] storage: ===", self.entries())
        return carried

    def test_utf16_ctrl_z_end_and_a_semicolon_line_at_start_up_keep_a_hand_imported_certificate(self):
        utf16 = lambda: settings.write(self.ws, "utf-16le", clean_storage=0, ignore_cards=1)  # noqa: E731
        ctrl_z = lambda: self.write(GOOD + b"\x1a")  # noqa: E731  what "copy /a" writes
        semicolon = lambda: self.write(b"[properties]\r\n; off\r\nclean_storage = 0\r\n")  # noqa: E731
        for what, write, values, status in (
                ("UTF-16", utf16, "[mark_default=0, ignore_cards=1, clean_storage=0, init_plugin=0]",
                 INFO + "settings read status { OK, code=0 }"),
                ("Ctrl-Z", ctrl_z, "[mark_default=0, ignore_cards=0, clean_storage=0, init_plugin=0]",
                 INFO + "settings read status { OK, code=0 }"),
                ("semicolon", semicolon, "[mark_default=0, ignore_cards=0, clean_storage=1, init_plugin=0]",
                 ERROR + "settings read status { ERROR, code=302 }")):
            with self.subTest(what):
                self.bench("reset")
                hand = self.hand_imported("5101")
                write()
                pid = self.start()
                self.assertInOrder([INFO + "initial settings read: " + values, status], self.entries())
                carried = self.carrier_comes_and_goes("S5", "5102")
                self.assertStoreHolds([hand, carried], exactly=True)
                held = [e for e in self.entries() if e.startswith(HELD)]
                if what == "semicolon":
                    # One line for the whole time, after the status line.
                    self.assertEqual([HELD + "the settings file was rejected (code=302)"], held)
                    self.assertInOrder([status, held[0]], self.entries())
                    self.write(GOOD)
                    self.wait_for_entry(INFO + "[MY] storage cleaning follows the settings again (code=300)")
                else:
                    self.assertEqual([], held)
                    # (The carrier's removal leaves no container: that ERROR line is the provider's.)
                    self.assertEqual([], [e for e in self.entries() if e.startswith(ERROR) and "settings" in e])
                self.assertAgentRunning(pid)
                agent.stop_all(self.ws)

    def test_another_users_file_is_not_taken(self):
        hand = self.hand_imported("5201")
        settings.write(self.ws, clean_storage=0, mark_default=1)
        # Under Wine a file of another Unix user is owned by Anonymous.
        self.bench("access", "C:\\nivra\\Keyhaven.ini", "other-user")
        pid = self.start()
        carried = self.carrier_comes_and_goes("S6", "5202")
        entries = self.entries()
        self.assertInOrder([WARNING + "settings file c:\\nivra\\Keyhaven.ini is not taken: its owner S-1-5-7 is not "
                            "SYSTEM, Administrators, TrustedInstaller or this user",
                            INFO + "initial settings read: [mark_default=0, ignore_cards=0, clean_storage=1, "
                            "init_plugin=0]",
                            ERROR + "settings read status { ERROR, code=303 }",
                            HELD + "the settings file is not trusted (code=303)",
                            INFO + "skip putting a default mark according to service settings"], entries)
        self.assertEqual(1, len([e for e in entries if "is not taken" in e]))
        self.assertEqual([], provider.marks(self.ws))
        self.assertStoreHolds([hand, carried], exactly=True)
        self.assertAgentRunning(pid)


if __name__ == "__main__":
    faults.main()
