"""libKestrel misbehaving with the provider mutex "nivra_crypto_pro_mutex":
abandoned by a thread of a process that lives on, held for over 30 s and
then abandoned by its process ending (the product's timing), and created and
released every few hundred milliseconds. The agent idles while the mutex
exists, loses nothing from the store and catches up on the carriers once
the mutex is gone. The lock's own waiting, WAIT_ABANDONED and time-out lines
need libKestrel to create the mutex between the agent's probe and its lock;
core/provider_lock_test.cpp meets those states in-process."""
import time

import faults
from faults import DEBUG, ERROR, INFO, WARNING, FaultScenario

from benchlib import kestrel, mutexes
from benchlib.workstation import WINE64, spawn_detached, wait_until

IDLE = WARNING + "libKestrel mutex is active, idling..."
# Every line the lock and the idle turn may write.
MUTEX_LINES = (IDLE, DEBUG + "waiting the mutex will be released...",
               DEBUG + "mutex ownership is obtained successfully { rc=WAIT_OBJECT_0, wait_time=",
               DEBUG + "obtained ownership of the abandoned mutex { rc=WAIT_ABANDONED, wait_time=",
               WARNING + "time-out interval elapsed, error getting mutex ownership { rc=WAIT_TIMEOUT, wait_time=")


class KestrelFaults(FaultScenario):
    def test_abandoned_mutex_of_a_living_process_means_idle_until_it_ends(self):
        first = self.container("K1", "first", "5101")
        second = self.container("K2", "second", "5102")
        self.insert("K1")
        pid = self.start()
        self.wait_for_store([first])

        mutexes.hold(self.ws, kestrel.MUTEX, "abandon")
        self.wait_for_entry(IDLE)
        began = len(self.entries())
        self.insert("K2")
        self.wait_for_count(IDLE, self.entries().count(IDLE) + 20)
        during = self.entries()[began:]
        self.assertEqual({IDLE}, set(during), "the agent worked while the mutex existed")
        self.assertStoreHolds([first], exactly=True)

        # The holder's process ends: the mutex goes with its last handle.
        kestrel.abandon(self.ws)
        self.wait_for_store([first, second])
        self.assertIn(INFO + "configuration changed: cards_count=0, tokens_count=2", self.entries())
        self.assertStoreHolds([first, second], exactly=True)
        self.assertAgentRunning(pid)

    def test_held_for_over_thirty_seconds_then_abandoned_with_the_product_timing(self):
        first = self.container("K3", "first", "5201")
        second = self.container("K4", "second", "5202")
        self.insert("K3")
        pid = self.start(quick=False)
        self.wait_for_store([first])

        kestrel.hold(self.ws)
        held = time.monotonic()
        self.insert("K4")
        time.sleep(max(0.0, 32 - (time.monotonic() - held)))
        kestrel.abandon(self.ws)
        self.wait_for_store([first, second])

        entries = self.entries()
        after = entries[entries.index(IDLE):]
        idle = next(i for i, e in enumerate(after) if e != IDLE)
        # One a second for 32 s, give or take a loaded machine.
        self.assertGreaterEqual(idle, 25)
        self.assertLessEqual(idle, 36)
        self.assertEqual(INFO + "configuration changed: cards_count=0, tokens_count=2", after[idle])
        self.assertStoreHolds([first, second], exactly=True)
        self.assertAgentRunning(pid)

    def test_created_and_released_every_few_hundred_milliseconds(self):
        serials = [self.container("F%d" % i, "key%d" % i, "53%02d" % i) for i in range(1, 5)]
        self.insert("F1")
        pid = self.start()
        self.wait_for_store(serials[:1])

        tool = self.ws.bench_dir / "bin" / mutexes.TOOL
        end = time.monotonic() + 12
        inserted = 1
        flaps = 0
        while time.monotonic() < end:
            spawn_detached([WINE64, tool, "hold", kestrel.MUTEX, "0.3"], self.ws.env())
            flaps += 1
            time.sleep(0.4)
            if flaps % 8 == 0 and inserted < len(serials):
                inserted += 1
                self.insert("F%d" % inserted)
        wait_until(lambda: not mutexes.holder_pids(self.ws), 30)

        self.wait_for_store(serials)
        self.wait_for_count("<--- closing import_if_not_exists()", len(serials))
        entries = self.entries()
        idle = entries.count(IDLE)
        mutex_lines = [e for e in entries if "mutex" in e and not e.startswith(INFO)]
        print("\n%d flaps: %d idle turns, %d waits for the lock" % (
            flaps, idle, sum("waiting the mutex" in e for e in entries)))
        self.assertGreater(idle, 0)
        self.assertEqual([], [e for e in mutex_lines if not e.startswith(MUTEX_LINES)])
        self.assertEqual([], [e for e in entries if e.startswith(ERROR) and "settings read status" not in e])
        self.assertStoreHolds(serials, exactly=True)
        self.assertAgentRunning(pid)


if __name__ == "__main__":
    faults.main()
