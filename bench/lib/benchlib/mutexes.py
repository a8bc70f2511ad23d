"""mutex hold|abandon|unowned|release NAME: other programs' named mutexes."""
import os
import signal
import time
from pathlib import Path

from benchlib.workstation import WINE64, BenchError, spawn_detached, wait_until

TOOL = "bench_mutex.exe"


def register(sub):
    p = sub.add_parser("mutex", help="hold a named mutex in the workstation as another program would")
    p.add_argument("action", choices=["hold", "abandon", "unowned", "release"])
    p.add_argument("name")
    p.add_argument("seconds", nargs="?", type=float, help="how long to keep it (default: until released)")
    p.set_defaults(func=command)


def reset(ws):
    for pid in holder_pids(ws):
        _kill(pid)


def command(ws, args):
    ws.require()
    if args.action == "release":
        release(ws, args.name)
    else:
        hold(ws, args.name, args.action, args.seconds)


def hold(ws, name, how="hold", seconds=None):
    """Starts a holder in the background and returns once the mutex is in
    its state: "hold" (owned), "abandon" (owned by an ended thread) or
    "unowned" (created, not owned)."""
    ws.ensure_server()
    args = [WINE64, ws.bench_dir / "bin" / TOOL, how, name]
    if seconds is not None:
        args.append("%g" % seconds)
    ready = ws.bench_dir / ("mutex-%d.out" % time.monotonic_ns())
    pid = spawn_detached(args, ws.env(), output=ready)
    try:
        if not wait_until(lambda: ready.read_bytes().strip() == b"ready", 30):
            raise BenchError("%s %s %s did not start" % (TOOL, how, name))
    finally:
        ready.unlink(missing_ok=True)
    return pid


def exists(ws, name):
    return ws.tool(TOOL, "exists", name, check=False).returncode == 0


def release(ws, name):
    """The holders of that mutex release it and end."""
    ws.tool(TOOL, "release", name, check=False)
    if not wait_until(lambda: not holder_pids(ws, name), 10):
        raise BenchError("holders of %s did not end" % name)


def kill_holders(ws, name):
    """Ends the holders of that mutex at once: one that owns it leaves it
    abandoned to whoever waits on it."""
    for pid in holder_pids(ws, name):
        _kill(pid)
    wait_until(lambda: not holder_pids(ws, name), 10)


def holder_pids(ws, name=None):
    pids = []
    wanted = ("WINEPREFIX=%s" % ws.prefix).encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            argv = (entry / "cmdline").read_bytes().split(b"\0")
            if not any(TOOL.encode() in a.lower() for a in argv):
                continue
            if name is not None and name.encode() not in argv:
                continue
            if wanted in (entry / "environ").read_bytes().split(b"\0"):
                pids.append(int(entry.name))
        except OSError:
            continue
    return pids


def _kill(pid):
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
