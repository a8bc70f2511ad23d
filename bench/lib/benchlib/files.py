"""file hold PATH [SECONDS] | file release PATH: another program keeps a file
of the workstation open without sharing (as root under Wine, read-only
attributes and permissions block nothing; a sharing violation does).
file hold-turn PATH [SECONDS]: a reader of a log keeps its lock byte locked.
file link EXISTING NEW: a hard link, as a user who may create files in a
folder can make one. file other-user PATH: the file becomes another user's
(under Wine a file's security follows its Unix owner and mode: another Unix
owner reads as owner Anonymous)."""
import os
from pathlib import PureWindowsPath

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
    t = s.add_parser("hold-turn", help="open an existing log shared, as a reader, and lock its lock byte "
                     "(until released, or for SECONDS)")
    t.add_argument("path", help="Windows path of the log, e.g. C:\\nivra\\Keyhaven_10_12_2026.log")
    t.add_argument("seconds", nargs="?", type=float, help="how long to keep it (default: until released)")
    t.set_defaults(func=command)
    k = s.add_parser("link", help="make NEW a second name (a hard link) of the file EXISTING")
    k.add_argument("existing", help="Windows path of the file linked to")
    k.add_argument("new", help="Windows path of the new name")
    k.set_defaults(func=command)
    o = s.add_parser("other-user", help="give the file (or folder) to another Unix user, uid 4321")
    o.add_argument("path", help="Windows path")
    o.set_defaults(func=command)


def reset(ws):
    kill_all(holder_pids(ws))
    wait_until(lambda: not holder_pids(ws), 10)


def command(ws, args):
    ws.require()
    if args.action == "hold":
        hold(ws, args.path, args.seconds)
    elif args.action == "hold-turn":
        hold_turn(ws, args.path, args.seconds)
    elif args.action == "link":
        os.link(unix_path(ws, args.existing), unix_path(ws, args.new))
    elif args.action == "other-user":
        give_to_other_user(unix_path(ws, args.path))
    else:
        release(ws, args.path)


OTHER_UID = 4321


def unix_path(ws, windows_path):
    """The file below drive_c that C:\\... names (the case as written)."""
    parts = PureWindowsPath(windows_path).parts
    if not parts or parts[0].upper() != "C:\\":
        raise BenchError("not a path on drive C: %s" % windows_path)
    return ws.drive_c.joinpath(*parts[1:])


def give_to_other_user(path):
    os.chown(path, OTHER_UID, OTHER_UID)


def hold(ws, windows_path, seconds=None):
    args = [windows_path] + ([] if seconds is None else ["%g" % seconds])
    return ws.start_tool(TOOL, *args)


def hold_turn(ws, windows_path, seconds=None):
    args = ["--turn", windows_path] + ([] if seconds is None else ["%g" % seconds])
    return ws.start_tool(TOOL, *args)


def release(ws, windows_path):
    kill_all(holder_pids(ws, windows_path))
    wait_until(lambda: not holder_pids(ws, windows_path), 10)


def holder_pids(ws, windows_path=None):
    return workstation_pids(ws, TOOL, windows_path)