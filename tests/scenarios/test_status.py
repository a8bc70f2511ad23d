"""keyhaven-status.exe beside the agent on a workstation: what it reports
and its exit status against a running agent, a token, the settings file
and a faked calendar; and that it leaves the agent's logs alone."""
import datetime
import json
import os
import struct

import harness
from harness import ScenarioTest, wait_until

from benchlib import agent, certs, provider, store, tokens

SETTINGS_SEEN = "settings read status"
TYPE_075 = "HKLM\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type 075"


def stored_certificates(data):
    """(DER bytes, {property id: bytes}) of each certificate of a serialized
    store: a zero, "CERT", then (id, encoding, length, bytes) elements, a
    certificate's properties before its own element (id 32)."""
    assert data[:8] == b"\0\0\0\0CERT", data[:8]
    found, properties, at = [], {}, 8
    while at + 12 <= len(data):
        pid, _, length = struct.unpack_from("<III", data, at)
        value, at = data[at + 12:at + 12 + length], at + 12 + length
        if pid == 32:
            found.append((value, properties))
            properties = {}
        else:
            properties[pid] = value
    return found


def key_link_container(link):
    """The container a serialized key link names (offsets in place of pointers)."""
    offset = struct.unpack_from("<I", link, 0)[0]
    end = offset
    while link[end:end + 2] != b"\0\0":
        end += 2
    return link[offset:end].decode("utf-16-le")


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

    def test_cleaning_removed_certificates_are_listed_with_their_copies(self):
        """A token's certificate the agent imported and one put in My by hand,
        both removed by cleaning: listed with their copies, the token's with
        its key link. Its Cyrillic name reads right under another code page."""
        by_hand = certs.make(self.ws.bench_dir / "by-hand.der", cn="By hand", serial="5A0031")
        store.add(self.ws, self.ws.bench_dir / "by-hand.der")
        token_cert = certs.make(self.ws.bench_dir / "token.der", cn="Иванов Иван Иванович", serial="5A0032")
        provider.add_container(self.ws, "removed", "token:T3", token_cert)
        tokens.insert_token(self.ws, "T3")
        self.start_agent()
        [imported] = wait_until(lambda: [c for c in store.list_certificates(self.ws) if c.serial == "5A0032"] or None,
                                60)
        english = {"LANG": "en_US.UTF-8", "LC_ALL": "en_US.UTF-8"}
        [listed] = self.report(clock=english)[1]["certificates"]
        self.assertEqual("Иванов Иван Иванович", listed["subject_cn"])
        self.bench("token", "remove", "T3")
        self.assertTrue(wait_until(lambda: not store.list_certificates(self.ws), 60), store.list_certificates(self.ws))

        _, report = self.report(clock=english)
        removed = {r["serial"]: r for r in report["removed"]}
        self.assertEqual(("Иванов Иван Иванович", True, "By hand", False),
                         (removed["5A0032"]["subject_cn"], removed["5A0032"]["back_with_carrier"],
                          removed["5A0031"]["subject_cn"], removed["5A0031"]["back_with_carrier"]))
        for serial, der, container in (("5A0031", by_hand, None), ("5A0032", token_cert, imported.container)):
            path = removed[serial]["file"]
            self.assertTrue(path.lower().startswith("c:\\users\\"), path)
            [(stored, properties)] = stored_certificates(
                (self.ws.drive_c / path[3:].replace("\\", "/")).read_bytes())
            self.assertEqual(der, stored)
            self.assertEqual(container, key_link_container(properties[2]) if 2 in properties else None)
        self.assertEqual([], [p for p in report["problems"] if p["exit_status"] == 4])

    def test_no_default_provider_is_status_4_with_the_agent_running(self):
        self.start_agent()
        self.wait_for_entry(SETTINGS_SEEN)
        self.ws.reg("delete", TYPE_075, "/f")
        try:
            code, report = self.report()
        finally:
            self.ws.reg_import(["[%s]" % TYPE_075.replace("HKLM", "HKEY_LOCAL_MACHINE"),
                                '"Name"="%s"' % provider.PROVIDER_NAME, ""])
        self.assertEqual((4, True, False), (code, report["agent"]["running"], report["provider"]["installed"]))
        self.assertIn("no default provider of type 75", report["provider"]["problem"])
        self.assertEqual(0, self.report()[0])

    def test_no_agent_is_status_1_and_creates_nothing(self):
        # The agent's mutex, which any program may create, is no agent.
        self.bench("mutex", "unowned", "keyhaven_mutex")
        code, report = self.report()
        self.assertEqual((1, False), (code, report["agent"]["running"]))
        self.assertFalse(self.ws.nivra.exists(), "c:\\nivra made by the status program")
        code, out = self.status("--warn-days", "x")
        self.assertEqual((64, b""), (code, out))

    def test_every_problem_is_listed_with_its_status_the_first_is_the_exit_status(self):
        self.token_with_certificate(6)
        agent.stop_all(self.ws)
        self.bench("settings", "raw", input=b"; broken\r\n")
        code, report = self.report()
        self.assertEqual((1, [1, 3, 2]), (code, [p["exit_status"] for p in report["problems"]]))

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
