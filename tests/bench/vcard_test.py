"""The real-stack bench's own pieces that need neither Wine nor pcscd: the
virtual card speaking vpcd's protocol to a reader played by this test, and
the reader configuration the bench gives pcscd."""
import socket
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench" / "lib"))

from benchlib import pcscd, vcard  # noqa: E402

GET_ATR, POWER_ON = b"\x04", b"\x01"


class Reader:
    """vpcd's side of one card's connection: listens, accepts the card, then
    sends messages and reads answers."""

    def __init__(self):
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.server.settimeout(30)
        self.port = self.server.getsockname()[1]
        self.connection = None

    def accept(self):
        self.connection, _ = self.server.accept()
        self.connection.settimeout(30)

    def send(self, message):
        self.connection.sendall(struct.pack(">H", len(message)) + message)

    def ask(self, message):
        self.send(message)
        (length,) = struct.unpack(">H", vcard.receive(self.connection, 2))
        return vcard.receive(self.connection, length)

    def close(self):
        for s in (self.connection, self.server):
            if s:
                s.close()


class VirtualCard(unittest.TestCase):
    def start(self, *args):
        self.reader = Reader()
        self.addCleanup(self.reader.close)
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.record = Path(self.folder.name) / "card.record"
        self.card = subprocess.Popen([sys.executable, vcard.__file__, str(self.reader.port), str(self.record), *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(self.card.communicate, timeout=30)
        self.addCleanup(self.card.kill)
        self.reader.accept()

    def test_answers_the_atr_then_says_ready_and_records_every_exchange(self):
        self.start("--reply", "6110", "--reply", "0102" + "9000")
        self.reader.send(POWER_ON)  # no answer to a control but the ATR
        self.assertEqual(vcard.ATR_T0, self.reader.ask(GET_ATR))
        self.assertEqual(b"ready\n", self.card.stdout.readline())
        self.assertEqual(bytes.fromhex("6110"), self.reader.ask(bytes.fromhex("80FE060000")))
        self.assertEqual(bytes.fromhex("01029000"), self.reader.ask(bytes.fromhex("00C0000010")))
        self.reader.close()  # the reader goes away: so does the card
        self.assertEqual(0, self.card.wait(30))
        self.assertEqual("apdu=80FE060000\treply=6110\napdu=00C0000010\treply=01029000\n", self.record.read_text())

    def test_a_t1_only_card_says_so_in_its_atr(self):
        self.start("--t1-only")
        self.assertEqual(vcard.ATR_T1, self.reader.ask(GET_ATR))
        self.assertEqual(bytes.fromhex("9000"), self.reader.ask(bytes.fromhex("80FE060000")))

    def test_replies_follow_the_cards_own_chain(self):
        card = vcard.Card(["6110", "6108", "9000"])
        get_response = bytes.fromhex("00C0000010")
        probe = bytes.fromhex("80FE060000")
        self.assertEqual(["6110", "6108", "9000", "9000", "6110", "6110", "6108"],
                         [card.answer(apdu).hex().upper() for apdu in
                          (probe, get_response, get_response, get_response, probe, probe, get_response)])
        self.assertEqual(bytes.fromhex("9000"), vcard.Card([]).answer(probe))

    def test_ends_with_a_message_when_no_reader_listens(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]  # closed again: nothing listens there
        self.addCleanup(setattr, vcard, "CONNECT_SECONDS", vcard.CONNECT_SECONDS)
        vcard.CONNECT_SECONDS = 0
        with self.assertRaises(SystemExit) as ended:
            vcard.connect(port)
        self.assertIn("no reader listens on 127.0.0.1:%d" % port, str(ended.exception))


class ReaderConfiguration(unittest.TestCase):
    def test_one_entry_a_name_two_readers_an_entry_on_ports_of_their_own(self):
        text = pcscd.config_text(["Virtual PCD", "FT SCR Bench"], ["/usr/lib/d.so", "/b/d-1.so"])
        self.assertEqual('FRIENDLYNAME "Virtual PCD"\nDEVICENAME   /dev/null:0x8C7B\nLIBPATH      /usr/lib/d.so\n'
                         'CHANNELID    0x8C7B\n\nFRIENDLYNAME "FT SCR Bench"\nDEVICENAME   /dev/null:0x8C7D\n'
                         'LIBPATH      /b/d-1.so\nCHANNELID    0x8C7D\n', text)
        self.assertEqual({"Virtual PCD 00 00": 35963, "Virtual PCD 00 01": 35964,
                          "FT SCR Bench 00 00": 35965, "FT SCR Bench 00 01": 35966},
                         pcscd.reader_ports(pcscd.parse_config(text)))

    def test_debians_own_entry_is_read_as_written(self):
        debian = ('# comment\nFRIENDLYNAME "Virtual PCD"\nDEVICENAME   /dev/null:0x8C7B\n'
                  'LIBPATH      /usr/lib/pcsc/drivers/serial/libifdvpcd.so\nCHANNELID    0x8C7B\n'
                  '#DEVICENAME        /dev/ttySn[:reader]\nFRIENDLYNAME "Serial"\nDEVICENAME /dev/ttyS0\n')
        self.assertEqual([("Virtual PCD", 35963)], pcscd.parse_config(debian))

    def test_names_reader_conf_cannot_carry_are_refused(self):
        for name in ("", 'A "quoted" name', "Two\nlines", "Tab\there"):
            with self.assertRaises(pcscd.BenchError, msg=name):
                pcscd.check_names([name])
        pcscd.check_names(["FT SCR Bench", "Rutoken Magistra 2", "Считыватель Bench"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
