"""Mistakes made with bench/workstation: each gets one line on standard error
naming it and a non-zero exit status, never a traceback; --help of every
command lists its commands and options, each with a description."""
import argparse
import re
import shutil
import tempfile
from pathlib import Path

import harness
from harness import ScenarioTest
from benchlib import agent, cli

MISSING = "/nonexistent/keyhaven-bench"

MISTAKES = [
    (["provider", "fail-walk", "two", "X"], "N is a call number"),
    (["container", "add", "x", "--on", "registry", "--cert", MISSING + ".der"], "no file " + MISSING),
    (["store", "add", MISSING + ".der"], "no file " + MISSING),
    (["cert", "show", MISSING + ".der"], "no file " + MISSING),
    (["container", "add", "名前", "--on", "registry"], "not in code page 1251"),
    (["agent", "run", "--quick", "--timeout", "1"], "did not end within 1 s"),
    (["agent", "start", "--timeout", "5"], "agent start: unrecognized arguments: --timeout"),
    (["mutex", "release", "m", "5"], "unrecognized arguments: 5"),
    (["prefs", "remove", "--text", "x"], "unrecognized arguments: --text"),
    (["settings", "write", "clean_storage:0"], "KEY=VALUE"),
    (["settings", "write", "foo=1"], "no setting 'foo'"),
    (["settings", "write", "clean_storage=yes"], "takes an integer"),
    (["create"], "--force"),
    (["file", "hold", "C:\\no\\such\\folder\\x"], "cannot open"),  # the tool's own error output
    (["store", "remove", "77"], "no certificate with serial 77"),
    (["log", "--date", "2027-02-28"], "DD_MM_YYYY"),
    (["token", "add"], "required: id"),
    (["nonsense"], "invalid choice"),
] + [(["--prefix", MISSING] + command.split(), "no workstation at " + MISSING)
     for command in ("reader list", "usb list", "container list", "provider record", "pcsc record", "store list",
                     "plugin record", "agent status", "settings remove", "log")]


class BenchMistakes(ScenarioTest):
    def assertMistake(self, args, fragment):
        result = self.bench(*args, check=False)
        lines = result.stderr.decode(errors="replace").splitlines()
        self.assertNotEqual(0, result.returncode)
        self.assertEqual(1, len(lines), lines)
        self.assertTrue(lines[0].startswith("bench/workstation: "), lines[0])
        self.assertIn(fragment, lines[0])
        self.assertNotIn(b"Traceback", result.stdout + result.stderr)

    def test_every_mistake_gets_one_line(self):
        for args, fragment in MISTAKES:
            with self.subTest(args=args):
                self.assertMistake(args, fragment)
        self.assertEqual([], agent.running_pids(self.ws))

    def test_agent_start_fails_when_no_agent_runs(self):
        product = self.ws.agent_dir / agent.PRODUCT
        backup = Path(tempfile.mkdtemp()) / agent.PRODUCT
        shutil.copy2(product, backup)
        self.addCleanup(shutil.rmtree, backup.parent)
        self.addCleanup(shutil.copy2, backup, product)
        shutil.copy2(self.ws.bench_dir / "bin" / "bench_mutex.exe", product)  # ends at once, saying how to use it
        self.assertMistake(["agent", "start"], "ended within 1.5 s of its start: usage: bench_mutex")
        product.unlink()
        self.assertMistake(["agent", "start"], "no %s" % product)

    def test_log_follows_the_faked_clock(self):
        started = self.bench("agent", "start", "--quick", "--faketime", "2031-03-15 12:00:00")
        self.assertIn(b"running", started.stdout)
        path = agent.log_path(self.ws, True, "15_03_2031")
        self.assertEqual(path, agent.log_path(self.ws, True))
        self.wait_for_entry("start polling", minimal=True)
        self.assertIn("start polling", self.bench("log", "--minimal").stdout.decode(errors="replace"))

    def test_help_lists_every_command_and_option_with_a_description(self):
        for parser in cli.parsers(cli.build_parser()):
            text = parser.format_help()
            for action in parser._actions:
                with self.subTest(command=parser.prog, action=action.dest):
                    if isinstance(action, argparse._SubParsersAction):  # each listed with its aliases
                        listed = [choice.metavar or choice.dest for choice in action._choices_actions]
                        self.assertEqual(set(action.choices), set(re.findall(r"[\w-]+", " ".join(listed))))
                        for choice in action._choices_actions:
                            self.assertIn("\n    %s" % (choice.metavar or choice.dest), text)
                            self.assertTrue(choice.help)
                    else:
                        self.assertTrue(action.help)
                        for option in action.option_strings:
                            self.assertIn(option, text)
        self.assertIn(b"exit status", self.bench("--help").stdout)


if __name__ == "__main__":
    harness.main()
