"""keyhaven-status.exe beside the agent on a workstation: what it reports
and its exit status against a running agent, a token, the settings file
and a faked calendar; and that it leaves the agent's logs alone."""
import datetime
import json
import os

import harness
from harness import ScenarioTest, wait_until

from benchlib import agent, certs, provider, store, tokens

SETTINGS_SEEN = "settings read status"


class StatusTest(ScenarioTest):
    def status(self, *args, clock=None):
        """Runs the installed program; returns (exit status, stdout bytes)."""
        result = self.ws.wine(self.ws.agent_dir / agent.STATUS, *args, check=False, env=clock)
        return result.returncode, result.stdout

    def report(self, *args, clock=None):
        code, out = self.status("--json", *args, clock=clock)
        self.assertFalse(out.startswith(b"\xef\xbb\xbf"), "no byte-order mark")
        return code, json.loads(out.decode("utf-8"))


class Status(StatusTest):
    def token_with_certificate(self, days):
        """An agent that has imported the certificate of a token's container."""
        self.not_after = (datetime.datetime.utcnow() + datetime.timedelta(days=days)).replace(microsecond=0)
        cert = certs.make(self.ws.bench_dir / "soon.der", cn="Soon", serial="5A0010",
                          not_after=self.not_after.isoformat())
        provider.add_container(self.ws, "soon", "token:T1", cert)
        tokens.insert_token(self.ws, "T1")
        self.start_agent()
        [imported] = wait_until(lambda: store.list_certificates(self.ws), 60)
        return imported

    def test_certificate_due_in_ten_days_and_the_horizon(self):
        imported = self.token_with_certificate(10)
        code, report = self.report()
        self.assertEqual(2, code)
        self.assertEqual((True, "1.0.2.1", "running"),
                         (report["agent"]["running"], report["agent"]["version"], report["agent"]["source"]))
        self.assertTrue(report["agent"]["path"].lower().endswith("\\keyhaven\\keyhaven.exe"), report["agent"])
        [listed] = report["certificates"]
        self.assertEqual(("Soon", "5A0010", imported.thumbprint, self.not_after.isoformat() + "Z",
                          imported.container),
                         (listed["subject_cn"], listed["serial"], listed["thumbprint"], listed["not_after"],
                          listed["container"]))
        self.assertIn(listed["days_left"], (9, 10))
        self.assertEqual(("missing", None), (report["settings"]["state"], report["settings"]["reason"]))
        self.assertEqual(0, self.report("--warn-days", "5")[0])

    def test_no_agent_is_status_1_and_creates_nothing(self):
        # The agent's mutex, which any program may create, is no agent.
        self.bench("mutex", "unowned", "keyhaven_mutex")
        code, report = self.report()
        self.assertEqual((1, False), (code, report["agent"]["running"]))
        self.assertFalse(self.ws.nivra.exists(), "c:\\nivra made by the status program")
        code, out = self.status("--warn-days", "x")
        self.assertEqual((64, b""), (code, out))

    def test_broken_settings_file_is_status_3_with_the_parse_error(self):
        self.bench("settings", "raw", input=b"[properties]\r\nclean_storage = true\r\n")
        self.start_agent()
        self.wait_for_entry(SETTINGS_SEEN)
        code, report = self.report()
        self.assertEqual(3, code)
        self.assertEqual(("not_taken", "the argument ('true') for option 'properties.clean_storage' is invalid", True),
                         (report["settings"]["state"], report["settings"]["reason"],
                          report["settings"]["holds_cleaning"]))
        self.assertGreaterEqual(report["log"]["errors"], 2)
        self.assertIn("[  ERROR  ]: ", report["log"]["last_error"])

    def test_a_line_a_user_appended_reaches_no_console_as_escapes(self):
        self.start_agent()
        self.wait_for_entry(SETTINGS_SEEN)
        with open(agent.log_path(self.ws), "ab") as log:
            log.write(b"12:00:00 > [  ERROR  ]: \x1b[2J\x1b]0;owned\x07 call the help desk\r\n")
        code, out = self.status()
        self.assertNotIn(b"\x1b", out)
        code, report = self.report()
        self.assertEqual("[  ERROR  ]: \\x1B[2J\\x1B]0;owned\\x07 call the help desk",
                         report["log"]["last_error"][len("12:00:00 > "):])

    def test_todays_log_with_a_second_name_is_not_read(self):
        self.start_agent()
        self.wait_for_entry(SETTINGS_SEEN)
        log = agent.log_path(self.ws)
        second = log.with_name("elsewhere.log")
        os.link(log, second)
        self.addCleanup(second.unlink)
        code, report = self.report()
        self.assertEqual((None, None, None, "it has 2 names, not the agent's file alone"),
                         (report["log"]["errors"], report["log"]["last_error"], report["log"]["counted"],
                          report["log"]["reason"]))

    def test_hundred_runs_leave_the_agents_log_and_the_provider_to_the_agent(self):
        self.token_with_certificate(200)
        self.wait_for_entry("<--- closing import_if_not_exists()")
        before = self.log_bytes(), self.log_bytes(minimal=True), sorted(p.name for p in self.ws.nivra.iterdir())
        provider_calls = provider.record(self.ws)
        for run in range(100):
            if run == 50:  # the agent writes a line of its own meanwhile
                self.bench("settings", "write", "mark_default=1")
            self.assertEqual(0, self.status(*(["--json", "--all"] if run % 2 else []))[0])
        changed = self.wait_for_entry("settings are changed: [mark_default=1")
        full, minimal, files = self.log_bytes(), self.log_bytes(minimal=True), sorted(
            p.name for p in self.ws.nivra.iterdir())
        self.assertEqual(sorted(before[2] + ["Keyhaven.ini"]), files)
        self.assertEqual(provider_calls, provider.record(self.ws), "the GOST provider was called")
        for was, now in ((before[0], full), (before[1], minimal)):
            added = [harness.STAMP.sub(b"", line).decode("cp1251") for line in now[len(was):].split(b"\r\n") if line]
            self.assertEqual(was, now[:len(was)])
            self.assertEqual(changed, added)


class StatusCalendar(StatusTest):
    def tearDown(self):
        super().tearDown()
        agent.reset(self.ws)  # the real clock again for whatever runs next

    def test_year_boundary_under_a_faked_clock(self):
        today = "2026-12-20 12:00:00"
        self.bench("settings", "write", "clean_storage=0")
        certs.make(self.ws.bench_dir / "january.der", cn="January", serial="0105", not_before="2026-01-01",
                   not_after="2027-01-05 00:00:00")
        store.add(self.ws, self.ws.bench_dir / "january.der")
        agent.start(self.ws, faketime=today)
        log = agent.log_path(self.ws, False, "20_12_2026")
        self.assertTrue(wait_until(lambda: log.is_file() and SETTINGS_SEEN.encode() in log.read_bytes(), 30))
        code, report = self.report("--all", clock=agent.faked_clock(today))
        [listed] = [c for c in report["certificates"] if c["serial"] == "0105"]
        self.assertEqual((16, None, 2), (listed["days_left"], listed["container"], code))
        self.assertEqual(0, self.report("--all", "--warn-days", "15", clock=agent.faked_clock(today))[0])


if __name__ == "__main__":
    harness.main()
