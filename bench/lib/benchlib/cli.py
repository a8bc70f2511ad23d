"""Command line of bench/workstation. Each area module adds its commands.

Every mistake ends in one line on standard error, "bench/workstation: ...",
and a non-zero exit status: argparse's own complaints (Parser.error), the
bench's BenchError, and whatever else a command meets on its way (a file
that cannot be read, a program that does not end in time).
"""
import argparse
import importlib
import os
import re
import subprocess
import sys

from benchlib.workstation import BenchError, Workstation, one_line

PROG = "bench/workstation"

# Area modules, each with register(subparsers); a module may also offer
# install(ws) (run by "create") and reset(ws) (run by "reset").
AREA_MODULES = [
    "benchlib.core",
    "benchlib.agent",
    "benchlib.settings",
    "benchlib.mutexes",
    "benchlib.files",
    "benchlib.pcsc",
    "benchlib.tokens",
    "benchlib.provider",
    "benchlib.certs",
    "benchlib.store",
    "benchlib.kestrel",
    "benchlib.desktop",
    "benchlib.boxes",
    "benchlib.perf",
]

EPILOG = """\
exit status:
  0  done
  1  a check failed: the agent is not running (agent status, agent start),
     agent run did not end in time; agent run itself exits with the agent's code
  2  the command was not done: a mistake in the command or its input, or a
     failure on the way; the one line on standard error says which

examples:
  bench/workstation --prefix build/ws create
  bench/workstation token add 0001 && bench/workstation container add ivanov --on token:0001 --cert a.der
  bench/workstation agent start --quick && bench/workstation log --minimal
  bench/workstation container add --help
"""


class Parser(argparse.ArgumentParser):
    """argparse with descriptions kept as written and every complaint in one
    line on standard error (exit status 2)."""

    def __init__(self, *args, **kwargs):
        kwargs.setdefault("formatter_class", argparse.RawDescriptionHelpFormatter)
        super().__init__(*args, **kwargs)

    def error(self, message):
        command = self.prog[len(PROG):].strip()
        self.exit(2, "%s: %s%s (see: %s --help)\n" % (PROG, command + ": " if command else "", one_line(message),
                                                       self.prog))


def loaded_modules():
    modules = []
    for name in AREA_MODULES:
        try:
            modules.append(importlib.import_module(name))
        except ModuleNotFoundError as e:
            if e.name != name:
                raise
    return modules


def build_parser():
    parser = Parser(prog=PROG, epilog=EPILOG,
                    description="Drives a workstation: a Wine prefix with the agent, key carriers and the stand-ins.")
    parser.add_argument("--prefix", metavar="DIR",
                        help="workstation folder (default: $KEYHAVEN_WORKSTATION or build/workstation)")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True
    for module in loaded_modules():
        module.register(sub)
    return parser


def failure(e):
    """(exit status, one line) for what a command raised."""
    if isinstance(e, BenchError):
        return e.status, str(e)
    if isinstance(e, subprocess.TimeoutExpired):
        words = [str(w) for w in e.cmd] if isinstance(e.cmd, (list, tuple)) else [str(e.cmd)]
        if len(words) > 1 and os.path.basename(words[0]).startswith("wine"):
            words = words[1:]
        program = " ".join([re.split(r"[\\/]", words[0])[-1]] + words[1:])
        return 2, "%s did not end within %g s" % (program, e.timeout)
    if isinstance(e, subprocess.CalledProcessError):
        return 2, "%s failed (exit code %d): %s" % (" ".join(map(str, e.cmd)), e.returncode,
                                                    one_line(e.stderr or "") or "nothing said")
    if isinstance(e, OSError) and e.filename is not None:
        return 2, "%s: %s" % (e.filename, e.strerror or e)
    if isinstance(e, (OSError, ValueError)):  # UnicodeError is a ValueError
        return 2, str(e)
    if isinstance(e, KeyboardInterrupt):
        return 130, "interrupted"
    return 2, "unexpected %s: %s (a fault of the bench)" % (type(e).__name__, e)


def main(argv):
    try:
        args = build_parser().parse_args(argv)
        result = args.func(Workstation(args.prefix), args)
    except SystemExit:
        raise
    except BaseException as e:  # noqa: B902 - the user gets one line, never a traceback
        status, line = failure(e)
        print("%s: %s" % (PROG, one_line(line)), file=sys.stderr)
        return status
    return result if isinstance(result, int) else 0
