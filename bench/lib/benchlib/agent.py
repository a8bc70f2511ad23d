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
import argparse
import calendar
import datetime
import re
import shutil
import subprocess
import sys
import time

from benchlib.workstation import (WINE64, WINESERVER, BenchError, CheckFailed, alive, kill_all, one_line,
                                  read_if_any, spawn_detached, wait_until, workstation_pids)

PRODUCT = "keyhaven.exe"
# The same agent linked with shortened pauses (tests' timing); never shipped.
QUICK = "keyhaven_quick.exe"
# The status program and the keeper service the package installs beside the agent.
STATUS = "keyhaven-status.exe"
KEEPER = "keyhaven-keeper.exe"

# What the faketime command puts in LD_PRELOAD (ld.so expands $LIB).
FAKETIME_LIBRARY = "/usr/$LIB/faketime/libfaketime.so.1"
# C:\bench\agent-server.txt: the wineserver was restarted for a display or
# a faked clock (the file says which).
SERVER_MARK = "agent-server.txt"
# Wine's error output for the agent started last (C:\bench).
START_ERRORS = "agent-stderr.txt"
# "agent start" looks again after this long: is the agent still running?
START_CHECK_SECONDS = 1.5


def register(sub):
    p = sub.add_parser("agent", help="run keyhaven.exe in the workstation",
                       epilog="examples:\n"
                              "  bench/workstation agent start --quick\n"
                              "  bench/workstation agent start --faketime '2027-02-28 12:00:00'\n"
                              "  bench/workstation agent run --timeout 30")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--quick", action="store_true", help="the test build with shortened pauses")
    common.add_argument("--display", action="store_true", help="keep $DISPLAY (message boxes appear)")
    common.add_argument("--faketime", metavar="WHEN",
                        help="under a clock set to WHEN (UTC, e.g. '2027-02-28 12:00:00') and running on; "
                             "restarts the prefix's wineserver under it until the next reset")
    a = s.add_parser("start", parents=[common],
                     help="start it in the background; checks %g s later that it still runs" % START_CHECK_SECONDS)
    a.set_defaults(func=start_command)
    a = s.add_parser("stop", help="end every agent of the workstation (as TerminateProcess would)")
    a.set_defaults(func=stop_command)
    a = s.add_parser("status", help="the pids of the running agents; exit status 1 when none runs")
    a.set_defaults(func=status_command)
    a = s.add_parser("run", parents=[common], help="run it in the foreground; exits with its exit code")
    a.add_argument("--timeout", type=float, default=60, metavar="SECONDS",
                   help="end it and fail after this long (default 60)")
    a.set_defaults(func=run_command)

    p = sub.add_parser("log", help="print the log file of the agent's today (its faked day after --faketime)",
                       epilog="example:\n  bench/workstation log --minimal --date 28_02_2027")
    p.add_argument("--minimal", action="store_true", help="the minimal log (Keyhaven_minimal_DATE.log)")
    p.add_argument("--raw", action="store_true", help="bytes as written (Windows-1251, CRLF)")
    p.add_argument("--date", type=log_date, help="DD_MM_YYYY instead of the agent's today")
    p.set_defaults(func=log_command)


def install(ws, registry):
    ws.agent_dir.mkdir(parents=True, exist_ok=True)
    shutil.copy2(ws.built(PRODUCT), ws.agent_dir / PRODUCT)
    for optional in (QUICK, STATUS, KEEPER):
        if (ws.bin_dir / optional).is_file():
            shutil.copy2(ws.bin_dir / optional, ws.agent_dir / optional)


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


def program(ws, quick):
    """The agent's program in the workstation; BenchError when it is not there."""
    path = ws.agent_dir / (QUICK if quick else PRODUCT)
    if not path.is_file():
        raise BenchError("no %s in the workstation (bench/workstation install copies the build in)" % path)
    return path


def start_command(ws, args):
    ws.require()
    program(ws, args.quick)
    pid = start(ws, quick=args.quick, display=args.display, faketime=args.faketime)
    wait_until(lambda: not alive(pid), START_CHECK_SECONDS)
    others = running_pids(ws)
    if pid not in others:
        said = one_line(read_if_any(ws.bench_dir / START_ERRORS))
        raise CheckFailed("the agent ended within %g s of its start%s%s"
                          % (START_CHECK_SECONDS, ": " + said if said else "",
                             " (agents running from before: %s)" % " ".join(map(str, others)) if others else ""))
    print("agent started (pid %d), running" % pid)


def stop_command(ws, args):
    ws.require()
    stop_all(ws)


def status_command(ws, args):
    ws.require()
    pids = running_pids(ws)
    print("running: %s" % " ".join(map(str, pids)) if pids else "not running")
    return 0 if pids else 1


def run_command(ws, args):
    ws.require()
    program(ws, args.quick)
    try:
        return run(ws, quick=args.quick, timeout=args.timeout, display=args.display, faketime=args.faketime)
    except subprocess.TimeoutExpired:
        stop_all(ws)
        raise CheckFailed("the agent did not end within %g s (--timeout); it was ended" % args.timeout)


def start(ws, quick=False, display=False, cwd=None, faketime=None):
    """Starts the agent and returns at once with its Unix pid. faketime:
    see faked_clock."""
    clock = _prepare_server(ws, faketime, display)
    exe = QUICK if quick else PRODUCT
    return spawn_detached([WINE64, ws.agent_dir / exe], ws.env(display, clock), cwd or ws.agent_dir,
                          errors=ws.bench_dir / START_ERRORS)


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


def _prepare_server(ws, faketime, display, event_trace=None):
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
    env = ws.env(display, dict(clock or {}, **({"WINEDEBUG": "-all,warn+eventlog"} if event_trace else {})))
    with open(event_trace or "/dev/null", "wb") as errors:
        for command in ([WINESERVER, "-p"], [WINE64, "cmd", "/c", "exit"]):
            subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=errors,
                           timeout=120)
    return clock


def restart_server(ws, faketime, event_trace=None):
    """The prefix's wineserver restarted under a faked clock (see
    faked_clock), with no agent: the first program it runs starts the
    services, and every auto-start service (the keeper) runs on that clock.
    event_trace: a file that receives what the services report to the
    event log (Wine keeps no event log; it traces ReportEventW's texts)."""
    _prepare_server(ws, faketime, False, event_trace)


def running_pids(ws):
    """Unix pids of the agents running in this workstation."""
    return sorted(workstation_pids(ws, PRODUCT) + workstation_pids(ws, QUICK))


def stop_all(ws, timeout=10):
    """Ends every agent of the workstation the way TerminateProcess would:
    its mutexes are abandoned, nothing is flushed."""
    kill_all(running_pids(ws))
    if not wait_until(lambda: not running_pids(ws), timeout):
        raise BenchError("agent did not stop: %s" % running_pids(ws))


def agent_today(ws):
    """DD_MM_YYYY of the agent's local today: the faked clock's when the
    agent was started under one ("agent start --faketime", until reset)."""
    mark = ws.bench_dir / SERVER_MARK
    now = time.time()
    faked = [line[len("faketime "):] for line in read_if_any(mark).decode().splitlines()
             if line.startswith("faketime ")]
    if faked:
        now += int(faked_clock(faked[-1], now=mark.stat().st_mtime)["FAKETIME"])
    return time.strftime("%d_%m_%Y", time.localtime(now))


def log_date(text):
    """argparse type: a DD_MM_YYYY date as the log files' names carry it."""
    if not re.fullmatch(r"\d\d_\d\d_\d{4}", text):
        raise argparse.ArgumentTypeError("a date is DD_MM_YYYY, e.g. 28_02_2027, not %r" % text)
    return text


def log_path(ws, minimal=False, date=None):
    date = date or agent_today(ws)
    name = ("Keyhaven_minimal_%s.log" if minimal else "Keyhaven_%s.log") % date
    return ws.nivra / name


def log_command(ws, args):
    ws.require()
    path = log_path(ws, args.minimal, args.date)
    if not path.is_file():
        raise BenchError("no log file %s" % path)
    data = path.read_bytes()
    if args.raw:
        sys.stdout.buffer.write(data)
    else:
        sys.stdout.write(data.decode("cp1251", errors="replace").replace("\r\n", "\n"))
