"""The bench commands for readers, cards, tokens and USB devices, as every
Windows program of the workstation then sees them (bench_carrier_view.exe
goes through the bench's winscard.dll and Wine's SetupAPI)."""
import harness
from harness import ScenarioTest

NO_READERS = "list\t0x8010002E"


class CarrierBench(ScenarioTest):
    def view(self, what):
        return self.bench("pcsc" if what == "readers" else "usb", "view", check=False).stdout.decode().splitlines()

    def test_readers_and_cards_reach_windows_programs_with_pcsc_codes(self):
        self.assertEqual([NO_READERS], self.view("readers"))
        self.bench("reader", "add", "ACS ACR38U 0")
        self.bench("reader", "add", "Считыватель 1")
        self.bench("reader", "add", "Held 2")
        self.bench("reader", "add", "Empty 3")
        self.bench("card", "insert", "ACS ACR38U 0", "--reply", "6110", "--reply", "9000")
        self.bench("card", "insert", "Считыватель 1", "--t1-only")
        self.bench("card", "insert", "Held 2", "--exclusive")
        self.assertEqual([
            "ACS ACR38U 0\t0x00000000\t1",   # T=0 chosen
            "Считыватель 1\t0x00000000\t2",  # T=1 only
            "Held 2\t0x8010000B\t0",         # sharing violation
            "Empty 3\t0x80100069\t0",        # removed card
        ], self.view("readers"))
        record = self.bench("pcsc", "record").stdout.decode().splitlines()
        self.assertEqual("open: contexts=0, cards=0, lists=0", record[-1])
        self.assertTrue(any(line.startswith("connect\tACS ACR38U 0\tshare=2\tprotocols=3\trc=0x00000000\t")
                            for line in record), record)

        self.bench("card", "remove", "ACS ACR38U 0")
        self.bench("reader", "remove", "Held 2")
        self.assertEqual(["ACS ACR38U 0\t0x80100069\t0", "Считыватель 1\t0x00000000\t2",
                          "Empty 3\t0x80100069\t0"], self.view("readers"))

    def test_state_file_keeps_its_agreed_format(self):
        self.bench("reader", "add", "Aktiv Co. Rutoken S 0")
        self.bench("reader", "add", "R 1")
        self.bench("card", "insert", "Aktiv Co. Rutoken S 0", "--reply", "61 10", "--reply", "90 00",
                   "--t1-only", "--exclusive")
        self.assertEqual(b"Aktiv Co. Rutoken S 0\tcard\tt1-only,exclusive\t6110;9000\r\nR 1\tnone\t-\t-\r\n",
                         (self.ws.bench_dir / "pcsc.txt").read_bytes())

    def test_wrong_requests_are_refused_with_a_message(self):
        self.bench("reader", "add", "R")
        for args, message in [(("card", "insert", "Absent"), "no reader 'Absent'"),
                              (("card", "insert", "R", "--reply", "9G00"), "neither hex bytes"),
                              (("card", "remove", "R"), "holds no card"),
                              (("reader", "add", "R"), "already exists"),
                              (("token", "remove", "0001"), "no token '0001'")]:
            result = self.bench(*args, check=False)
            self.assertEqual(2, result.returncode, args)
            self.assertIn(message, result.stderr.decode())

    def test_tokens_and_usb_devices_are_device_nodes(self):
        self.assertEqual([], self.view("usb"))
        self.bench("token", "insert", "0001", "--nodes", "3")
        self.bench("token", "insert", "0002", "--vid", "096E")
        self.bench("usb", "add", "M1", "--vid", "046D")
        self.assertEqual(sorted([
            "USB\\VID_0A89&PID_0030\\0001",
            "USB\\VID_0A89&PID_0030&MI_00\\0001&MI_00",
            "USB\\VID_0A89&PID_0030&MI_01\\0001&MI_01",
            "USB\\VID_096E&PID_0030\\0002",
            "USB\\VID_046D&PID_0001\\M1",
        ]), sorted(self.view("usb")))
        self.bench("token", "remove", "0001")
        self.assertEqual(sorted(["USB\\VID_096E&PID_0030\\0002", "USB\\VID_046D&PID_0001\\M1"]),
                         sorted(self.view("usb")))

    def test_reset_takes_every_carrier_away(self):
        self.bench("reader", "add", "R")
        self.bench("card", "insert", "R")
        self.bench("token", "insert", "0001", "--nodes", "2")
        self.bench("usb", "add", "M1", "--vid", "046D")
        self.bench("pcsc", "service", "stop")
        self.assertEqual(["establish\t0x8010001D"], self.view("readers"))
        self.bench("reset")
        self.assertEqual([NO_READERS], self.view("readers"))
        self.assertEqual([], self.view("usb"))
        self.assertFalse((self.ws.bench_dir / "pcsc-record.txt").exists() and
                         "connect" in (self.ws.bench_dir / "pcsc-record.txt").read_text())


if __name__ == "__main__":
    harness.main()
