"""The signed package as an administrator deploys it, with the commands of
the administrators' guide's "Deploying" section as they stand, in a fresh workstation of
its own: the bench's stand-ins, no agent until the package brings one.
Logons are plain wineboot runs (they start the Run values)."""
import datetime
import http.server
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "scenarios"))
import harness  # noqa: E402
from harness import REPO, wait_until

from benchlib import access, agent, certs, files, provider, store, tokens
from benchlib.workstation import WINE64, Workstation, alive, read_if_any, spawn_detached, workstation_pids

sys.path.insert(0, str(REPO / "package"))
import make_package  # noqa: E402

BUILD = Path(os.environ.get("KEYHAVEN_BIN") or REPO / "build" / "mingw" / "bin").resolve().parent
PACKAGES = BUILD / "package"
TEST_CA = BUILD / "signing" / "test-ca.crt"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
KEEPER = make_package.keeper_names()
RETENTION_KEY = "HKLM\\" + KEEPER["settings_key"]
ABOUT_URL = "https://pki.nivra.ru/keyhaven"
PACKAGE_NAME = re.compile(r"keyhaven-(\d+)\.(\d+)\.(\d+)-x64\.msi")
TEST_SIGNED = "keyhaven-*-x64-test.msi"


def day_log_names(date):
    return ["Keyhaven_%s.log" % date.strftime("%d_%m_%Y"), "Keyhaven_minimal_%s.log" % date.strftime("%d_%m_%Y")]


def release_name(package):
    """The name the guide's commands give a package: a release's."""
    return package.name.replace("-x64-test.msi", "-x64.msi")


def readme_commands():
    """The command lines of the guide's "Deploying" section, in order."""
    text = make_package.guide_text()
    section = text[text.index("\n## Deploying\n"):]
    section = section[:section.index("\n## ", 1)]
    blocks = re.findall(r"\n```\n(.*?)\n```", section, re.S)
    return [line for block in blocks for line in block.splitlines() if line.strip()]


def product_version_of(exe):
    data = Path(exe).read_bytes()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls = struct.unpack_from("<II", data, at + 16)
    return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF


def with_version(exe, target, version):
    """A copy of exe whose version resource says version (file and product)."""
    data = bytearray(Path(exe).read_bytes())
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls = (version[0] << 16) | version[1], (version[2] << 16) | version[3]
    struct.pack_into("<IIII", data, at + 8, ms, ls, ms, ls)
    Path(target).write_bytes(bytes(data))


def verify(path, ca):
    return subprocess.run(["osslsigncode", "verify", "-in", str(path), "-CAfile", str(ca)],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT).returncode == 0


def table(package, name):
    """A table of the package as {first column: the other columns}."""
    exported = subprocess.run(["msiinfo", "export", str(package), name], stdout=subprocess.PIPE,
                              check=True).stdout.decode()
    return {f[0]: f[1:] for f in (line.split("\t") for line in exported.splitlines()[3:] if line)}


class TimeStampServer(http.server.HTTPServer):
    """An RFC 3161 server on this machine answering with openssl ts, its
    certificate issued by the CA in folder (test-ca.crt, test-ca.key)."""
    def __init__(self, folder):
        self.folder = folder
        subprocess.run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa.key", "-out", "tsa.csr",
                        "-subj", "/CN=Time stamps"], cwd=folder, check=True, capture_output=True)
        (folder / "tsa.ext").write_text("extendedKeyUsage=critical,timeStamping\n")
        (folder / "tsa.cnf").write_text("[tsa]\ndefault_tsa = t\n[t]\nserial = %s\nsigner_digest = sha256\n"
                                        "default_policy = 1.2.3.4.1\ndigests = sha256\n" % (folder / "tsa.serial"))
        (folder / "tsa.serial").write_text("01\n")
        subprocess.run(["openssl", "x509", "-req", "-in", "tsa.csr", "-CA", "test-ca.crt", "-CAkey", "test-ca.key",
                        "-CAcreateserial", "-out", "tsa.crt", "-days", "2", "-extfile", "tsa.ext"],
                       cwd=folder, check=True, capture_output=True)
        super().__init__(("127.0.0.1", 0), TimeStampReply)
        threading.Thread(target=self.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d" % self.server_address[1]


class TimeStampReply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        folder = self.server.folder
        (folder / "tsa.query").write_bytes(self.rfile.read(int(self.headers["Content-Length"])))
        subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "tsa.query", "-signer",
                        "tsa.crt", "-inkey", "tsa.key", "-chain", "test-ca.crt", "-out", "tsa.reply"],
                       cwd=folder, check=True, capture_output=True)
        reply = (folder / "tsa.reply").read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="keyhaven-package-"))
        [cls.current] = PACKAGES.glob(TEST_SIGNED)
        # The next release: the executable one patch level up, packaged the same way.
        a, b, c, _ = product_version_of(BUILD / "bin" / "keyhaven.exe")
        cls.newer_version = "%d.%d.%d.0" % (a, b, c + 1)
        newer_exe = cls.scratch / "keyhaven.exe"
        with_version(BUILD / "bin" / "keyhaven.exe", newer_exe, (a, b, c + 1, 0))
        subprocess.run([sys.executable, str(REPO / "package" / "make_package.py"), "--exe", str(newer_exe),
                        "--setup-dll", str(BUILD / "bin" / "keyhaven-setup.dll"), "--out", str(cls.scratch / "newer"), "--test-ca", str(TEST_CA.parent),
                        "--status-exe", str(BUILD / "bin" / "keyhaven-status.exe"),
                        "--keeper-exe", str(BUILD / "bin" / "keyhaven-keeper.exe"), "--about-url", ABOUT_URL],
                       check=True, stdout=subprocess.DEVNULL)
        [cls.newer] = (cls.scratch / "newer").glob(TEST_SIGNED)
        cls.commands = readme_commands()
        names = sorted(set(PACKAGE_NAME.findall(" ".join(cls.commands))), key=lambda v: tuple(map(int, v)))
        assert ["keyhaven-%s.%s.%s-x64.msi" % v for v in names] == [release_name(cls.current),
                                                                     release_name(cls.newer)], names

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.ws = Workstation(BUILD / "package-workstation")
        subprocess.run([sys.executable, str(REPO / "bench" / "workstation"), "--prefix", str(self.ws.prefix),
                        "create", "--no-agent", "--force"], check=True, stdout=subprocess.DEVNULL)
        self.packages = self.ws.drive_c / "packages"
        self.packages.mkdir()
        for package in (self.current, self.newer):
            shutil.copy2(package, self.packages / release_name(package))

    def tearDown(self):
        agent.stop_all(self.ws)
        self.ws.stop_server()
        shutil.rmtree(self.ws.prefix, ignore_errors=True)

    # --- helpers ----------------------------------------------------------
    def command(self, *words):
        """The guide's msiexec line that holds these words."""
        [line] = [c for c in self.commands if c.startswith("msiexec") and all(w in c.split() for w in words)]
        return line

    def msiexec(self, line):
        # Not captured: the agents the install starts would hold the pipes open.
        return self.ws.wine(*line.split(), check=False, capture=False, cwd=self.packages, timeout=300).returncode

    def msi_log(self, name):
        """msiexec's log, in the ANSI code page under Wine."""
        return (self.packages / name).read_bytes().decode("cp1251", "replace")

    def logon(self):
        self.ws.wine("wineboot", capture=False)

    def keyhaven_products(self):
        listed = self.ws.reg("query", UNINSTALL_KEY, "/s", check=False).stdout.decode(errors="replace")
        return [line for line in listed.splitlines() if line.split() == ["DisplayName", "REG_SZ", "Keyhaven"]]

    def keeper_state(self):
        """The keeper service's state as sc query shows it; None when it is not installed."""
        shown = self.ws.wine("sc", "query", KEEPER["service_name"], check=False).stdout.decode(errors="replace")
        found = re.search(r"STATE\s*:\s*\d+\s+(\w+)", shown)
        return found.group(1) if found else None

    def stored_retention(self):
        shown = self.ws.reg("query", RETENTION_KEY, "/v", KEEPER["retention_value"], check=False)
        found = re.search(r"REG_DWORD\s+0x([0-9a-fA-F]+)", shown.stdout.decode(errors="replace"))
        return int(found.group(1), 16) if found else None

    def wait_for_agent(self):
        self.assertTrue(wait_until(lambda: agent.running_pids(self.ws), 30), "no agent started at logon")

    def log_text(self):
        path = agent.log_path(self.ws)
        return path.read_bytes().decode("cp1251") if path.is_file() else ""

    # --- the scenarios ------------------------------------------------------
    def test_silent_install_then_a_logon_imports_a_token_certificate(self):
        # Day logs from before the package: those older than 90 days by
        # their names go at the keeper's first pass, the rest stay.
        today = datetime.date.today()
        self.ws.nivra.mkdir()
        old = day_log_names(today - datetime.timedelta(days=91))
        kept = day_log_names(today - datetime.timedelta(days=90)) + ["Keyhaven_other.log"]
        for name in old + kept:
            (self.ws.nivra / name).write_bytes(b"x\r\n")
        self.assertEqual(0, self.msiexec(self.command("/qn", "keyhaven-install.log")))
        self.assertEqual("RUNNING", self.keeper_state())
        self.assertEqual(90, self.stored_retention())
        # Tomorrow's files, empty: the keeper made them, no agent wrote a line for tomorrow.
        tomorrow = [self.ws.nivra / n for n in day_log_names(today + datetime.timedelta(days=1))]
        self.assertTrue(wait_until(lambda: all(p.is_file() for p in tomorrow) and
                                   not any((self.ws.nivra / n).exists() for n in old), 30),
                        sorted(p.name for p in self.ws.nivra.iterdir()))
        self.assertEqual([0, 0], [p.stat().st_size for p in tomorrow])
        # A change in the time zone's key wakes it: a day file removed meanwhile is made again.
        tomorrow[1].unlink()
        zone = r"HKLM\SYSTEM\CurrentControlSet\Control\TimeZoneInformation"
        self.ws.reg("add", zone, "/v", "KeyhavenTestChange", "/t", "REG_DWORD", "/d", "1", "/f")
        self.assertTrue(wait_until(tomorrow[1].is_file, 30), "no pass after the time zone's key changed")
        self.assertTrue(all((self.ws.nivra / n).is_file() for n in kept))
        # The folder made before, by the installing account, is kept.
        self.assertIn("Keyhaven: c:\\nivra kept: ", self.msi_log("keyhaven-install.log"))
        installed = self.ws.agent_dir / "keyhaven.exe"
        self.assertEqual((PACKAGES / "keyhaven.exe").read_bytes(), installed.read_bytes())
        self.assertTrue(verify(installed, TEST_CA))
        run = self.ws.reg("query", RUN_KEY, "/v", "Keyhaven").stdout.decode()
        self.assertIn(r'"C:\Program Files\Keyhaven\keyhaven.exe"', run)
        self.assertEqual((REPO / "package" / "Keyhaven.ini").read_text().replace("\n", "\r\n").encode(),
                         (self.ws.nivra / "Keyhaven.ini").read_bytes())
        # The help link opens the guide installed beside the programs.
        self.assertIn('href="administrators.html#deploying"', (self.ws.agent_dir / "guide" / "index.html").read_text())
        self.assertIn(r"C:\Program Files\Keyhaven\guide\index.html",
                      self.ws.reg("query", UNINSTALL_KEY, "/s", "/v", "HelpLink").stdout.decode(errors="replace"))

        der = certs.make(self.scratch / "deployed.der", "Развёрнутый", serial="5A01")
        provider.add_container(self.ws, "deployed", "token:5A", der)
        tokens.insert_token(self.ws, "5A")
        self.logon()
        self.wait_for_agent()
        imported = wait_until(lambda: [c for c in store.list_certificates(self.ws) if c.serial == "5A01"], 30)
        self.assertTrue(imported, self.log_text())
        self.assertEqual(provider.qualified_name("deployed", "token:5A"), imported[0].container)
        # The default file is a valid settings file with the defaults.
        self.assertIn("settings read status { OK, code=0 }", self.log_text())
        # The status program beside it, never started at logon, reports the installed agent.
        status = self.ws.agent_dir / "keyhaven-status.exe"
        self.assertTrue(verify(status, TEST_CA))
        self.assertNotIn("keyhaven-status", run)
        agent_part = json.loads(self.ws.wine(status, "--json", check=False).stdout.decode("utf-8"))["agent"]
        self.assertEqual({"running": True, "version": "%d.%d.%d.%d" % product_version_of(installed),
                          "path": r"C:\Program Files\Keyhaven\keyhaven.exe", "source": "installed"}, agent_part)
        keeper_part = json.loads(self.ws.wine(status, "--json", check=False).stdout.decode("utf-8"))["keeper"]
        self.assertEqual({"installed": True, "running": True, "state": "running", "today_files": True,
                          "missing": []}, keeper_part)

    def test_upgrade_while_running_keeps_settings_refuses_a_downgrade_and_removal_keeps_the_data(self):
        # The install itself starts the agent in this session: no logon.
        self.assertEqual(0, self.msiexec(self.command("/passive")))
        self.wait_for_agent()
        [old_agent] = agent.running_pids(self.ws)
        edited = b"[properties]\r\nclean_storage = 0\r\n"
        (self.ws.nivra / "Keyhaven.ini").write_bytes(edited)

        # A bad setting fails the upgrade before anything changes.
        self.assertEqual([ABOUT_URL], table(self.newer, "Property")["ARPURLINFOABOUT"])  # given at build time
        refused = "msiexec /i %s /qn CLEAN_STORAGE=2 /l*v refused.log" % release_name(self.newer)
        self.assertNotEqual(0, self.msiexec(refused))
        self.assertIn("Keyhaven: CLEAN_STORAGE=2 must be 0 or 1. Nothing was installed or changed.",
                      self.msi_log("refused.log"))
        self.assertEqual(edited, (self.ws.nivra / "Keyhaven.ini").read_bytes())
        refused = "msiexec /i %s /qn LOG_RETENTION_DAYS=3651 /l*v refused.log" % release_name(self.newer)
        self.assertNotEqual(0, self.msiexec(refused))
        self.assertIn("Keyhaven: LOG_RETENTION_DAYS=3651 is not an integer from 0 to 3650", self.msi_log("refused.log"))
        self.assertEqual(90, self.stored_retention())
        self.assertEqual([old_agent], agent.running_pids(self.ws))
        self.assertEqual((PACKAGES / "keyhaven.exe").read_bytes(), (self.ws.agent_dir / "keyhaven.exe").read_bytes())

        self.assertEqual(0, self.msiexec(self.command("/i", release_name(self.newer))))
        self.assertNotIn(old_agent, agent.running_pids(self.ws))
        self.assertTrue(wait_until(lambda: "module version: " + self.newer_version in self.log_text(), 10),
                        self.msi_log("keyhaven-upgrade.log")[-3000:])
        self.assertTrue(agent.running_pids(self.ws))
        self.assertEqual(1, len(self.keyhaven_products()), self.keyhaven_products())
        self.assertEqual(edited, (self.ws.nivra / "Keyhaven.ini").read_bytes())
        self.assertEqual("RUNNING", self.keeper_state())
        # The folder the first package made is kept, today's files given the log's security.
        # Today's two and the two the keeper made for tomorrow.
        self.assertIn("Keyhaven: 4 day files given the log's security", self.msi_log("keyhaven-upgrade.log"))

        # The older package over the newer one: refused with 1603 (67 through
        # the shell's 8 bits) by its launch condition, whose text Wine's log
        # leaves out.
        self.assertIn(self.msiexec(self.command("/qn", "keyhaven-install.log")), (1603, 67))
        condition = subprocess.run(["msiinfo", "export", str(self.current), "LaunchCondition"],
                                   stdout=subprocess.PIPE, check=True).stdout.decode()
        self.assertIn("NOT WIX_DOWNGRADE_DETECTED\tA newer version of Keyhaven is already installed.", condition)
        self.assertEqual(1, len(self.keyhaven_products()))

        self.assertEqual(0, self.msiexec(self.command("/x")))
        self.assertFalse(agent.running_pids(self.ws), "the agent runs on after removal")
        self.assertFalse((self.ws.agent_dir / "keyhaven.exe").exists())
        self.assertNotEqual(0, self.ws.reg("query", RUN_KEY, "/v", "Keyhaven", check=False).returncode)
        self.assertEqual([], self.keyhaven_products())
        self.assertIsNone(self.keeper_state(), "the keeper service is still installed")
        self.assertIsNone(self.stored_retention())
        self.assertEqual(edited, (self.ws.nivra / "Keyhaven.ini").read_bytes())
        self.assertTrue(agent.log_path(self.ws).is_file())
        self.logon()
        self.assertFalse(wait_until(lambda: agent.running_pids(self.ws), 5), "an agent started after removal")

    def test_settings_as_properties_fixed_folders_and_a_repair_or_rerun_keep_the_agent(self):
        moved = self.command("CLEAN_STORAGE=0", "IGNORE_CARDS=1") + " INSTALLDIR=C:\\Tools\\ TARGETDIR=C:\\Tools\\" + \
            " LOG_RETENTION_DAYS=30"
        self.assertEqual(0, self.msiexec(moved))
        self.assertTrue((self.ws.agent_dir / "keyhaven.exe").is_file())
        self.assertFalse((self.ws.drive_c / "Tools").exists())
        read = "initial settings read: [mark_default=0, ignore_cards=1, clean_storage=0, init_plugin=0]"
        self.assertTrue(wait_until(lambda: read in self.log_text(), 10), self.log_text())
        [running] = agent.running_pids(self.ws)
        settings = (self.ws.nivra / "Keyhaven.ini").read_bytes()

        self.assertEqual(0, self.msiexec(self.command("/qn", "keyhaven-install.log")))
        self.assertEqual(settings, (self.ws.nivra / "Keyhaven.ini").read_bytes())
        self.assertEqual(0, self.msiexec(self.command("REINSTALL=ALL", "MARK_DEFAULT=1")))
        changed = "settings are changed: [mark_default=1, ignore_cards=1, clean_storage=0, init_plugin=0]"
        self.assertTrue(wait_until(lambda: changed in self.log_text(), 10), self.log_text())
        self.assertEqual(settings.replace(b"mark_default = 0", b"mark_default = 1"),
                         (self.ws.nivra / "Keyhaven.ini").read_bytes())
        self.assertEqual([running], agent.running_pids(self.ws))
        # Neither the re-run nor the repair gave LOG_RETENTION_DAYS: the stored value stays.
        self.assertEqual(30, self.stored_retention())

    def test_the_keeper_makes_the_next_days_files_when_its_clock_passes_midnight(self):
        self.assertEqual(0, self.msiexec(self.command("/qn", "keyhaven-install.log")))
        # The prefix's server (and so the services) restarted with every
        # clock at 23:59:30 local time; no agent runs then.
        local = datetime.datetime(2031, 3, 15, 23, 59, 30)
        faked = datetime.datetime.fromtimestamp(time.mktime(local.timetuple()), datetime.timezone.utc)
        # Tomorrow's minimal file made beforehand by another user (another Unix owner: Anonymous).
        planted = self.ws.nivra / day_log_names(datetime.date(2031, 3, 16))[1]
        planted.write_bytes(b"planted\r\n")
        os.chown(planted, 4321, 4321)
        trace = self.scratch / "events.txt"
        agent.restart_server(self.ws, faked.strftime("%Y-%m-%d %H:%M:%S"), event_trace=trace)
        self.assertEqual("RUNNING", self.keeper_state())
        self.assertFalse(agent.running_pids(self.ws))
        # The keeper makes only today's and tomorrow's: the 17th's come from
        # a pass on the 16th, after midnight.
        day_after = [self.ws.nivra / n for n in day_log_names(datetime.date(2031, 3, 17))]
        self.assertTrue(wait_until(lambda: all(p.is_file() for p in day_after), 90),
                        sorted(p.name for p in self.ws.nivra.iterdir()))
        self.assertFalse(agent.running_pids(self.ws))
        # The other user's file was reported at both passes, and left as it was.
        reported = "%s was not made by the keeper and is left alone: its owner is S-1-5-7," % planted.name
        self.assertTrue(wait_until(lambda: trace.read_text(errors="replace").count(reported) == 2, 30),
                        trace.read_text(errors="replace"))
        self.assertEqual((b"planted\r\n", 4321), (planted.read_bytes(), planted.stat().st_uid))

        # Another program holds the file: the install fails in bounded time and says so.
        written = (self.ws.nivra / "Keyhaven.ini").read_bytes()
        files.hold(self.ws, "C:\\nivra\\Keyhaven.ini")
        try:
            self.assertNotEqual(0, self.msiexec(self.command("REINSTALL=ALL").replace("MARK_DEFAULT=1",
                                                                                     "MARK_DEFAULT=0")))
        finally:
            files.release(self.ws, "C:\\nivra\\Keyhaven.ini")
        self.assertIn("Keyhaven.ini is held open by another program", self.msi_log("keyhaven-repair.log"))
        self.assertEqual(written, (self.ws.nivra / "Keyhaven.ini").read_bytes())

        # The retired property is refused before anything changes.
        self.assertNotEqual(0, self.msiexec(self.command("/qn", "keyhaven-install.log") +
                                            " NIVRA_WRITER_SID=S-1-5-21-1-2-3-1001"))
        self.assertIn("Keyhaven: NIVRA_WRITER_SID is no longer used", self.msi_log("keyhaven-install.log"))

    def fresh_nivra(self):
        """An empty c:\\nivra as the bench's own account makes one."""
        shutil.rmtree(self.ws.nivra, ignore_errors=True)
        self.ws.nivra.mkdir()
        return self.ws.nivra

    def test_a_folder_of_another_user_is_moved_aside_and_only_trusted_settings_and_recent_lines_come_over(self):
        nivra = self.fresh_nivra()
        (nivra / "Keyhaven.ini").write_bytes(b"[properties]\r\nclean_storage = 0\r\n")
        (nivra / "version.dll").write_bytes(b"MZ planted beside the plug-in")
        access.set_access(nivra / "version.dll", "other-user")
        today = agent.log_path(self.ws)
        today.write_bytes(b"09:00:00 > [  INFO   ]: a line from before the package\r\n")
        access.set_access(nivra, "open-to-all")
        access.set_access(nivra, "other-user")

        self.assertEqual(0, self.msiexec(self.command("/qn", "keyhaven-install.log")))
        [aside] = [p for p in self.ws.drive_c.iterdir() if p.name.startswith("nivra.moved-aside-")]
        self.assertEqual(access.OTHER_USER, aside.stat().st_uid)
        self.assertEqual(os.getuid(), nivra.stat().st_uid)
        self.assertFalse((nivra / "version.dll").exists())
        self.assertIn("Keyhaven: carried over into the new c:\\nivra: Keyhaven.ini, %s" % today.name,
                      self.msi_log("keyhaven-install.log"))
        self.assertRegex(self.msi_log("keyhaven-install.log"),
                         r"Keyhaven: left in c:\\nivra\.moved-aside-[0-9a-f]{16}: version\.dll\r?\n")
        self.logon()
        read = "initial settings read: [mark_default=0, ignore_cards=0, clean_storage=0, init_plugin=0]"
        self.assertTrue(wait_until(lambda: read in self.log_text(), 30), self.log_text())
        self.assertIn("a line from before the package", self.log_text())

    def test_a_link_in_the_place_of_the_folder_is_not_written_through(self):
        # Wine renames what a Unix link leads to, never the link: the package
        # cannot move it aside here and says so; on Windows it moves the link.
        shutil.rmtree(self.ws.nivra, ignore_errors=True)
        target = self.ws.drive_c / "elsewhere"
        target.mkdir()
        (target / "Keyhaven.ini").write_bytes(b"[properties]\r\n")
        self.ws.nivra.symlink_to(target, target_is_directory=True)

        self.assertNotEqual(0, self.msiexec(self.command("CLEAN_STORAGE=0", "IGNORE_CARDS=1")))
        self.assertIn("Keyhaven: c:\\nivra it is a junction or symbolic link, and it cannot be moved aside",
                      self.msi_log("keyhaven-settings.log"))
        self.assertEqual(["Keyhaven.ini"], [p.name for p in target.iterdir()])
        self.assertEqual(b"[properties]\r\n", (target / "Keyhaven.ini").read_bytes())
        self.assertEqual(target, self.ws.nivra.resolve())
        self.assertFalse((self.ws.agent_dir / "keyhaven.exe").exists())

    def test_another_program_named_keyhaven_keeps_running_through_install_repair_and_removal(self):
        tools = self.ws.drive_c / "Tools"
        tools.mkdir()
        shutil.copy2(self.ws.bench_dir / "bin" / "bench_mutex.exe", tools / "keyhaven.exe")
        self.ws.ensure_server()
        ready = tools / "ready.out"
        other = spawn_detached([WINE64, tools / "keyhaven.exe", "hold", "not-the-agent"], self.ws.env(), output=ready)
        self.assertTrue(wait_until(lambda: read_if_any(ready).strip() == b"ready", 30))

        self.assertEqual(0, self.msiexec(self.command("/qn", "keyhaven-install.log")))
        self.assertIn(" runs from another folder, not ended", self.msi_log("keyhaven-install.log"))
        self.assertEqual(0, self.msiexec(self.command("REINSTALL=ALL", "MARK_DEFAULT=1")))
        self.assertEqual(0, self.msiexec("msiexec /x %s /qn" % release_name(self.current)))
        self.assertFalse((self.ws.agent_dir / "keyhaven.exe").exists())
        self.assertTrue(alive(other))
        self.assertEqual([other], workstation_pids(self.ws, "keyhaven.exe", "not-the-agent"))


class PackageData(unittest.TestCase):
    def test_executable_and_package_verify_against_the_test_ca_and_a_changed_byte_fails(self):
        for signed in (PACKAGES / "keyhaven.exe", PACKAGES / "keyhaven-status.exe", next(PACKAGES.glob(TEST_SIGNED))):
            self.assertTrue(verify(signed, TEST_CA), signed)
            with tempfile.TemporaryDirectory() as scratch:
                changed = Path(scratch) / signed.name
                data = bytearray(signed.read_bytes())
                data[len(data) // 3] ^= 0xFF
                changed.write_bytes(bytes(data))
                self.assertFalse(verify(changed, TEST_CA), signed)

    def test_the_throw_away_ca_signs_code_only_and_no_ca_below_it(self):
        shown = subprocess.run(["openssl", "x509", "-in", str(TEST_CA), "-noout", "-ext",
                                "basicConstraints,extendedKeyUsage"], stdout=subprocess.PIPE, check=True).stdout.decode()
        self.assertEqual(["CA:TRUE, pathlen:0", "Code Signing"],
                         [line.strip() for line in shown.splitlines() if line.startswith(" ")])

    def test_the_security_rows_are_the_ones_the_readme_gives(self):
        # Wine's msiexec ignores them: they are checked as the data Windows applies.
        exported = subprocess.run(["msiinfo", "export", str(next(PACKAGES.glob(TEST_SIGNED))),
                                   "MsiLockPermissionsEx"], stdout=subprocess.PIPE, check=True).stdout.decode()
        rows = {f[0]: (f[2], f[3], f[4]) for f in (line.split("\t") for line in exported.splitlines()[3:] if line)}
        shown = dict(re.findall(r"^ +(c:\\nivra(?:\\Keyhaven\.ini)?) +(O:\S+)$",
                                make_package.guide_text(), re.M))
        self.assertEqual({"DataFolderSecurity": ("CreateFolder", shown["c:\\nivra"], ""),
                          "SettingsSecurity": ("File", shown["c:\\nivra\\Keyhaven.ini"], "")}, rows)

    def test_on_the_data_folder_nobody_but_system_and_administrators_may_add_delete_or_change(self):
        exported = subprocess.run(["msiinfo", "export", str(next(PACKAGES.glob(TEST_SIGNED))),
                                   "MsiLockPermissionsEx"], stdout=subprocess.PIPE, check=True).stdout.decode()
        [sddl] = [f[3] for f in (line.split("\t") for line in exported.splitlines()[3:]) if f[0] == "DataFolderSecurity"]
        # Add file, add subfolder, delete child, write attributes, delete,
        # change permissions, take ownership; the generic and short forms that hold them.
        forbidden = 0x2 | 0x4 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000
        named = {"FA": 0x1F01FF, "FW": 0x120116, "FR": 0x120089, "FX": 0x1200A0, "GA": forbidden, "GW": forbidden,
                 "GR": 0, "GX": 0, "WD": 0x40000, "WO": 0x80000, "SD": 0x10000, "DC": 0x40, "CC": 0x2, "LC": 0x4,
                 "WP": 0x100, "RC": 0, "RP": 0, "LO": 0, "SW": 0, "DT": 0, "CR": 0}
        self.assertTrue(sddl.startswith("O:BA"), sddl)
        entries = re.findall(r"\((A|D);([A-Z]*);([^;]*);;;([^)]*)\)", sddl)
        self.assertTrue(entries, sddl)
        for kind, flags, rights, who in entries:
            if kind == "D" or "IO" in flags or who in ("SY", "BA"):
                continue
            mask = int(rights, 16) if rights.startswith("0x") else sum(named[rights[i:i + 2]]
                                                                       for i in range(0, len(rights), 2))
            self.assertEqual(0, mask & forbidden, (who, rights))

    def test_inventory_entries_file_version_and_the_actions_conditions(self):
        package = next(PACKAGES.glob(TEST_SIGNED))
        properties = table(package, "Property")
        self.assertEqual(["Nivra"], properties["Manufacturer"])
        # No address ships that the build was not given.
        self.assertEqual((None, None), (properties.get("ARPURLINFOABOUT"), properties.get("ARPHELPLINK")))
        self.assertEqual([True, False, False, False],
                         [make_package.about_url_valid(u) for u in (ABOUT_URL, "https://nivra.example/keyhaven",
                                                                    "http://a b", "ftp://pki.nivra.ru/")])
        self.assertIn(properties["ARPPRODUCTICON"][0], table(package, "Icon"))
        self.assertEqual("%d.%d.%d.%d" % product_version_of(BUILD / "bin" / "keyhaven.exe"),
                         table(package, "File")["keyhaven.exe"][3])
        self.assertEqual('NOT Installed OR REMOVE~="ALL"', table(package, "InstallExecuteSequence")["StopAgents"][0])
        # The keeper: an own-process service (16) started automatically (2) as LocalSystem; started at
        # install, stopped at install and removal, deleted at removal (1 + 2 + 32 + 128).
        service = table(package, "ServiceInstall")["KeeperService"]
        self.assertEqual([KEEPER["service_name"], KEEPER["display_name"], "16", "2", "1", "", "", "LocalSystem"],
                         service[:8])
        self.assertEqual([KEEPER["service_name"], "163"], table(package, "ServiceControl")["KeeperControl"][:2])
        self.assertEqual(table(package, "File")["keyhaven.exe"][3], table(package, "File")["keyhaven_keeper.exe"][3])
        self.assertFalse({"INSTALLDIR", "NIVRA"} & set(table(package, "Directory")))

    def test_release_mode_refuses_the_test_ca_and_a_missing_time_stamp(self):
        with tempfile.TemporaryDirectory() as scratch:
            make_package.test_identity(Path(scratch))
            organisation = {"KEYHAVEN_SIGN_PKCS12": str(Path(scratch) / "test-codesign.p12")}
            for given, refusal in (({}, "the organisation's certificate"), (organisation, "a time stamp")):
                environment = {k: v for k, v in os.environ.items() if not k.startswith("KEYHAVEN_SIGN")}
                result = subprocess.run([sys.executable, str(REPO / "package" / "make_package.py"), "--release",
                                         "--exe", str(BUILD / "bin" / "keyhaven.exe"), "--out", scratch + "/out"],
                                        env=dict(environment, **given), stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
                self.assertEqual(1, result.returncode)
                self.assertIn("--release signs only with " + refusal, result.stdout.decode())
                self.assertFalse((Path(scratch) / "out").exists())

    def test_readme_signing_commands_sign_with_the_organisations_certificate(self):
        lines = [c for c in readme_commands() if not c.startswith("msiexec")]
        self.assertEqual(3, len(lines), lines)
        with tempfile.TemporaryDirectory() as scratch:
            # An "organisation" of its own: a CA, a code-signing certificate
            # and a time-stamp server.
            org = Path(scratch)
            make_package.test_identity(org)
            shutil.copy(org / "test-codesign.p12", org / "org-signing.p12")
            shutil.copy(org / "test-password.txt", org / "org-signing.pass")
            shutil.copy(org / "test-ca.crt", org / "org-root-ca.crt")
            shutil.copy(org / "test-ca.crt", org / "org-timestamp-ca.crt")
            server = TimeStampServer(org)
            (org / "org-timestamp.url").write_text(server.url)
            shutil.rmtree(REPO / "build" / "release", ignore_errors=True)
            try:
                for line in lines:
                    result = subprocess.run(["bash", "-c", line.replace("/secure/", str(org) + "/")], cwd=REPO,
                                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                    output = result.stdout.decode(errors="replace")
                    self.assertEqual(0, result.returncode, line + "\n" + output)
                self.assertIn("Timestamp Server Signature verification: ok", output)
                self.assertFalse(verify(REPO / "build" / "release" / "keyhaven.exe", TEST_CA))
            finally:
                server.shutdown()
                server.server_close()
                shutil.rmtree(REPO / "build" / "release", ignore_errors=True)


if __name__ == "__main__":
    harness.main()
