"""The start-up chores of the real agent with init_plugin: the viewer's
preferences and the plug-in's re-registration through the real regsvr32,
with the product's four-second pause."""
import os
import time

import harness
from harness import ScenarioTest, agent, wait_until
from benchlib import desktop

INFO, WARNING, ERROR = "[  INFO   ]: ", "[ WARNING ]: ", "[  ERROR  ]: "
COPIED = INFO + "preferences copied successful"
UNREGISTERED = INFO + "plugin dll unregistered successful"
REGISTERED = INFO + "plugin dll registered successful"


class DesktopChores(ScenarioTest):
    def start_with_init_plugin(self, value="1"):
        self.bench("settings", "write", "init_plugin=%s" % value)
        self.start_agent()
        self.wait_for_entry("settings read status")

    def test_preferences_then_plugin_four_seconds_apart(self):
        self.bench("prefs", "place", "--text", "portal prefs")
        self.bench("plugin", "place")
        self.start_with_init_plugin()
        self.wait_for_entry(REGISTERED, timeout=30)
        self.assertInOrder([INFO + "settings read status { OK, code=0 }", COPIED, UNREGISTERED, REGISTERED],
                           self.entries())
        copies = [c for c in desktop.user_copies(self.ws) if c.is_file()]
        self.assertEqual([b"portal prefs"], [c.read_bytes() for c in copies])

        self.assertTrue(wait_until(lambda: len(desktop.plugin_record(self.ws)) == 2, 20))
        (first, first_ms), (second, second_ms) = desktop.plugin_record(self.ws)
        self.assertEqual(("unregister", "register"), (first, second))
        # regsvr32 starts a little after each launch; the agent's pause is 4 s.
        self.assertGreater(second_ms - first_ms, 3000)
        self.assertLess(second_ms - first_ms, 8000)

    def test_plugin_other_users_could_change_is_not_registered(self):
        # Wine derives a file's security from its Unix owner and mode: 666
        # lets Everyone write and delete it; another Unix user's file is
        # owned by Anonymous. A missing one has no security at all.
        # The same goes for its folder, where a planted library would be
        # loaded with it.
        open_folder = lambda path: self.bench("access", "C:\\nivra", "open-to-all")  # noqa: E731
        for unsafe, warning in ((lambda path: os.chmod(path, 0o666), "can be changed by other users"),
                                (lambda path: os.chown(path, 4321, 4321), "can be changed by other users"),
                                (lambda path: path.unlink(), "its security cannot be read (error 0x00000002)"),
                                (open_folder, "its folder C:/nivra/ lets other users of this computer add files"),
                                (lambda path: os.chown(path.parent, 4321, 4321),
                                 "its folder C:/nivra/ is owned by S-1-5-7, not by SYSTEM")):
            with self.subTest(warning=warning):
                self.bench("reset")
                self.bench("prefs", "place")
                self.bench("plugin", "place")
                unsafe(desktop.plugin_path(self.ws))
                self.start_with_init_plugin()
                self.wait_for_entry("start polling")
                entries = self.entries()
                [line] = [e for e in entries if e.startswith(WARNING + "plugin dll C:/nivra/dererarizoduz.dll")]
                self.assertIn(warning, line)
                self.assertTrue(line.endswith(", not registered"), line)
                self.assertInOrder([COPIED, line], entries)
                self.assertFalse(any(e in entries for e in (UNREGISTERED, REGISTERED)))
                time.sleep(1)
                self.assertEqual([], desktop.plugin_record(self.ws))
                agent.stop_all(self.ws)

    def test_preferences_of_another_user_are_not_copied(self):
        self.bench("prefs", "place", "--text", "planted")
        self.bench("access", "C:\\ProgramData\\Nivra\\Prefs\\prefs.config", "other-user")
        self.bench("plugin", "place")
        self.start_with_init_plugin()
        self.wait_for_entry(REGISTERED, timeout=30)
        self.assertInOrder([WARNING + "preferences file C:\\ProgramData\\Nivra\\Prefs\\prefs.config is not copied: "
                            "its owner S-1-5-7 is not SYSTEM, Administrators, TrustedInstaller or this user",
                            UNREGISTERED], self.entries())
        self.assertFalse(any(c.exists() for c in desktop.user_copies(self.ws)))

    def test_missing_source_and_missing_tool(self):
        self.bench("plugin", "place")
        self.bench("regsvr32", "hide")
        self.start_with_init_plugin()
        self.wait_for_entry("start polling")  # after the chores, so no register line can follow
        entries = self.entries()
        self.assertInOrder([ERROR + "preferences file not exist", ERROR + "error unregister plugin dll"], entries)
        self.assertFalse(any("PureEdge" in str(c) and c.exists() for c in desktop.user_copies(self.ws)))
        self.assertFalse(any(e in entries for e in (UNREGISTERED, REGISTERED)))

    def test_copy_held_open_by_another_program_is_kept(self):
        self.bench("prefs", "place", "--text", "new")
        copy = desktop.user_copies(self.ws)[0]
        copy.parent.mkdir(parents=True, exist_ok=True)
        copy.write_bytes(b"old")
        self.bench("file", "hold", self.ws.windows_path(copy))
        self.start_with_init_plugin()
        self.wait_for_entry("plugin dll", timeout=30)
        self.assertIn(WARNING + "failed to copy preferences file or file already exists", self.entries())
        self.bench("file", "release", self.ws.windows_path(copy))
        self.assertEqual(b"old", copy.read_bytes())

    def test_init_plugin_other_than_1_runs_neither_chore(self):
        self.bench("prefs", "place")
        self.bench("plugin", "place")
        self.start_with_init_plugin("2")
        self.wait_for_entry("settings read status")
        self.wait_for_entry("start polling")  # where the chores would be over
        entries = self.entries()
        self.assertFalse([e for e in entries if "preferences" in e or "plugin dll" in e])
        self.assertEqual([], desktop.plugin_record(self.ws))
        self.assertFalse(any(c.exists() for c in desktop.user_copies(self.ws)))


if __name__ == "__main__":
    harness.main()
