"""file hold PATH [SECONDS] | file release PATH: another program keeps a file
of the workstation open without sharing (as root under Wine, read-only
attributes and permissions block nothing; a sharing violation does)."""
from benchlib.workstation import BenchError, kill_all, wait_until, workstation_pids

TOOL = "bench_hold_file.exe"


def register(sub):
    p = sub.add_parser("file", help="hold a file open without sharing, as another program would",
                       epilog="example:\n  bench/workstation file hold 'C:\\nivra\\Keyhaven.ini' 10")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    h = s.add_parser("hold", help="open it (created if need be) and keep it (until released, or for SECONDS)")
    h.add_argument("path", help="Windows path, e.g. C:\\nivra\\Keyhaven.ini")
    h.add_argument("seconds", nargs="?", type=float, help="how long to keep it (default: until released)")
    h.set_defaults(func=command)
    r = s.add_parser("release", help="its holder closes it and ends")
    r.add_argument("path", help="the Windows path given to hold")
    r.set_defaults(func=command)


def reset(ws):
    kill_all(holder_pids(ws))
    wait_until(lambda: not holder_pids(ws), 10)


def command(ws, args):
    ws.require()
    if args.action == "hold":
        hold(ws, args.path, args.seconds)
    else:
        release(ws, args.path)


def hold(ws, windows_path, seconds=None):
    args = [windows_path] + ([] if seconds is None else ["%g" % seconds])
    return ws.start_tool(TOOL, *args)


def release(ws, windows_path):
    kill_all(holder_pids(ws, windows_path))
    wait_until(lambda: not holder_pids(ws, windows_path), 10)


def holder_pids(ws, windows_path=None):
    return workstation_pids(ws, TOOL, windows_path)