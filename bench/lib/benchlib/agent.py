"""agent start|stop|status|run and log: keyhaven.exe in the workstation.

"agent start --display" keeps $DISPLAY, so its message boxes appear there.
Wine's desktop process (explorer.exe) takes the display of the program that
first needs it, and bench commands run without one: the prefix's wineserver
is restarted (every program of the prefix ends) so that the agent is that
program. "agent start --faketime WHEN" runs the agent under a faked clock
(Debian's libfaketime, set up as the faketime command does); the wineserver
is restarted under the same clock. "reset" stops such a server, and the next
command starts an ordinary one.
"""
import calendar
import datetime
import shutil
import subprocess
import sys
import time

from benchlib.workstation import (WINE64, WINESERVER, BenchError, kill_all, spawn_detached, wait_until,
                                  workstation_pids)

PRODUCT = "keyhaven.exe"
# The same agent linked with shortened pauses (tests' timing); never shipped.
QUICK = "keyhaven_quick.exe"

# What the faketime command puts in LD_PRELOAD (ld.so expands $LIB).
FAKETIME_LIBRARY = "/usr/$LIB/faketime/libfaketime.so.1"
# C:\bench\agent-server.txt: the wineserver was restarted for a display or
# a faked clock (the file says which).
SERVER_MARK = "agent-server.txt"


def register(sub):
    p = sub.add_parser("agent", help="run keyhaven.exe in the workstation")
    p.add_argument("action", choices=["start", "stop", "status", "run"])
    p.add_argument("--quick", action="store_true", help="the test build with shortened pauses")
    p.add_argument("--timeout", type=float, default=60, help="run: seconds to wait for the exit")
    p.add_argument("--display", action="store_true", help="keep $DISPLAY (message boxes appear)")
    p.add_argument("--faketime", metavar="WHEN",
                   help="start/run under a clock set to WHEN (UTC, e.g. '2027-02-28 12:00:00') and running on; "
                        "restarts the prefix's wineserver under it until the next reset")
    p.set_defaults(func=command)

    p = sub.add_parser("log", help="print today's log file")
    p.add_argument("--minimal", action="store_true")
    p.add_argument("--raw", action="store_true", help="bytes as written (Windows-1251, CRLF)")
    p.add_argument("--date", help="DD_MM_YYYY instead of today")
    p.set_defaults(func=log_command)


def install(ws, registry):
    ws.agent_dir.mkdir(parents=True, exist_ok=True)
    shutil.copy2(ws.built(PRODUCT), ws.agent_dir / PRODUCT)
    quick = ws.bin_dir / QUICK
    if quick.is_file():
        shutil.copy2(quick, ws.agent_dir / QUICK)


def reset(ws):
    stop_all(ws)
    if (ws.bench_dir / SERVER_MARK).is_file():
        _stop_server(ws)
        (ws.bench_dir / SERVER_MARK).unlink()
        ws.ensure_server()  # one cold start here rather than one per command to come
    shutil.rmtree(ws.nivra, ignore_errors=True)
    if ws.nivra.exists():
        ws.nivra.unlink()
    for stray in ws.agent_dir.glob("Keyhaven*.log"):
        stray.unlink()


def command(ws, args):
    ws.require()
    if args.action == "start":
        pid = start(ws, quick=args.quick, display=args.display, faketime=args.faketime)
        print("agent started (pid %d)" % pid)
    elif args.action == "stop":
        stop_all(ws)
    elif args.action == "status":
        pids = running_pids(ws)
        print("running: %s" % " ".join(map(str, pids)) if pids else "not running")
        return 0 if pids else 1
    elif args.action == "run":
        return run(ws, quick=args.quick, timeout=args.timeout, display=args.display, faketime=args.faketime)


def start(ws, quick=False, display=False, cwd=None, faketime=None):
    """Starts the agent and returns at once with its Unix pid. faketime:
    see faked_clock."""
    clock = _prepare_server(ws, faketime, display)
    exe = QUICK if quick else PRODUCT
    return spawn_detached([WINE64, ws.agent_dir / exe], ws.env(display, clock), cwd or ws.agent_dir)


def run(ws, quick=False, timeout=60, display=False, cwd=None, faketime=None):
    """Runs the agent in the foreground and returns its exit code."""
    clock = _prepare_server(ws, faketime, display)
    exe = QUICK if quick else PRODUCT
    result = subprocess.run([WINE64, str(ws.agent_dir / exe)], cwd=str(cwd or ws.agent_dir),
                            env=ws.env(display, clock), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=timeout)
    return result.returncode


# --- faked clock --------------------------------------------------------------
def faked_clock(when, now=None):
    """The environment that makes a program's clock read when (a UTC
    "YYYY-MM-DD HH:MM[:SS]" text) now and run on from there. The offset is
    fixed here, so every process given it shares one clock, as the faketime
    command's own children do."""
    try:
        target = datetime.datetime.fromisoformat(when.strip())
    except ValueError:
        raise BenchError("WHEN must be a UTC date and time such as '2027-02-28 12:00:00', not %r" % when)
    if target.tzinfo is not None:
        target = target.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    offset = calendar.timegm(target.timetuple()) - int(now if now is not None else time.time())
    return {"LD_PRELOAD": FAKETIME_LIBRARY, "FAKETIME": "%+d" % offset}


def _stop_server(ws):
    kill_all(running_pids(ws))
    ws.stop_server()
    subprocess.run([WINESERVER, "-w"], env=ws.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def _prepare_server(ws, faketime, display):
    """A persistent wineserver for the agent. For a display or a faked clock
    the running server is stopped first, with every program of the prefix,
    and a new one started with the agent's environment (unless it was
    started for the same display already); returns the environment additions
    for the agent."""
    clock = faked_clock(faketime) if faketime else None
    mark = ws.bench_dir / SERVER_MARK
    wanted = "".join(line + "\n" for line in (["display " + ws.env(True).get("DISPLAY", "")] if display else []) +
                     (["faketime " + faketime] if faketime else []))
    if not wanted or (not faketime and mark.is_file() and mark.read_text() == wanted):
        ws.ensure_server()
        return clock
    _stop_server(ws)
    ws.bench_dir.mkdir(parents=True, exist_ok=True)
    mark.write_text(wanted)
    env = ws.env(display, clock)
    for command in ([WINESERVER, "-p"], [WINE64, "cmd", "/c", "exit"]):
        subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)
    return clock


def running_pids(ws):
    """Unix pids of the agents running in this workstation."""
    return sorted(workstation_pids(ws, PRODUCT) + workstation_pids(ws, QUICK))


def stop_all(ws, timeout=10):
    """Ends every agent of the workstation the way TerminateProcess would:
    its mutexes are abandoned, nothing is flushed."""
    kill_all(running_pids(ws))
    if not wait_until(lambda: not running_pids(ws), timeout):
        raise BenchError("agent did not stop: %s" % running_pids(ws))


def log_path(ws, minimal=False, date=None):
    date = date or time.strftime("%d_%m_%Y")
    name = ("Keyhaven_minimal_%s.log" if minimal else "Keyhaven_%s.log") % date
    return ws.nivra / name


def log_command(ws, args):
    path = log_path(ws, args.minimal, args.date)
    if not path.is_file():
        raise BenchError("no log file %s" % path)
    data = path.read_bytes()
    if args.raw:
        sys.stdout.buffer.write(data)
    else:
        sys.stdout.write(data.decode("cp1251", errors="replace").replace("\r\n", "\n"))
