"""kestrel hold [SECONDS] | abandon | release: libKestrel, the maker's other
user of the provider, as far as the agent can see it: a program holding the
session's mutex "nivra_crypto_pro_mutex"."""
from benchlib import mutexes

MUTEX = "nivra_crypto_pro_mutex"


def register(sub):
    p = sub.add_parser("kestrel", help="libKestrel holding the provider mutex")
    p.add_argument("action", choices=["hold", "abandon", "release"],
                   help="hold: create and own it (release after SECONDS); abandon: the holder ends "
                        "without releasing; release: the holder releases it and ends")
    p.add_argument("seconds", nargs="?", type=float)
    p.set_defaults(func=command)


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
