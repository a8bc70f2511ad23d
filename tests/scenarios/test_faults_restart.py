"""The agent killed (as TerminateProcess would) in the middle of its imports
and started again, twice: the store is consistent after every kill, and
every certificate arrives after the restart. Three agents started at the
same moment: one keeps running and imports each certificate once (the
guard itself: test_startup.SingleInstance)."""

import faults
from faults import INFO, WARNING, FaultScenario, qualified

from benchlib import agent

CONTAINERS = 30
STARTED = "----> calling import_certificate("
CLOSED = "[  DEBUG  ]: <--- closing import_if_not_exists(), rc="
TIMEOUT_LINE = WARNING + "keyhaven already running, mutex state: WAIT_TIMEOUT, shutting down..."


class KilledAndRestarted(FaultScenario):
    def test_killed_during_imports_then_restarted_loses_nothing(self):
        serials = [self.container("R1", "key%02d" % i, "71%02X" % i, cn="Работник %02d" % i)
                   for i in range(CONTAINERS)]
        self.insert("R1")
        present = []
        for run, kill_after in enumerate((3, CONTAINERS // 2), start=1):
            began = len(self.entries())
            self.start_agent(quick=True)
            # Killed once the run is well into its imports.
            earlier = sum(STARTED in e for e in self.entries())
            self.wait_for_count(STARTED, earlier + kill_after - len(present), timeout=120, interval=0.01)
            agent.stop_all(self.ws)
            present = self.assertConsistent(serials)
            self.assertLess(len(present), CONTAINERS)
            print("\nrun %d killed with %d of %d certificates stored (%d import lines written)" % (
                run, len(present), CONTAINERS, self.entries()[began:].count(faults.IMPORTED)))

        pid = self.start_agent(quick=True)
        self.wait_for_store(serials, timeout=180)
        closed = faults.wait_until(lambda: sum(e.startswith(CLOSED) for e in self.last_run()) == CONTAINERS, 60)
        self.assertTrue(closed, self.tail())
        last_run = self.last_run()
        # It skipped what the killed runs had stored and imported the rest.
        self.assertEqual(len(present), sum(e.endswith(" was already imported to [MY] before, skipping...")
                                           for e in last_run))
        self.assertEqual(CONTAINERS - len(present), last_run.count(faults.IMPORTED))
        self.assertConsistent(serials)
        self.assertStoreHolds(serials, exactly=True)
        self.assertAgentRunning(pid)

    def last_run(self):
        """The log lines of the agent started last."""
        entries = self.entries()
        return entries[len(entries) - 1 - entries[::-1].index(INFO + "daemon starts"):]

    def assertConsistent(self, serials):
        """Whatever the store holds is whole: one of ours, once, with its
        complete key link and every byte; returns the serials it holds."""
        held = self.assertStoreHolds([])
        by_serial = dict(zip(serials, range(len(serials))))
        for certificate in held:
            self.assertIn(certificate.serial, by_serial)
            self.assertEqual(qualified("R1", "key%02d" % by_serial[certificate.serial]), certificate.container)
            self.assertEqual(1, certificate.key_spec)
        self.assertStoreHoldsWhole([c.serial for c in held])
        return [c.serial for c in held]


class StartedTogether(FaultScenario):
    def test_three_agents_at_once_leave_one_that_imports_once(self):
        kept = self.container("T1", "key", "7201")
        self.insert("T1")
        for _ in range(3):
            self.start_agent(quick=True)
        self.assertTrue(faults.wait_until(lambda: self.entries().count(TIMEOUT_LINE) == 2, 30),
                        "log:\n" + self.tail())
        self.wait_for_store([kept])
        self.wait_for_entry(CLOSED)
        faults.wait_until(lambda: len(agent.running_pids(self.ws)) == 1, 10)  # the two that gave up end
        entries = self.entries()
        self.assertEqual(1, entries.count(INFO + "daemon starts"))
        self.assertEqual(1, entries.count(INFO + " === found 1 container(s) to import: ==="))
        self.assertEqual(1, entries.count(faults.IMPORTED))
        self.assertStoreHolds([kept], exactly=True)
        self.assertAgentRunning()


if __name__ == "__main__":
    faults.main()
