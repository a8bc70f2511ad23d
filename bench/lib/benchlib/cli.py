"""Command line of bench/workstation. Each area module adds its commands."""
import argparse
import importlib
import sys

from benchlib.workstation import Workstation, BenchError

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


def loaded_modules():
    modules = []
    for name in AREA_MODULES:
        try:
            modules.append(importlib.import_module(name))
        except ModuleNotFoundError as e:
            if e.name != name:
                raise
    return modules


def main(argv):
    parser = argparse.ArgumentParser(prog="bench/workstation", description="Drives a workstation: a Wine prefix with the agent, key carriers and the stand-ins.")
    parser.add_argument("--prefix", help="workstation folder (default: $KEYHAVEN_WORKSTATION or build/workstation)")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True
    for module in loaded_modules():
        module.register(sub)
    args = parser.parse_args(argv)
    ws = Workstation(args.prefix)
    try:
        result = args.func(ws, args)
    except BenchError as e:
        print("bench/workstation: %s" % e, file=sys.stderr)
        return 2
    return result if isinstance(result, int) else 0
