"""Start-up of the real agent: its first lines, the single-instance guard
and the data folder."""
import time

import harness
from harness import ScenarioTest, agent, wait_until

INFO, WARNING, ERROR = "[  INFO   ]: ", "[ WARNING ]: ", "[  ERROR  ]: "
TIMEOUT_LINE = WARNING + "keyhaven already running, mutex state: WAIT_TIMEOUT, shutting down..."


class FirstStart(ScenarioTest):
    def test_fresh_workstation_without_settings_file(self):
        self.start_agent()
        self.wait_for_entry("settings read status")
        entries = self.entries()
        self.assertEqual(INFO + "daemon starts", entries[0])
        self.assertInOrder([
            INFO + "daemon starts",
            INFO + "module version: 1.0.2.1",
            INFO + "OS version: 6.1.7601",
            INFO + "initial settings read: [mark_default=0, ignore_cards=0, clean_storage=1, init_plugin=0]",
            ERROR + "settings read status { ERROR, code=301 }",
        ], entries)
        self.assertEqual(1, sum(e.startswith(INFO + "Crypto-Pro CSP product version: ") for e in entries))
        self.assertEqual(1, sum(e.startswith(INFO + "Crypto-Pro SKZI kernel version: ") and e.endswith(" KC1")
                                for e in entries))
        # The minimal file is the full one without its DEBUG lines (compared up
        # to the status line: the agent writes on, the full file first).
        self.wait_for_entry("settings read status", minimal=True)
        upto = lambda lines: lines[:next(i for i, e in enumerate(lines) if "settings read status" in e) + 1]
        self.assertEqual(upto([e for e in entries if not e.startswith("[  DEBUG  ]")]),
                         upto(self.entries(minimal=True)))

    def test_changed_settings_read_as_ok(self):
        self.bench("settings", "write", "clean_storage=0", "mark_default=1")
        self.start_agent()
        self.wait_for_entry("settings read status")
        self.assertInOrder([
            INFO + "initial settings read: [mark_default=1, ignore_cards=0, clean_storage=0, init_plugin=0]",
            INFO + "settings read status { OK, code=0 }",
        ], self.entries())

    def test_broken_settings_file(self):
        self.bench("settings", "raw", input=b"[properties]\r\nclean_storage = true\r\n")
        self.start_agent()
        self.wait_for_entry("settings read status")
        self.assertInOrder([
            ERROR + "settings file exception: the argument ('true') for option 'properties.clean_storage' is invalid",
            "",
            INFO + "initial settings read: [mark_default=0, ignore_cards=0, clean_storage=1, init_plugin=0]",
            ERROR + "settings read status { ERROR, code=302 }",
        ], self.entries())


class SingleInstance(ScenarioTest):
    def test_second_agent_waits_two_seconds_and_exits_with_1(self):
        first = self.start_agent()
        self.wait_for_entry("daemon starts")
        began = time.monotonic()
        code = agent.run(self.ws, timeout=30)
        elapsed = time.monotonic() - began
        self.assertEqual(1, code)
        self.assertGreaterEqual(elapsed, 1.9)
        self.assertLess(elapsed, 10)
        self.assertEqual(1, self.entries().count(TIMEOUT_LINE))
        self.assertEqual(1, self.entries().count(INFO + "daemon starts"))
        self.assertEqual([first], agent.running_pids(self.ws))

    def test_abandoned_instance_mutex_is_taken_over(self):
        self.bench("mutex", "abandon", "keyhaven_mutex")
        self.start_agent()
        self.wait_for_entry("daemon starts")
        self.assertInOrder([WARNING + "keyhaven is not running, mutex state: WAIT_ABANDONED, starting...",
                            INFO + "daemon starts"], self.entries())
        self.wait_for_entry("start polling")
        self.assertEqual(1, len(agent.running_pids(self.ws)))

    def test_free_instance_mutex_still_means_another_agent(self):
        self.bench("mutex", "unowned", "keyhaven_mutex")
        self.assertEqual(1, agent.run(self.ws, timeout=30))
        self.assertEqual([WARNING + "keyhaven already running, mutex state: WAIT_OBJECT_0, shutting down..."],
                         self.entries())

    def test_three_agents_started_together_leave_exactly_one(self):
        for round in range(3):
            with self.subTest(round=round):
                self.bench("reset")
                for _ in range(3):
                    self.start_agent()
                # The losers wait 2 s for the winner before they give up.
                wait_until(lambda: self.entries().count(TIMEOUT_LINE) == 2, 15)
                wait_until(lambda: len(agent.running_pids(self.ws)) == 1, 10)  # they end after that line
                self.assertEqual(1, len(agent.running_pids(self.ws)))
                self.assertEqual(1, self.entries().count(INFO + "daemon starts"))
                self.assertEqual(2, self.entries().count(TIMEOUT_LINE))


class DataFolder(ScenarioTest):
    def test_file_in_place_of_nivra_sends_logs_and_settings_to_current_directory(self):
        self.ws.nivra.parent.mkdir(parents=True, exist_ok=True)
        self.ws.nivra.write_bytes(b"not a folder")
        (self.ws.agent_dir / "Keyhaven.ini").write_bytes(b"[properties]\r\nignore_cards = 1\r\n")
        try:
            self.start_agent()
            wait_until(lambda: any("settings read status" in e for e in self.entries(folder=self.ws.agent_dir)), 15)
            entries = self.entries(folder=self.ws.agent_dir)
            self.assertEqual(INFO + "daemon starts", entries[0])
            self.assertInOrder([
                INFO + "initial settings read: [mark_default=0, ignore_cards=1, clean_storage=1, init_plugin=0]",
                INFO + "settings read status { OK, code=0 }"], entries)
            self.assertTrue(self.entries(minimal=True, folder=self.ws.agent_dir))
            self.assertEqual(b"not a folder", self.ws.nivra.read_bytes())
        finally:
            (self.ws.agent_dir / "Keyhaven.ini").unlink(missing_ok=True)

    def test_no_data_folder_and_no_settings_file_holds_the_cleaning(self):
        # Whether c:\nivra holds a settings file cannot be known: not the
        # "no file" of 301, with its cleaning on.
        self.ws.nivra.parent.mkdir(parents=True, exist_ok=True)
        self.ws.nivra.write_bytes(b"not a folder")
        self.start_agent()
        held = WARNING + ("[MY] storage is not cleaned until the settings file is read: there is no data folder to "
                          "read the settings file from (code=305)")
        wait_until(lambda: held in self.entries(folder=self.ws.agent_dir), 15)
        self.assertInOrder([ERROR + "settings read status { ERROR, code=305 }", held],
                           self.entries(folder=self.ws.agent_dir))


if __name__ == "__main__":
    harness.main()
