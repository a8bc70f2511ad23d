"""The expiry warnings of the real agent against the calendar, with the
workstation's clock faked to fixed dates (libfaketime, the wineserver
restarted under it): days left within the current or the next month of the
same year, at most 30; Russian plural forms; expired and not yet valid
certificates refused. Each date is one agent run over one token whose
containers hold the certificates of that date's cases; the log lines are
compared byte for byte as the file holds them."""
import datetime

import harness
from harness import ScenarioTest

from benchlib import agent, boxes, certs, provider, store, tokens

INFO, WARNING, ERROR = "[  INFO   ]: ", "[ WARNING ]: ", "[  ERROR  ]: "
DEBUG = "[  DEBUG  ]: "
NOT_BEFORE = "2026-01-01 00:00:00"
IMPORT_CLOSED = DEBUG + "<--- closing import_if_not_exists(), rc="


def log_form(level, text):
    """The bytes a message takes in the log file (Windows-1251, CRLF)."""
    return (level + text).encode("cp1251").replace(b"\n", b"\r\n") + b"\r\n"


class ExpiryCalendar(ScenarioTest):
    log_date = None

    def tearDown(self):
        super().tearDown()
        agent.reset(self.ws)  # the real clock again for whatever runs next

    def log_bytes(self, minimal=False, folder=None):
        path = agent.log_path(self.ws, minimal, self.log_date)
        return path.read_bytes() if path.is_file() else b""

    def run_on(self, today, cases):
        """Starts the agent at today (UTC, "YYYY-MM-DD HH:MM:SS") with one
        token holding a container per case (name, not_before, not_after),
        the common name being the case's name; waits until every container
        was handled and returns the log's bytes. The previous date's agent,
        token, containers and certificates go first."""
        agent.stop_all(self.ws)
        for token in [n[1] for n in tokens.read_devices(self.ws) if n[0] == "token"]:
            tokens.remove_device(self.ws, "token", token)
        provider.reset(self.ws)
        store.clear(self.ws)
        for number, (name, not_before, not_after) in enumerate(cases, 1):
            cert = certs.make(self.ws.bench_dir / ("case%d.der" % number), cn=name, serial="C0%02X" % number,
                              not_before=not_before, not_after=not_after)
            provider.add_container(self.ws, "case%d" % number, "token:CAL", cert)
        tokens.insert_token(self.ws, "CAL")
        self.log_date = datetime.datetime.fromisoformat(today).strftime("%d_%m_%Y")
        agent.start(self.ws, faketime=today)
        self.wait_for_entry(IMPORT_CLOSED, timeout=90, count=len(cases))
        return self.log_bytes()

    def assertWarned(self, log, name, days, form):
        self.assertEqual(1, log.count(log_form(WARNING, boxes.days_left_text(name, days, form))),
                         "%s: no '%d %s' warning" % (name, days, form))

    def assertNotWarned(self, log, name):
        self.assertNotIn(('"%s"' % name).encode("cp1251"), log)

    def assertImported(self, names):
        in_store = {c.subject: c.container for c in store.list_certificates(self.ws)}
        self.assertEqual(sorted(names), sorted(in_store))

    def assertRefused(self, name):
        """The rc 100 path: looked up, not found, the expired text at ERROR,
        nothing imported."""
        self.assertInOrder([
            INFO + "certificate { CN=%s } not found in [MY] store, importing..." % name,
            ERROR + boxes.expired_text(name),
            IMPORT_CLOSED + "100|0x00000064",
        ], self.entries())

    # Each faked date costs a wineserver start: one test walks all three.
    def test_days_left_on_three_dates(self):
        with self.subTest(today="2027-02-28"):
            self.last_day_of_february()
        with self.subTest(today="2027-01-31"):
            self.last_day_of_january()
        with self.subTest(today="2026-12-20"):
            self.december()

    def last_day_of_february(self):
        log = self.run_on("2027-02-28 12:00:00", [
            ("Тридцатое", NOT_BEFORE, "2027-03-30 12:00:00"),    # 28 - 28 + 30 = 30
            ("Тридцать-первое", NOT_BEFORE, "2027-03-31 12:00:00"),  # 31: too far
            ("Завтра", NOT_BEFORE, "2027-03-01 12:00:00"),
            ("Вечером", NOT_BEFORE, "2027-02-28 18:00:00"),       # later today
            ("Вчера", NOT_BEFORE, "2027-02-27 12:00:00"),
            ("Будущий", "2027-03-01 00:00:00", "2028-03-01 00:00:00"),
        ])
        self.assertWarned(log, "Тридцатое", 30, "дней")
        self.assertNotWarned(log, "Тридцать-первое")
        self.assertWarned(log, "Завтра", 1, "день")
        self.assertWarned(log, "Вечером", 0, "дней")
        self.assertEqual(1, log.count(log_form(ERROR, boxes.expired_text("Вчера"))))
        self.assertEqual(1, log.count(log_form(ERROR, boxes.expired_text("Будущий"))))
        self.assertRefused("Вчера")
        self.assertRefused("Будущий")
        self.assertImported(["Тридцатое", "Тридцать-первое", "Завтра", "Вечером"])
        # The day's log files are named by the faked date.
        self.assertIn(log_form(WARNING, boxes.days_left_text("Завтра", 1, "день")), self.log_bytes(minimal=True))

    def last_day_of_january(self):
        log = self.run_on("2027-01-31 12:00:00", [
            ("Одиннадцать", NOT_BEFORE, "2027-02-11 12:00:00"),
            ("Двенадцать", NOT_BEFORE, "2027-02-12 12:00:00"),
            ("Двадцать-один", NOT_BEFORE, "2027-02-21 12:00:00"),
            ("Март", NOT_BEFORE, "2027-03-01 12:00:00"),  # 29 days away, but two months on
        ])
        self.assertWarned(log, "Одиннадцать", 11, "день")
        self.assertWarned(log, "Двенадцать", 12, "дня")
        self.assertWarned(log, "Двадцать-один", 21, "день")
        self.assertNotWarned(log, "Март")
        self.assertImported(["Одиннадцать", "Двенадцать", "Двадцать-один", "Март"])

    def december(self):
        log = self.run_on("2026-12-20 12:00:00", [
            ("Январь", NOT_BEFORE, "2027-01-05 12:00:00"),  # next year: not announced
            ("Двадцать-второе", NOT_BEFORE, "2026-12-22 12:00:00"),
        ])
        self.assertNotWarned(log, "Январь")
        self.assertWarned(log, "Двадцать-второе", 2, "дня")
        self.assertImported(["Январь", "Двадцать-второе"])


if __name__ == "__main__":
    harness.main()
