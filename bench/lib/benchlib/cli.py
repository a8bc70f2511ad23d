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
    "benchlib.access",
    "benchlib.pcsc",
    "benchlib.pcscd",
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
  1  a check failed: no agent runs (agent status; agent start, looking again
     1.5 s later), agent run did not end in time, pcsc show or usb show met
     a failing Windows call; agent run otherwise exits with the agent's code
  2  not done: a mistake in the command or its input, or a failure on the
     way (a program of the workstation failed); the one line on standard
     error says which
  130 interrupted (Ctrl-C)
  Every failure is one line on standard error: "bench/workstation: ...".

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
                    description="Drives a workstation: a Wine prefix with the agent, key carriers and\n"
                                "the stand-ins for what Wine cannot supply.")
    parser.add_argument("--prefix", metavar="DIR",
                        help="workstation folder (default: $KEYHAVEN_WORKSTATION or build/workstation)")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True
    for module in loaded_modules():
        module.register(sub)
    for each in parsers(parser):
        each.set_defaults(parser_prog=each.prog)  # the innermost command's wins
    return parser


def parsers(parser):
    """The parser and every parser of its commands, at any depth, once each."""
    found = [parser]
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            for child in dict.fromkeys(action.choices.values()):
                found += parsers(child)
    return found


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
        parser = build_parser()
        args, extra = parser.parse_known_args(argv)
        if extra:  # named by the command they were given to
            command = {p.prog: p for p in parsers(parser)}[args.parser_prog]
            command.error("unrecognized arguments: %s" % " ".join(extra))
        result = args.func(Workstation(args.prefix), args)
        sys.stdout.flush()
    except SystemExit:
        raise
    except BrokenPipeError:  # the reader of the output went away: nothing to say to it
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except BaseException as e:  # noqa: B902 - the user gets one line, never a traceback
        status, line = failure(e)
        print("%s: %s" % (PROG, one_line(line)), file=sys.stderr)
        return status
    return result if isinstance(result, int) else 0
