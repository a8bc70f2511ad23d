"""Awkward names under the real agent: certificate subjects without a common
name, with a 10 KB one, with "%" and tab characters, in Cyrillic; container
names with "%", with 1,000 characters, with non-ASCII bytes, and the same
name twice. Every name reaches the log as it is (never as a format, cut at
the line's limit), the store links each certificate to its container by
its full name, and the agent keeps running."""
import re

import faults
from faults import DEBUG, ERROR, INFO, LINE_LIMIT, WARNING, FaultScenario, qualified

from benchlib import boxes, provider

PERCENT = "100% %s%n%x\tзавершено %d"
CYRILLIC = "Иванов Иван Иванович"
LONG = ("Длинное имя " * 1000)[:10240]
# A line as the agent writes it; a line break inside a name would leave a
# piece of line that is not one.
STAMPED = re.compile(rb"\d\d:\d\d:\d\d > \[(  DEBUG  |  INFO   | WARNING |  ERROR  )\]: [^\r\n]*")


class CertificateNames(FaultScenario):
    def test_subjects_reach_log_store_and_warning_whole_or_cut_at_the_line_limit(self):
        # Two of them expire tomorrow and warn, except on 31 December, when
        # tomorrow is next year and no warning is due.
        not_before, not_after, expired = boxes.warning_dates()
        soon = {} if expired else {"not_before": not_before.isoformat(), "not_after": not_after.isoformat()}
        serials = {
            "none": self.container("N1", "anonymous", "2101", cn=None),
            "long": self.container("N1", "long", "2102", cn=LONG, **soon),
            "percent": self.container("N1", "percent", "2103", cn=PERCENT, **soon),
            "cyrillic": self.container("N1", "cyrillic", "2104", cn=CYRILLIC),
        }
        self.insert("N1")
        pid = self.start()
        self.wait_for_count(faults.IMPORTED, 4)
        self.assertStoreHolds(serials.values(), exactly=True)
        self.assertStoreHoldsWhole(serials.values())

        raw = self.log_bytes().split(b"\r\n")
        self.assertLessEqual(max(len(line) for line in raw), LINE_LIMIT)
        entries = self.entries()
        # The warnings carry the names as far as a box's text can hold them.
        warnings = [e for e in entries if e.startswith(WARNING + "Срок действия сертификата на имя \"")]
        self.assertEqual(0 if expired else 2, len(warnings), warnings)
        if not expired:
            # The long name is shortened, so the text keeps its ending.
            name = warnings[0][len(WARNING + "Срок действия сертификата на имя \""):].partition("\" истекает через ")[0]
            self.assertTrue(500 < len(name) < len(LONG) and LONG.startswith(name), warnings[0])
            self.assertTrue(warnings[1].startswith(
                WARNING + "Срок действия сертификата на имя \"%s\" истекает через " % PERCENT), warnings[1])
        self.assertTrue(any(e.startswith(INFO + "certificate { ") and "%s%n%x\tзавершено %d" in e for e in entries))
        self.assertTrue(any(e.startswith(INFO + "certificate { ") and CYRILLIC in e for e in entries))

        # Carrier out: each certificate is named in the cleaning as it is.
        self.remove("N1")
        self.wait_for_count("<--- closing clean_local_storage()", 2)
        self.assertStoreHolds([], exactly=True)
        cleaned = self.entries()
        start = max(i for i, e in enumerate(cleaned) if e == INFO + " === cleaning [MY] storage: ===")
        end = cleaned.index(INFO + " === end of clean ===", start)
        deleted = [e for e in cleaned[start + 1:end] if e.startswith(INFO)]
        self.assertEqual(sorted([INFO + "\t * ", INFO + "\t * " + PERCENT, INFO + "\t * " + CYRILLIC,
                                 (INFO + "\t * " + LONG)[:LINE_LIMIT - 11]]), sorted(deleted))

        # And back with the next insertion.
        self.insert("N1")
        self.wait_for_store(serials.values())
        self.assertAgentRunning(pid)


    def test_a_line_feed_in_a_name_starts_no_line_of_its_own(self):
        forged = "Mallory\n12:00:00 > [  ERROR  ]: forged"
        escaped = forged.replace("\n", "\\x0A")
        self.container("F1", "forger", "2105", cn=forged)
        self.insert("F1")
        pid = self.start()
        self.wait_for_count(faults.IMPORTED, 1)
        self.remove("F1")
        self.wait_for_count(INFO + "\t * " + escaped, 1)
        entries = self.entries()
        self.assertTrue(any(e.startswith(INFO + "certificate { ") and escaped in e for e in entries), entries)
        for minimal in (False, True):
            lines = self.log_bytes(minimal).replace(b"\r\n", b"\n").split(b"\n")
            self.assertEqual([], [line for line in lines if line and not STAMPED.fullmatch(line)])
            self.assertEqual([], [line for line in lines if line[24:].startswith(b"forged")])
        self.assertAgentRunning(pid)


class ContainerNames(FaultScenario):
    def test_names_reach_log_and_key_link_whole(self):
        names = {
            "percent": "key%s%n%x%%",
            "long": "k" * 1000,
            "cyrillic": "ключ №1 Ёё",
        }
        serials = {key: self.container("K1", name, "22%02X" % i) for i, (key, name) in enumerate(names.items())}
        self.insert("K1")
        pid = self.start()
        self.wait_for_count("<--- closing import_if_not_exists()", 3)

        linked = {c.serial: c.container for c in self.assertStoreHolds(serials.values(), exactly=True)}
        for key, name in names.items():
            self.assertEqual(qualified("K1", name), linked[serials[key]], key)
        entries = self.entries()
        self.assertIn(INFO + "\t * " + qualified("K1", names["percent"]), entries)
        self.assertIn(INFO + "\t * " + qualified("K1", names["cyrillic"]), entries)
        self.assertIn(DEBUG + "----> calling import_certificate(%s)" % qualified("K1", names["cyrillic"]), entries)
        self.assertIn((INFO + "\t * " + qualified("K1", names["long"]))[:LINE_LIMIT - 11], entries)
        self.assertEqual([], [e for e in entries if e.startswith(ERROR) and "settings read status" not in e])
        self.assertAgentRunning(pid)

    def test_the_same_name_twice(self):
        # On two tokens: two containers, told apart by their carriers; and
        # one that the provider lists twice: imported once.
        first, second = "2301", "2302"
        provider._write_containers(self.ws, [
            ("dup", "token:D1", "1", self.certificate(first, "Первый")),
            ("dup", "token:D2", "1", self.certificate(second, "Второй")),
        ] + [("twin", "token:D3", "1", self.certificate("2303", "Близнец"))] * 2)
        self.insert("D1", "D2", "D3")
        pid = self.start()
        self.wait_for_count("<--- closing import_if_not_exists()", 4)
        self.wait_for_store([first, second, "2303"])

        linked = {c.serial: c.container for c in self.assertStoreHolds([first, second, "2303"], exactly=True)}
        self.assertEqual(qualified("D1", "dup"), linked[first])
        self.assertEqual(qualified("D2", "dup"), linked[second])
        self.assertEqual(qualified("D3", "twin"), linked["2303"])
        entries = self.entries()
        self.assertEqual(2, entries.count(INFO + "\t * " + qualified("D3", "twin")))
        self.assertEqual(1, sum(e.startswith(WARNING + "certificate { ") and "Близнец" in e and
                                e.endswith(" } was already imported to [MY] before, skipping...") for e in entries))
        self.assertAgentRunning(pid)


if __name__ == "__main__":
    faults.main()
