"""The agent's main job as the user's store "My" shows it: certificates of
the tokens' containers imported with their key links, the store cleaned in
step with the tokens when clean_storage is 1 (and left alone when it is 0,
or when the provider stays busy through every retry), containers marked
default when mark_default is 1. First, the bench's store commands that the
job is judged by."""
import harness
from harness import ScenarioTest

from benchlib import agent, boxes, certs, provider, settings, store, tokens

INFO, WARNING, ERROR = "[  INFO   ]: ", "[ WARNING ]: ", "[  ERROR  ]: "
PROVIDER = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider"
IMPORT_CLOSED = "<--- closing import_if_not_exists(), rc="
CLEANING, CLEANED = INFO + " === cleaning [MY] storage: ===", INFO + " === end of clean ==="


def link(certificate):
    return certificate.container, certificate.provider, certificate.prov_type, certificate.key_spec


def log_form(level, text):
    """The bytes a message takes in the log file (Windows-1251, CRLF)."""
    return (level + text).encode("cp1251").replace(b"\n", b"\r\n") + b"\r\n"


MACHINE_MY = "HKLM\\Software\\Microsoft\\SystemCertificates\\My"
USER_MY = "HKCU\\Software\\Microsoft\\SystemCertificates\\My"


class StoreCommands(ScenarioTest):
    def make(self, name, *args):
        path = self.ws.bench_dir / name
        self.bench("cert", "make", "-o", path, *args)
        return path

    def lines(self, *args):
        return self.bench("store", *args).stdout.decode("utf-8").splitlines()

    def test_add_list_remove_clear_as_a_new_process_sees_them(self):
        self.bench("store", "add", self.make("a.der", "--cn", "Иванов Иван", "--serial", "1A2B"))
        self.bench("store", "add", self.make("b.der", "--cn", "Top", "--serial", "80", "--issuer", "Другой УЦ"))
        # In the store's own order (by thumbprint in Wine's registry).
        self.assertEqual(sorted(["1A2B\tИванов Иван\tKeyhaven Test CA\t-", "0080\tTop\tДругой УЦ\t-"]),
                         sorted(self.lines("list")))
        self.assertEqual(["2"], self.lines("count"))

        self.assertEqual(["removed 1"], self.lines("remove", "80"))  # the sign byte need not be written
        refused = self.bench("store", "remove", "80", check=False)
        self.assertEqual(2, refused.returncode)
        self.assertIn("no certificate with serial 80", refused.stderr.decode())
        self.assertEqual(["1A2B"], [c.serial for c in store.list_certificates(self.ws)])

        self.assertEqual(["removed 1"], self.lines("clear"))
        self.assertEqual(["0"], self.lines("count"))
        self.bench("store", "add", self.make("c.der", "--cn", "C"))
        self.bench("reset")
        self.assertEqual([], store.list_certificates(self.ws))

    def test_machine_certificates_are_not_the_users(self):
        self.bench("store", "add", self.make("m.der", "--cn", "Машинный", "--serial", "0F01"))
        self.addCleanup(self.ws.reg, "delete", MACHINE_MY, "/f", check=False)
        self.ws.reg("copy", USER_MY, MACHINE_MY, "/s", "/f")
        store.clear(self.ws)
        self.assertEqual([], store.list_certificates(self.ws))
        # Programs opening the user's system store see HKLM's too.
        self.assertEqual(["Машинный"], [c.subject for c in store.list_certificates(self.ws, system=True)])


class StoreJob(ScenarioTest):
    # --- set-up helpers -------------------------------------------------------
    def container(self, name, token, cn, serial, not_after="+400d", not_before="-30d", key_spec="1"):
        """A container on a token, holding a new certificate; returns its DER bytes."""
        cert = certs.make(self.ws.bench_dir / ("%s.der" % serial), cn=cn, serial=serial, not_before=not_before,
                          not_after=not_after)
        provider.add_container(self.ws, name, "token:" + token, cert, key_spec)
        return cert

    def user_certificate(self, cn, serial, issuer=certs.DEFAULT_ISSUER):
        """A certificate the user has in "My" without any container."""
        path = self.ws.bench_dir / ("user-%s.der" % serial)
        certs.make(path, cn=cn, serial=serial, issuer=issuer)
        store.add(self.ws, path)

    def in_store(self):
        return {c.subject: c for c in store.list_certificates(self.ws)}

    def wait_for_imports(self, count, timeout=60):
        self.wait_for_entry(IMPORT_CLOSED, timeout=timeout, count=count)

    def cleaned(self, nth=1):
        """The names logged between the banners of the nth cleaning."""
        entries = self.entries()
        starts = [i for i, e in enumerate(entries) if e == CLEANING]
        self.assertGreaterEqual(len(starts), nth, "fewer than %d cleanings" % nth)
        start = starts[nth - 1] + 1
        end = entries.index(CLEANED, start)
        return [e[len(INFO + "\t * "):] for e in entries[start:end] if e.startswith(INFO + "\t * ")]

    # --- scenarios ------------------------------------------------------------------
    def test_certificates_linked_to_their_containers_leave_with_their_token(self):
        settings.write(self.ws, clean_storage=1)
        not_before, not_after, expired = boxes.warning_dates()
        self.container("ivanov", "T1", "Иванов Иван", "0A01")
        self.container("подпись", "T1", "Подписант", "0A03", key_spec="2")
        self.container("петров", "T2", "Петров Пётр", "0A02", not_before=not_before.isoformat(),
                       not_after=not_after.isoformat())
        tokens.insert_token(self.ws, "T1")
        tokens.insert_token(self.ws, "T2")
        self.start_agent(quick=True)
        self.wait_for_imports(3)

        found = self.in_store()
        self.assertEqual(("\\\\.\\Token T1\\ivanov", PROVIDER, 75, 1), link(found["Иванов Иван"]))
        # Its key is an AT_SIGNATURE key only.
        self.assertEqual(("\\\\.\\Token T1\\подпись", PROVIDER, 75, 2), link(found["Подписант"]))
        self.assertEqual(("0A01", "Keyhaven Test CA"), (found["Иванов Иван"].serial, found["Иванов Иван"].issuer))
        if expired:  # 31 December: the expired box, and no import
            self.assertIn(log_form(ERROR, boxes.expired_text("Петров Пётр")), self.log_bytes())
            self.assertNotIn("Петров Пётр", found)
        else:
            self.assertEqual(("\\\\.\\Token T2\\петров", PROVIDER, 75, 1), link(found["Петров Пётр"]))
            # 1 day left, or 0 should midnight have passed meanwhile.
            self.assertTrue(any(log_form(WARNING, boxes.days_left_text("Петров Пётр", days, form)) in self.log_bytes()
                                for days, form in ((1, "день"), (0, "дней"))), "no warning about Петров Пётр")

        tokens.remove_device(self.ws, "token", "T1")
        self.wait_for_entry("<--- closing clean_local_storage()", count=2)  # the first turn's, and T1's leaving
        self.assertEqual(sorted(["Иванов Иван", "Подписант"]), sorted(self.cleaned(2)))
        self.assertEqual([] if expired else ["Петров Пётр"], list(self.in_store()))

    def test_unrelated_certificate_deleted_only_when_clean_storage_is_1(self):
        settings.write(self.ws, clean_storage=0)
        self.user_certificate("Посторонний", "0B01")
        self.container("key1", "T1", "Владелец", "0B02")
        tokens.insert_token(self.ws, "T1")
        self.start_agent(quick=True)
        self.wait_for_imports(1)
        self.assertEqual(sorted(["Посторонний", "Владелец"]), sorted(self.in_store()))
        self.assertNotIn(CLEANING, self.entries())

        settings.write(self.ws, clean_storage=1)
        self.wait_for_entry("settings are changed: [mark_default=0, ignore_cards=0, clean_storage=1")
        tokens.insert_token(self.ws, "T2")  # a carrier change: enumeration and cleaning
        self.wait_for_entry("<--- closing clean_local_storage()")
        self.assertEqual(["Посторонний"], self.cleaned())
        self.assertEqual(["Владелец"], list(self.in_store()))

    def test_certificate_of_another_issuer_with_a_containers_serial_survives_cleaning(self):
        settings.write(self.ws, clean_storage=1)
        self.user_certificate("Тёзка", "0C01", issuer="Другой УЦ")
        self.user_certificate("Чужой", "0C02")
        self.container("key1", "T1", "Владелец", "0C01")
        tokens.insert_token(self.ws, "T1")
        self.start_agent(quick=True)
        self.wait_for_imports(1)
        self.assertEqual(["Чужой"], self.cleaned())
        found = self.in_store()
        self.assertEqual(sorted(["Тёзка", "Владелец"]), sorted(found))
        self.assertEqual(("Другой УЦ", None), (found["Тёзка"].issuer, found["Тёзка"].container))
        self.assertEqual("\\\\.\\Token T1\\key1", found["Владелец"].container)

    def test_busy_provider_through_every_retry_leaves_the_store_alone(self):
        settings.write(self.ws, clean_storage=1)
        self.container("key1", "T1", "Владелец", "0D01")
        tokens.insert_token(self.ws, "T1")
        self.start_agent(quick=True)  # retry pauses of 150 ms
        self.wait_for_imports(1)
        self.user_certificate("Посторонний", "0D02")  # what a cleaning would delete
        before = sorted(self.in_store())

        self.bench("provider", "busy", "on")
        tokens.insert_token(self.ws, "T2")
        self.wait_for_entry(WARNING + "containers could not be enumerated, [MY] storage is not cleaned", timeout=120)
        entries = self.entries()
        self.assertIn(WARNING + "waiting  3.0 seconds and retrying <100/100> enumerate containers...", entries)
        self.assertEqual(1, entries.count(CLEANING))  # the first turn's only
        self.assertEqual(before, sorted(self.in_store()))

    def test_mark_default_marks_every_handled_container_and_the_last_stays_default(self):
        settings.write(self.ws, clean_storage=0, mark_default=1)
        self.container("key1", "T1", "Первый", "0E01")
        self.container("key2", "T1", "Второй", "0E02")
        self.container("key3", "T2", "Третий", "0E03")
        tokens.insert_token(self.ws, "T1")
        tokens.insert_token(self.ws, "T2")
        self.start_agent(quick=True)
        self.wait_for_imports(3)
        names = ["\\\\.\\Token T1\\key1", "\\\\.\\Token T1\\key2", "\\\\.\\Token T2\\key3"]
        self.assertEqual(names, provider.marks(self.ws))
        self.assertEqual(3, self.entries().count(INFO + "container was marked as default container"))

        # T1 back again: its certificates are in the store already, and
        # its containers are marked all the same, the last one staying default.
        tokens.remove_device(self.ws, "token", "T1")
        self.wait_for_entry(INFO + "configuration changed: cards_count=0, tokens_count=1")
        tokens.insert_token(self.ws, "T1")
        self.wait_for_imports(5)
        self.assertEqual(2, sum(e.startswith("[  DEBUG  ]: " + IMPORT_CLOSED + "101|") for e in self.entries()))
        self.assertEqual(names + names[:2], provider.marks(self.ws))
        record = self.bench("provider", "record").stdout.decode("utf-8").splitlines()
        self.assertIn("default container: \\\\.\\Token T1\\key2", record)


if __name__ == "__main__":
    harness.main()
