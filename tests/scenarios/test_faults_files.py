"""The agent's files out of reach: c:\\nivra blocked by a file, a log file or
the settings file held open without sharing by another program, and the
data folder on a full disk. The agent keeps running and keeps doing its
job; what it cannot write it drops, and it logs wherever it still can."""
import errno
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import faults
import harness
from faults import ERROR, INFO, FaultScenario, qualified

from benchlib import agent, files, provider, settings, tokens
from benchlib.workstation import BenchError, Workstation


def changed_line(mark_default=0, ignore_cards=0, clean_storage=1, init_plugin=0):
    return INFO + "settings are changed: [mark_default=%d, ignore_cards=%d, clean_storage=%d, init_plugin=%d]" % (
        mark_default, ignore_cards, clean_storage, init_plugin)


class DataFolderBlocked(FaultScenario):
    def tearDown(self):
        super().tearDown()
        (self.ws.agent_dir / "Keyhaven.ini").unlink(missing_ok=True)

    def test_logs_and_settings_move_to_the_current_directory_and_the_job_goes_on(self):
        # The log and settings redirection itself: test_startup.DataFolder.
        self.ws.nivra.parent.mkdir(parents=True, exist_ok=True)
        self.ws.nivra.write_bytes(b"not a folder")
        (self.ws.agent_dir / "Keyhaven.ini").write_bytes(b"[properties]\r\nmark_default = 1\r\n")
        first = self.container("F1", "first", "4101")
        self.insert("F1")
        pid = self.start_agent(quick=True)
        here = self.ws.agent_dir
        self.wait_until_logged(faults.IMPORTED, here)
        self.assertStoreHolds([first], exactly=True)
        self.assertIn(INFO + "container was marked as default container", self.entries(folder=here))

        second = self.container("F2", "second", "4102")
        self.insert("F2")
        self.wait_for_store([first, second])
        self.assertEqual(b"not a folder", self.ws.nivra.read_bytes())
        self.assertAgentRunning(pid)

    def test_a_link_at_the_data_folder_is_no_data_folder_either(self):
        # Wine shows a Unix symbolic link to a folder as a reparse point, as
        # Windows shows a junction: what it leads to gets nothing.
        elsewhere = self.scratch / "elsewhere"
        elsewhere.mkdir()
        shutil.rmtree(self.ws.nivra, ignore_errors=True)
        self.ws.nivra.symlink_to(elsewhere)
        self.addCleanup(self.ws.nivra.unlink)
        pid = self.start_agent(quick=True)
        self.wait_until_logged(INFO + "start polling", self.ws.agent_dir)
        self.assertEqual([], list(elsewhere.iterdir()))
        self.assertAgentRunning(pid)

    def wait_until_logged(self, text, folder):
        if not faults.wait_until(lambda: any(text in e for e in self.entries(folder=folder)), 60, interval=0.2):
            self.fail("no %r in %s; log:\n%s" % (text, folder, self.tail(folder=folder)))


class FilesHeldOpen(FaultScenario):
    def hold(self, path):
        # The agent opens its files for a moment on every turn (the settings
        # file every 50 ms): a sharing violation (32) means "not just now".
        for attempt in range(50):
            try:
                return files.hold(self.ws, self.ws.windows_path(path))
            except BenchError as e:
                if attempt == 49 or not str(e).endswith(": 32"):
                    raise

    def release(self, path):
        files.release(self.ws, self.ws.windows_path(path))

    def test_a_held_log_file_loses_its_lines_and_the_other_still_gets_them(self):
        full, minimal = agent.log_path(self.ws), agent.log_path(self.ws, minimal=True)
        serials = [self.container("L%d" % i, "key%d" % i, "42%02d" % i) for i in range(1, 5)]
        pid = self.start()

        def listed(i, in_minimal):
            """Whether the file lists token i's container among those to import
            (a line written before the import itself)."""
            return INFO + "\t * " + qualified("L%d" % i, "key%d" % i) in self.entries(minimal=in_minimal)

        self.hold(full)
        self.insert("L1")
        self.wait_for_store(serials[:1])
        self.assertEqual((False, True), (listed(1, False), listed(1, True)))

        self.release(full)
        self.hold(minimal)
        self.insert("L2")
        self.wait_for_store(serials[:2])
        self.assertEqual((True, False), (listed(2, False), listed(2, True)))

        # Both held: nothing can be logged, and the job is still done.
        self.hold(full)
        sizes = (full.stat().st_size, minimal.stat().st_size)
        self.insert("L3")
        self.wait_for_store(serials[:3])
        self.assertEqual(sizes, (full.stat().st_size, minimal.stat().st_size))

        self.release(full)
        self.release(minimal)
        self.insert("L4")
        self.wait_for_store(serials)
        self.assertEqual((False, False), (listed(3, False), listed(3, True)))
        self.assertEqual((True, True), (listed(4, False), listed(4, True)))
        self.assertStoreHolds(serials, exactly=True)
        self.assertAgentRunning(pid)

    def test_a_turn_held_the_whole_time_delays_no_certificate(self):
        # A reader of both logs keeps their turn bytes: each line waits a
        # bounded moment, then the day's files are written without turns.
        # Waiting for each turn, one insertion took 14 s here.
        serial = self.container("T1", "turn", "4501")
        pid = self.start()
        for path in (agent.log_path(self.ws), agent.log_path(self.ws, minimal=True)):
            files.hold_turn(self.ws, self.ws.windows_path(path))
        self.insert("T1")
        self.wait_for_store([serial], timeout=10)
        self.wait_for_entry(faults.IMPORTED, minimal=True)
        self.assertIn(faults.IMPORTED, self.entries())
        self.assertAgentRunning(pid)

    def test_a_log_name_linked_to_another_file_or_of_another_user_gets_no_line(self):
        # The full log's name made before the agent makes it: a second name
        # of a file the user may write, or a file of another Unix user (owner
        # Anonymous to Wine). The minimal log shows that the agent logs on.
        full, minimal = agent.log_path(self.ws), agent.log_path(self.ws, minimal=True)
        victim = self.ws.nivra / "victim.txt"
        for i, fault in enumerate(("link", "other-user")):
            with self.subTest(fault=fault):
                agent.stop_all(self.ws)
                for path in (full, minimal, victim):
                    path.unlink(missing_ok=True)
                self.ws.nivra.mkdir(parents=True, exist_ok=True)
                victim.write_bytes(b"the user's own file\r\n")
                if fault == "link":
                    self.bench("file", "link", self.ws.windows_path(victim), self.ws.windows_path(full))
                else:
                    full.write_bytes(b"another user's file\r\n")
                    self.bench("file", "other-user", self.ws.windows_path(full))
                before = full.read_bytes()
                serial = self.container("V%d" % i, "victim", "460%d" % i)
                self.insert("V%d" % i)
                pid = self.start_agent(quick=True)
                self.wait_for_store([serial])
                self.wait_for_entry(faults.IMPORTED, minimal=True, timeout=60)
                self.assertEqual((before, b"the user's own file\r\n"), (full.read_bytes(), victim.read_bytes()))
                self.assertAgentRunning(pid)

    def test_a_held_settings_file_keeps_the_values_in_force_until_it_is_free(self):
        path = settings.settings_path(self.ws)
        settings.write(self.ws, clean_storage=0)
        self.hold(path)
        kept = self.container("H1", "kept", "4301")
        self.insert("H1")
        pid = self.start()
        # There but unreadable at start-up: said once, the defaults shown.
        entries = self.entries()
        self.assertInOrder([
            INFO + "initial settings read: [mark_default=0, ignore_cards=0, clean_storage=1, init_plugin=0]",
            ERROR + "settings read status { ERROR, code=304 }"], entries)
        self.wait_for_store([kept])

        self.release(path)
        self.wait_for_entry(changed_line(clean_storage=0))

        # Held again, with new contents it cannot read: clean_storage 0
        # stays, so the carrier's removal cleans nothing.
        self.hold(path)
        path.write_bytes(b"[properties]\r\nclean_storage = 1\r\nmark_default = 1\r\n")
        self.remove("H1")
        self.wait_for_entry(INFO + "configuration changed: cards_count=0, tokens_count=0")
        self.wait_for_entry("no new containers found")
        self.assertStoreHolds([kept], exactly=True)

        self.release(path)
        self.wait_for_entry(changed_line(mark_default=1))
        self.assertEqual(1, sum(e.startswith(ERROR + "settings read status") for e in self.entries()))
        self.assertAgentRunning(pid)


class DiskFull(FaultScenario):
    """c:\\nivra on a tiny tmpfs that is then filled up: every log write
    fails with ENOSPC (ERROR_DISK_FULL in the agent). A mount point at
    c:\\nivra itself is a reparse point to Wine, which the agent refuses, so
    drive C becomes a folder on the tmpfs that holds a real nivra folder and
    links to everything else drive_c holds."""
    SIZE = "256k"

    def setUp(self):
        super().setUp()
        self.disk = Path(tempfile.mkdtemp(prefix="keyhaven-disk-"))
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + self.SIZE, "tmpfs", str(self.disk)],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs here: %s" % mounted.stdout.decode(errors="replace").strip())
        self.addCleanup(self.unmount)
        agent.stop_all(self.ws)
        self.ws.stop_server()
        small = self.disk / "drive_c"
        (small / "nivra").mkdir(parents=True)
        # Still named drive_c, which the bench's paths are read from.
        self.real = self.ws.prefix / "real" / "drive_c"
        self.real.parent.mkdir()
        self.ws.drive_c.rename(self.real)
        for entry in self.real.iterdir():
            if entry.name != "nivra":
                (small / entry.name).symlink_to(entry)
        self.ws.drive_c.symlink_to(small)

    def unmount(self):
        agent.stop_all(self.ws)
        if self.ws.drive_c.is_symlink():
            self.ws.stop_server()
            self.ws.drive_c.unlink()
            self.real.rename(self.ws.drive_c)
            self.real.parent.rmdir()
        if subprocess.run(["umount", str(self.disk)], stderr=subprocess.DEVNULL).returncode != 0:
            subprocess.run(["umount", "-l", str(self.disk)], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.disk, ignore_errors=True)

    def fill(self):
        filler = self.ws.nivra / "filler.bin"
        with open(filler, "wb", buffering=0) as f:
            try:
                while True:
                    f.write(b"\0" * 4096)
            except OSError as e:
                self.assertEqual(errno.ENOSPC, e.errno)
        return filler

    def test_a_full_disk_drops_log_lines_and_the_job_goes_on(self):
        settings.write(self.ws, mark_default=1)
        first = self.container("Q1", "key1", "4401")
        second = self.container("Q2", "key2", "4402")
        self.insert("Q1")
        # Full before the first line, so not even the tail of a block is left.
        filler = self.fill()
        pid = self.start_agent(quick=True)
        self.wait_for_store([first])
        logs = [agent.log_path(self.ws), agent.log_path(self.ws, minimal=True)]
        self.assertEqual([0, 0], [p.stat().st_size if p.exists() else 0 for p in logs])
        # The settings were still read: the container was marked default.
        self.assertEqual([qualified("Q1", "key1")], provider.marks(self.ws))

        # Space again: the log goes on, from the next line.
        os.unlink(filler)
        self.insert("Q2")
        self.wait_for_store([first, second])
        self.wait_for_entry(faults.IMPORTED)
        self.wait_for_entry(faults.IMPORTED, minimal=True)
        self.assertNotIn(INFO + "daemon starts", self.entries())
        self.assertIn(INFO + "\t * " + qualified("Q2", "key2"), self.entries())
        self.assertStoreHolds([first, second], exactly=True)
        self.assertAgentRunning(pid)


class SharedDataFolder(FaultScenario):
    """Two agents, as two users' sessions, appending to the same daily files:
    a second workstation whose c:\\nivra is this one's."""

    LINE = re.compile(r"\d\d:\d\d:\d\d > \[(  DEBUG  |  INFO   | WARNING |  ERROR  )\]: [^\r\n]*")

    def setUp(self):
        super().setUp()
        self.other = Workstation(self.ws.prefix.parent / "test-workstation-shared")
        subprocess.run([sys.executable, str(harness.WORKSTATION_COMMAND), "--prefix", str(self.other.prefix),
                        "create", "--force"], check=True, stdout=subprocess.DEVNULL)
        shutil.rmtree(self.other.nivra, ignore_errors=True)
        self.ws.nivra.mkdir(parents=True, exist_ok=True)
        # A bind mount on the same file system is a plain folder to Wine; a
        # symbolic link to a folder is a reparse point, which the agent
        # refuses as its data folder.
        self.other.nivra.mkdir()
        subprocess.run(["mount", "--bind", str(self.ws.nivra), str(self.other.nivra)], check=True)

    def tearDown(self):
        agent.stop_all(self.other)
        self.other.stop_server()
        if subprocess.run(["umount", str(self.other.nivra)], stderr=subprocess.DEVNULL).returncode != 0:
            subprocess.run(["umount", "-l", str(self.other.nivra)], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.other.prefix, ignore_errors=True)
        super().tearDown()

    def test_two_agents_lose_no_line_and_never_mix_two_lines(self):
        # Each agent's enumerations fail with a code of its own, a hundred
        # retries a round: a known number of lines, told apart by the code.
        codes = {self.ws: 0x8009DE01, self.other: 0x8009DE02}
        for ws, code in codes.items():
            provider.add_container(ws, "shared", "token:D1", b"")
            provider.set_switch(ws, "fail_enum", code)
            tokens.insert_token(ws, "D1")
            agent.start(ws, quick=True)
        began, rounds = time.monotonic(), 0
        while True:  # rounds until both agents have logged for a minute
            rounds += 1
            self.wait_for_count("containers could not be enumerated", 2 * rounds, timeout=180)
            for ws in codes:
                tokens.remove_device(ws, "token", "D1")
            self.wait_for_count("tokens_count=0", 2 * rounds, timeout=60)
            if time.monotonic() - began >= 60:
                break
            for ws in codes:
                tokens.insert_token(ws, "D1")
        agent.stop_all(self.other)
        agent.stop_all(self.ws)

        for minimal in (False, True):
            data = self.log_bytes(minimal)
            self.assertTrue(data.endswith(b"\r\n"))
            lines = data[:-2].decode("cp1251").split("\r\n")
            self.assertEqual([], [line for line in lines if not self.LINE.fullmatch(line)], "broken lines")
            for code in codes.values():
                failed = "CryptGetProvParam(PP_ENUMCONTAINERS) error, code: 0x%08X" % code
                self.assertEqual(101 * rounds, sum(failed in line for line in lines), failed)
            for retry in range(1, 101):
                waiting = "retrying <%d/100> enumerate containers..." % retry
                self.assertEqual(2 * rounds, sum(line.endswith(waiting) for line in lines), waiting)


if __name__ == "__main__":
    faults.main()
