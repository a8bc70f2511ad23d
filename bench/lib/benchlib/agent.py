"""agent start|stop|status|run and log: keyhaven.exe in the workstation."""
import shutil
import subprocess
import sys
import time

from benchlib.workstation import WINE64, BenchError, kill_all, spawn_detached, wait_until, workstation_pids

PRODUCT = "keyhaven.exe"
# The same agent linked with shortened pauses (tests' timing); never shipped.
QUICK = "keyhaven_quick.exe"


def register(sub):
    p = sub.add_parser("agent", help="run keyhaven.exe in the workstation")
    p.add_argument("action", choices=["start", "stop", "status", "run"])
    p.add_argument("--quick", action="store_true", help="the test build with shortened pauses")
    p.add_argument("--timeout", type=float, default=60, help="run: seconds to wait for the exit")
    p.add_argument("--display", action="store_true", help="keep $DISPLAY (message boxes appear)")
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
    shutil.rmtree(ws.nivra, ignore_errors=True)
    if ws.nivra.exists():
        ws.nivra.unlink()
    for stray in ws.agent_dir.glob("Keyhaven*.log"):
        stray.unlink()


def command(ws, args):
    ws.require()
    if args.action == "start":
        pid = start(ws, quick=args.quick, display=args.display)
        print("agent started (pid %d)" % pid)
    elif args.action == "stop":
        stop_all(ws)
    elif args.action == "status":
        pids = running_pids(ws)
        print("running: %s" % " ".join(map(str, pids)) if pids else "not running")
        return 0 if pids else 1
    elif args.action == "run":
        return run(ws, quick=args.quick, timeout=args.timeout, display=args.display)


def start(ws, quick=False, display=False, cwd=None):
    """Starts the agent and returns at once with its Unix pid."""
    ws.ensure_server()
    exe = QUICK if quick else PRODUCT
    return spawn_detached([WINE64, ws.agent_dir / exe], ws.env(display), cwd or ws.agent_dir)


def run(ws, quick=False, timeout=60, display=False, cwd=None):
    """Runs the agent in the foreground and returns its exit code."""
    ws.ensure_server()
    exe = QUICK if quick else PRODUCT
    result = subprocess.run([WINE64, str(ws.agent_dir / exe)], cwd=str(cwd or ws.agent_dir), env=ws.env(display),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            timeout=timeout)
    return result.returncode


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
