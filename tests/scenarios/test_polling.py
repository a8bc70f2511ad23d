"""The real agent's polling cycle with the product's own timing: a token
inserted while it runs, and libKestrel holding the provider for a minute."""
import time

import harness
from harness import ScenarioTest, wait_until

INFO, WARNING = "[  INFO   ]: ", "[ WARNING ]: "
IDLE = WARNING + "libKestrel mutex is active, idling..."


class RealTiming(ScenarioTest):
    def start_and_settle(self):
        self.start_agent()
        self.wait_for_entry("start polling, timeout=1s")

    def test_token_inserted_while_running_is_listed_within_about_two_seconds(self):
        self.bench("container", "add", "alpha", "--on", "token:RT1")
        self.start_and_settle()
        time.sleep(1.5)
        inserted = time.monotonic()
        self.bench("token", "insert", "RT1")
        found = wait_until(lambda: any("container(s) to import" in e for e in self.entries()), 10, interval=0.02)
        latency = time.monotonic() - inserted
        self.assertTrue(found, "\n".join(self.entries()))
        # One poll period plus the turn itself.
        self.assertLess(latency, 2.5)
        self.wait_for_entry(" === end of list ===")
        self.assertInOrder([INFO + "configuration changed: cards_count=0, tokens_count=1",
                            INFO + " === found 1 container(s) to import: ===",
                            INFO + "\t * \\\\.\\Token RT1\\alpha",
                            INFO + " === end of list ==="], self.entries())

    def test_a_minute_of_libkestrel_gives_about_sixty_idle_turns_and_nothing_else(self):
        self.start_and_settle()
        self.bench("kestrel", "hold", "60")
        self.bench("token", "insert", "K1")
        self.bench("settings", "write", "clean_storage=0")
        began = len(self.entries())
        wait_until(lambda: not self.ws.exists() or not self._kestrel_holds(), 75, interval=0.5)
        after = self.entries()[began:]
        last_idle = max(i for i, e in enumerate(after) if e == IDLE)
        during = after[:last_idle + 1]
        idle = during.count(IDLE)
        self.assertGreaterEqual(idle, 55)
        self.assertLessEqual(idle, 62)
        self.assertEqual([], [e for e in during if e != IDLE])

        # The first turn after it: settings and carriers as they are now.
        self.wait_for_entry("configuration changed: cards_count=0, tokens_count=1")
        self.assertIn(INFO + "settings are changed: [mark_default=0, ignore_cards=0, clean_storage=0, init_plugin=0]",
                      self.entries())

    def _kestrel_holds(self):
        from benchlib import kestrel
        return kestrel.active(self.ws)


if __name__ == "__main__":
    harness.main()
