"""Volume under the real agent: 100 containers on one token, 1,000
certificates in the store, and 50 certificates expiring at once (50 boxes
open on a real display while the cycle goes on). Nothing is lost, and the
times are printed for the record."""
import time

import faults
from faults import ERROR, INFO, WARNING, FaultScenario, qualified
from xvfb import OnDisplay

from benchlib import boxes, settings


class Volume(FaultScenario):
    def test_a_hundred_containers_on_one_token(self):
        serials = [self.container("V1", "key%03d" % i, "61%02X" % i, cn="Сотрудник %03d" % i)
                   for i in range(100)]
        pid = self.start()
        began = time.monotonic()
        self.insert("V1")
        self.wait_for_count(faults.IMPORTED, 100, timeout=300)
        imported = time.monotonic() - began

        linked = {c.serial: c.container for c in self.assertStoreHolds(serials, exactly=True)}
        self.assertEqual({serial: qualified("V1", "key%03d" % i) for i, serial in enumerate(serials)}, linked)
        self.assertIn(INFO + " === found 100 container(s) to import: ===", self.entries())

        # The next change cleans against all of them and keeps every one.
        extra = self.container("V2", "extra", "6200")
        began = time.monotonic()
        self.insert("V2")
        self.wait_for_count(faults.IMPORTED, 101, timeout=300)
        second = time.monotonic() - began
        self.assertStoreHolds(serials + [extra], exactly=True)
        self.assertEqual(0, sum(e.startswith(INFO + "\t * Сотрудник") for e in self.entries()))
        print("\n100 containers: %.1f s to import, %.1f s for the next change" % (imported, second))
        self.assertAgentRunning(pid)

    def test_a_thousand_certificates_in_the_store(self):
        settings.write(self.ws, clean_storage=0)
        foreign = self.fill_store(1000)
        own = self.container("M1", "own", "6301")
        pid = self.start()
        began = time.monotonic()
        self.insert("M1")
        self.wait_for_store([own], timeout=120)
        imported = time.monotonic() - began
        self.assertStoreHolds(foreign + [own], exactly=True)

        # Cleaning switched on: by design the 1,000 certificates of no
        # carrier go, the carrier's own stays.
        settings.write(self.ws, clean_storage=1)
        later = self.container("M2", "later", "6302")
        began = time.monotonic()
        self.insert("M2")
        self.wait_for_store([later], timeout=300)
        self.wait_for_count(INFO + " === end of clean ===", 1, timeout=300)
        cleaned = time.monotonic() - began
        self.assertStoreHolds([own, later], exactly=True)
        self.assertEqual(1000, sum(e.startswith(INFO + "\t * Посторонний ") for e in self.entries()))
        print("\n1,000 certificates: %.1f s to import beside them, %.1f s to clean them away" % (imported, cleaned))
        self.assertAgentRunning(pid)


class ManyWarnings(OnDisplay, FaultScenario):
    def test_fifty_expiring_certificates_open_fifty_boxes_and_the_cycle_goes_on(self):
        not_before, not_after, expired = boxes.warning_dates()
        dates = {"not_before": not_before.isoformat(), "not_after": not_after.isoformat()}
        serials = [self.container("E1", "soon%02d" % i, "64%02X" % i, cn="Срочный %02d" % i, **dates)
                   for i in range(50)]
        self.insert("E1")
        pid = self.start(display=True)

        # Tomorrow's expiry warns with 1 day left (0 once midnight passes);
        # on 31 December it expired yesterday instead, and is not imported.
        level, opening = (ERROR, "истёк") if expired else (WARNING, "истекает через")
        warnings = self.wait_for_count("Срок действия сертификата на имя \"Срочный ", 50, timeout=120)
        self.assertEqual(50, len(warnings))
        self.assertTrue(all(w.startswith(level) and opening in w for w in warnings), warnings[:3])
        self.assertTrue(faults.wait_until(lambda: len(boxes.open_boxes(self.ws)) == 50, 120, interval=1),
                        "boxes open: %d" % len(boxes.open_boxes(self.ws)))

        # Fifty boxes wait for the user; the cycle does not.
        later = self.container("E2", "later", "6500", cn="Обычный")
        self.insert("E2")
        self.wait_for_store([later])
        self.assertStoreHolds(([] if expired else serials) + [later], exactly=True)
        self.assertEqual(50, len(boxes.open_boxes(self.ws)))
        self.assertEqual(50, boxes.close_boxes(self.ws))
        self.assertAgentRunning(pid)


if __name__ == "__main__":
    faults.main()
