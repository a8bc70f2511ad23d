"""The benchmark's workstations and programs on the test workstation: the
reference layout is what bench/perf's figures claim it is, and the
benchmark's quiet turns and steady state run there and report sound
figures (no timing is judged here)."""
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "scenarios"))

from harness import ScenarioTest, main  # noqa: E402

from benchlib import perf, store  # noqa: E402


def samples(output):
    found = {}
    for line in output.decode("utf-8", errors="replace").splitlines():
        fields = line.rstrip("\r").split("\t")
        if fields[0] == "sample":
            found.setdefault(fields[1], []).append(float(fields[2]))
    return found


class ReferenceLayout(ScenarioTest):
    def tearDown(self):
        super().tearDown()
        # The layouts are big; in-process tests after this one expect a bare workstation.
        self.bench("reset")

    def run_perf(self, *args):
        result = self.ws.tool("bench_perf.exe", *args, check=False, timeout=600)
        self.assertEqual(0, result.returncode, result.stdout.decode(errors="replace"))
        return samples(result.stdout)

    def test_reference_holds_what_the_figures_say_and_reset_forgets_it(self):
        perf.lay_out(self.ws)
        self.assertEqual("reference %d" % perf.LAYOUT_VERSION, perf.layout_of(self.ws))

        ids = self.bench("usb", "view").stdout.decode().split()
        self.assertEqual(200, len([i for i in ids if re.search(r"\\PERF\d{3}$", i)]))
        tokens = [i for i in ids if "PERFTOKEN" in i]
        self.assertEqual(6, len(tokens))
        for vendor in ("VID_0A89", "VID_0529", "VID_096E"):
            self.assertEqual(2, len([i for i in tokens if vendor in i]), vendor)

        readers = [line.split("\t") for line in self.bench("pcsc", "view").stdout.decode().splitlines()]
        self.assertEqual(["Perf Reader 0", "Perf Reader 1", "Perf Reader 2", "Perf Reader 3"],
                         [r[0] for r in readers])
        self.assertEqual(["0x00000000"] * 3 + ["0x80100069"], [r[1] for r in readers])

        containers = self.bench("provider", "show").stdout.decode().splitlines()
        self.assertEqual(10, len(containers))
        self.assertTrue(all("cert=3" in c for c in containers), containers)
        self.assertEqual(100, store.count(self.ws))
        self.assertIn(b"clean_storage = 0", (self.ws.nivra / "Keyhaven.ini").read_bytes())

        self.bench("reset")
        self.assertIsNone(perf.layout_of(self.ws))

    def test_quiet_turns_stay_quiet_and_steady_turns_keep_nothing(self):
        perf.lay_out(self.ws, small=True)
        quiet = self.run_perf("quiet", "blocks=1", "rounds=2", "turns=2")
        self.assertEqual([1], quiet["workstation.cards"])
        self.assertEqual([2], quiet["workstation.tokens"])
        for name in ("quiet.turn.cpu_ms", "floor.turn.cpu_ms", "quiet.part.tokens.cpu_ms"):
            self.assertGreater(quiet[name][0], 0, name)

        certificates = store.count(self.ws)
        steady = self.run_perf("steady", "turns=200", "every=10")
        self.assertEqual(steady["steady.100.handles"], steady["steady.200.handles"])
        self.assertEqual(steady["steady.100.threads"], steady["steady.200.threads"])
        self.assertEqual([0], steady["steady.200.standin_open"])
        self.assertEqual([10], steady["steady.warnings"])  # one box per insertion
        self.assertEqual(certificates, store.count(self.ws))  # the expiring one went with the run


if __name__ == "__main__":
    main()
