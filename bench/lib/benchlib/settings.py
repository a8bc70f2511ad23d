"""settings write|raw|remove: the agent's Keyhaven.ini in c:\\nivra."""
import os
import re
import sys

from benchlib.workstation import BenchError

KEYS = ("clean_storage", "mark_default", "ignore_cards", "init_plugin")
# Each with the byte-order mark the tool writes.
ENCODINGS = {"ansi": ("cp1251", b""), "utf-8-bom": ("utf-8", b"\xef\xbb\xbf"),
             "utf-16le": ("utf-16-le", b"\xff\xfe"), "utf-16be": ("utf-16-be", b"\xfe\xff")}


def register(sub):
    p = sub.add_parser("settings", help="write Keyhaven.ini ([properties] section), or copy stdin into it",
                       epilog="examples:\n  bench/workstation settings write clean_storage=0 mark_default=1\n"
                              "  printf '[properties]\\r\\nclean_storage = true\\r\\n' | bench/workstation settings raw")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    w = s.add_parser("write", help="KEY=VALUE... under [properties]; the file is replaced")
    w.add_argument("pairs", nargs="*", metavar="KEY=VALUE",
                   help="KEY one of %s, VALUE an integer" % ", ".join(KEYS))
    w.add_argument("--any-key", action="store_true", help="take any KEY and VALUE as given (for odd settings)")
    w.add_argument("--encoding", choices=sorted(ENCODINGS), default="ansi",
                   help="as administrators' tools write it: ansi (default; Set-Content), utf-8-bom "
                        "(Set-Content -Encoding UTF8), utf-16le (PowerShell 5.1 Out-File and >), utf-16be")
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


def replace_raw(ws, data):
    """The whole file at once: written beside it, then renamed over it, so
    that no read meets it empty or half-written."""
    ws.nivra.mkdir(parents=True, exist_ok=True)
    spare = settings_path(ws).with_name("Keyhaven.ini.new")
    spare.write_bytes(data)
    os.replace(spare, settings_path(ws))


def write(ws, encoding="ansi", **values):
    lines = ["[properties]"] + ["%s = %s" % (k, v) for k, v in values.items()]
    codec, mark = ENCODINGS[encoding]
    write_raw(ws, mark + ("\r\n".join(lines) + "\r\n").encode(codec))


def write_command(ws, args):
    ws.require()
    values = {}
    for pair in args.pairs:
        key, equals, value = (part.strip() for part in pair.partition("="))
        if not equals or not key:
            raise BenchError("settings are KEY=VALUE, not %r" % pair)
        if not args.any_key and key not in KEYS:
            raise BenchError("no setting %r (known: %s; --any-key writes it anyway)" % (key, ", ".join(KEYS)))
        if not args.any_key and not re.fullmatch(r"[+-]?\d+", value):
            raise BenchError("%s takes an integer, not %r (--any-key writes it anyway)" % (key, value))
        values[key] = value
    write(ws, args.encoding, **values)


def raw_command(ws, args):
    ws.require()
    write_raw(ws, sys.stdin.buffer.read())


def remove_command(ws, args):
    ws.require()
    settings_path(ws).unlink(missing_ok=True)
