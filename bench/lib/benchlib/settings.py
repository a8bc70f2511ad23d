"""settings write|raw|remove: the agent's Keyhaven.ini in c:\\nivra."""
import sys

KEYS = ("clean_storage", "mark_default", "ignore_cards", "init_plugin")


def register(sub):
    p = sub.add_parser("settings", help="write Keyhaven.ini ([properties] section), or copy stdin into it")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    w = s.add_parser("write", help="KEY=VALUE... under [properties]")
    w.add_argument("pairs", nargs="*", metavar="KEY=VALUE")
    w.set_defaults(func=write_command)
    r = s.add_parser("raw", help="copy standard input into the file, byte for byte")
    r.set_defaults(func=raw_command)
    d = s.add_parser("remove", help="delete the file")
    d.set_defaults(func=remove_command)


def settings_path(ws):
    return ws.nivra / "Keyhaven.ini"


def write_raw(ws, data):
    ws.nivra.mkdir(parents=True, exist_ok=True)
    settings_path(ws).write_bytes(data)


def write(ws, **values):
    lines = ["[properties]"] + ["%s = %s" % (k, v) for k, v in values.items()]
    write_raw(ws, ("\r\n".join(lines) + "\r\n").encode())


def write_command(ws, args):
    ws.require()
    values = {}
    for pair in args.pairs:
        key, _, value = pair.partition("=")
        values[key.strip()] = value.strip()
    write(ws, **values)


def raw_command(ws, args):
    ws.require()
    write_raw(ws, sys.stdin.buffer.read())


def remove_command(ws, args):
    settings_path(ws).unlink(missing_ok=True)
