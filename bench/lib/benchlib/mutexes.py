"""mutex hold|abandon|unowned|release NAME: other programs' named mutexes."""
from benchlib.workstation import BenchError, kill_all, wait_until, workstation_pids

TOOL = "bench_mutex.exe"


def register(sub):
    p = sub.add_parser("mutex", help="hold a named mutex in the workstation as another program would",
                       epilog="examples:\n  bench/workstation mutex abandon keyhaven_mutex\n"
                              "  bench/workstation mutex hold keyhaven_mutex 5\n"
                              "  bench/workstation mutex release keyhaven_mutex")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    for how, text in (("hold", "create it owned"), ("abandon", "create it owned by a thread that ends"),
                      ("unowned", "create it without owning it")):
        h = s.add_parser(how, help="%s and keep it (until released, or for SECONDS)" % text)
        h.add_argument("name", help="the mutex's name")
        h.add_argument("seconds", nargs="?", type=float, help="how long to keep it (default: until released)")
        h.set_defaults(func=command)
    r = s.add_parser("release", help="its holders release it and end")
    r.add_argument("name", help="the mutex's name")
    r.set_defaults(func=command)


def reset(ws):
    kill_all(holder_pids(ws))


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
    args = [how, name] + ([] if seconds is None else ["%g" % seconds])
    return ws.start_tool(TOOL, *args)


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
    kill_all(holder_pids(ws, name))
    wait_until(lambda: not holder_pids(ws, name), 10)


def holder_pids(ws, name=None):
    return workstation_pids(ws, TOOL, name)
