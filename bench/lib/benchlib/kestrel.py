"""kestrel hold [SECONDS] | abandon | release: libKestrel, the maker's other
user of the provider, as far as the agent can see it: a program holding the
session's mutex "nivra_crypto_pro_mutex"."""
from benchlib import mutexes

MUTEX = "nivra_crypto_pro_mutex"


def register(sub):
    p = sub.add_parser("kestrel", help="libKestrel holding the provider mutex " + MUTEX,
                       epilog="example:\n  bench/workstation kestrel hold 60")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    h = s.add_parser("hold", help="create and own it (until released, or for SECONDS)")
    h.add_argument("seconds", nargs="?", type=float, help="how long to keep it (default: until released)")
    h.set_defaults(func=command)
    a = s.add_parser("abandon", help="the holder ends without releasing it")
    a.set_defaults(func=command)
    r = s.add_parser("release", help="the holder releases it and ends")
    r.set_defaults(func=command)


def command(ws, args):
    ws.require()
    if args.action == "hold":
        hold(ws, args.seconds)
    elif args.action == "abandon":
        abandon(ws)
    else:
        release(ws)


def hold(ws, seconds=None):
    return mutexes.hold(ws, MUTEX, "hold", seconds)


def abandon(ws):
    mutexes.kill_holders(ws, MUTEX)


def release(ws):
    mutexes.release(ws, MUTEX)


def active(ws):
    return mutexes.exists(ws, MUTEX)
