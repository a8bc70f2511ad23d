"""The bench commands of the stand-in provider and of the test certificates,
checked through what Windows programs on the workstation see: crypt32's
reading of the certificates (bench_cert.exe) and the provider's containers
as CryptoAPI lists them (bench_provider.exe)."""
import datetime
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "scenarios"))

import harness  # noqa: E402
from harness import ScenarioTest  # noqa: E402
from benchlib import certs, provider  # noqa: E402


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)


def parse(stamp):
    return datetime.datetime.strptime(stamp, "%Y-%m-%dT%H:%M:%SZ")


class CertMake(ScenarioTest):
    def setUp(self):
        super().setUp()
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def make(self, *args):
        path = Path(self.folder.name) / ("c%d.der" % len(list(Path(self.folder.name).iterdir())))
        self.bench("cert", "make", "-o", path, *args)
        return path

    def test_crypt32_reads_every_field_as_given(self):
        path = self.make("--cn", "Петров Пётр", "--serial", "0A1B2C", "--issuer", "Тестовый УЦ",
                         "--not-before", "2024-02-29T23:59:58", "--not-after", "2051-01-02 03:04:05")
        self.assertEqual({
            "version": "3",
            "serial": "0A1B2C",
            "subject_cn": "Петров Пётр",
            "issuer_cn": "Тестовый УЦ",
            "not_before": "2024-02-29T23:59:58Z",
            "not_after": "2051-01-02T03:04:05Z",
        }, certs.show(self.ws, path))

    def test_defaults_relative_dates_and_random_serials(self):
        before = utc_now()
        first = certs.show(self.ws, self.make("--cn", "A"))
        second = certs.show(self.ws, self.make("--cn", "A", "--not-before=-2h", "--not-after", "+30d"))
        after = utc_now()
        self.assertEqual(certs.DEFAULT_ISSUER, first["issuer_cn"])
        self.assertRegex(first["serial"], "^[0-7][0-9A-F]{15}$")
        self.assertNotEqual(first["serial"], second["serial"])
        slack = datetime.timedelta(seconds=2)
        for field, delta in (("not_before", datetime.timedelta(days=-1)), ("not_after", datetime.timedelta(days=365))):
            self.assertTrue(before + delta - slack <= parse(first[field]) <= after + delta + slack, first)
        self.assertTrue(before - datetime.timedelta(hours=2) - slack <= parse(second["not_before"]))
        self.assertTrue(parse(second["not_after"]) <= after + datetime.timedelta(days=30) + slack)

    def test_subject_without_common_name(self):
        fields = certs.show(self.ws, self.make("--no-cn", "--serial", "FF"))
        self.assertEqual("", fields["subject_cn"])
        self.assertEqual("00FF", fields["serial"])

    def test_bad_arguments_are_refused(self):
        for args in (["--cn", "A", "--serial", "XYZ"], ["--cn", "A", "--not-after", "tomorrow"]):
            result = self.bench("cert", "make", "-o", Path(self.folder.name) / "bad.der", *args, check=False)
            self.assertEqual(2, result.returncode, args)
            self.assertIn(b"bench/workstation:", result.stderr)


class Containers(ScenarioTest):
    def test_containers_follow_their_carriers_as_cryptoapi_sees_them(self):
        with tempfile.TemporaryDirectory() as folder:
            der = Path(folder) / "a.der"
            size = len(certs.make(der, cn="Иванов"))
            self.bench("container", "add", "Иванов 1", "--on", "token:0001", "--cert", der, "--key-spec", "both")
        self.bench("container", "add", "on card", "--on", "card:Bench Reader 0", "--key-spec", "2")
        self.bench("container", "add", "kept", "--on", "registry")
        self.assertEqual([{"name": "\\\\.\\REGISTRY\\kept", "keys": "1", "cert": "0", "reader": "-"}],
                         provider.show(self.ws))

        self.bench("token", "insert", "0001")
        self.bench("reader", "add", "Bench Reader 0")
        self.bench("card", "insert", "Bench Reader 0")
        shown = provider.show(self.ws)
        self.assertEqual(["\\\\.\\Token 0001\\Иванов 1", "\\\\.\\Bench Reader 0\\on card", "\\\\.\\REGISTRY\\kept"],
                         [entry["name"] for entry in shown])
        self.assertEqual("1,2", shown[0]["keys"])
        self.assertEqual(str(size), shown[0]["cert"])
        self.assertEqual(("2", "Bench Reader 0"), (shown[1]["keys"], shown[1]["reader"]))

        self.bench("card", "remove", "Bench Reader 0")
        self.bench("container", "remove", "kept")
        self.assertEqual(["\\\\.\\Token 0001\\Иванов 1"], [entry["name"] for entry in provider.show(self.ws)])
        self.bench("provider", "busy", "on")
        self.assertEqual([], provider.show(self.ws))
        self.assertEqual({"contexts": 0, "keys": 0}, {k: provider.counters(self.ws).get(k, 0)
                                                      for k in ("contexts", "keys")})
        listed = self.bench("container", "list").stdout.decode()
        self.assertIn("Иванов 1\ttoken:0001\tkeys=both", listed)

    def test_bad_container_arguments_are_refused(self):
        for args in (["x", "--on", "usb:1"], ["a\\b", "--on", "registry"], ["x", "--on", "card:"]):
            result = self.bench("container", "add", *args, check=False)
            self.assertEqual(2, result.returncode, args)
        self.assertEqual(2, self.bench("container", "remove", "nothing", check=False).returncode)

    def test_switches_reach_the_provider_and_reset_clears_them(self):
        self.bench("container", "add", "a", "--on", "registry")
        self.bench("container", "add", "b", "--on", "registry")
        self.bench("provider", "fail-walk", "2", "NTE_FAIL", "--times", "1")
        result = self.ws.tool("bench_provider.exe", "list", check=False)
        self.assertEqual(0, result.returncode)  # the tool stops at the failing call
        self.assertEqual(["\\\\.\\REGISTRY\\a"], [line.split("\t")[0] for line in
                                                  result.stdout.decode().splitlines()])
        self.assertEqual(2, len(provider.show(self.ws)))
        self.bench("provider", "fail", "acquire", "0x80090020")
        with self.assertRaisesRegex(Exception, "0x80090020"):
            provider.show(self.ws)
        self.bench("provider", "fail", "acquire", "off")
        self.bench("provider", "vanish", "after-walk")
        self.assertEqual(2, len(provider.show(self.ws)))
        self.assertEqual([], provider.show(self.ws))
        self.bench("reset")
        self.assertEqual([], provider.containers(self.ws))
        self.assertEqual({}, provider.switches(self.ws))


if __name__ == "__main__":
    harness.main()
