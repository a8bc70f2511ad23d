"""reader, card and pcsc commands: the readers and cards that the bench's
winscard.dll serves to every program of the workstation.

State (C:\\bench\\pcsc.txt, also read by the provider stand-in): one reader a
line in list order, TAB-separated
    <reader name> <none|card> <"-" or t1-only,exclusive> <"-" or replies>
replies ';'-separated, one per APDU of a connection, the last one repeating:
hex bytes, or "!" + 8 hex digits for a failing transmission with that code.
Records: C:\\bench\\pcsc-record.txt (one line per PC/SC call) and
C:\\bench\\pcsc-counters.txt (contexts, cards and reader lists still open).
C:\\bench\\pcsc-stopped makes the service unavailable (SCARD_E_NO_SERVICE).

A workstation made with "create --pcsc system" (C:\\bench\\pcsc-mode.txt says
"system") has the bridge to the machine's pcsc-lite instead: the readers are
pcscd's, cards are virtual cards in its vpcd readers (pcsc_real.py).
"""
import os
import re
import shutil

from benchlib import pcsc_real
from benchlib.workstation import BenchError, cp1251, read_if_any

DLL = "winscard.dll"
# The bridge's winscard.dll and the Winelib library it loads, in the build's bin/pcsc-bridge.
BRIDGE_DIR = "pcsc-bridge"
LIBRARY = "keyhaven_pcsclite.dll.so"
MODE = "pcsc-mode.txt"
MODES = ("standin", "system")
VIEW = "bench_carrier_view.exe"
STATE = "pcsc.txt"
RECORD = "pcsc-record.txt"
COUNTERS = "pcsc-counters.txt"
STOPPED = "pcsc-stopped"
ENCODING = "cp1251"  # reader names as the ANSI functions pass them
REPLY = re.compile(r"^([0-9A-F]{2})*$|^![0-9A-F]{8}$")


def register(sub):
    p = sub.add_parser("reader", help="PC/SC readers of the workstation",
                       epilog="example:\n  bench/workstation reader add 'ACS ACR38U 0'")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    a = s.add_parser("add", help="an empty reader, last in the list")
    a.add_argument("name", help="the reader's name (code page 1251, no TAB)")
    a.set_defaults(func=lambda ws, args: add_reader(ws, args.name))
    r = s.add_parser("remove", help="a reader, with its card")
    r.add_argument("name", help="the reader's name")
    r.set_defaults(func=lambda ws, args: remove_reader(ws, args.name))
    l = s.add_parser("list", help="the readers, as in pcsc.txt")
    l.set_defaults(func=list_command)

    p = sub.add_parser("card", help="smart cards in the readers",
                       epilog="examples:\n  bench/workstation card add 'ACS ACR38U 0' --reply 6110 --reply 9000\n"
                              "  bench/workstation card add 'ACS ACR38U 0' --reply '!80100069'\n"
                              "  bench/workstation card remove 'ACS ACR38U 0'")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    i = s.add_parser("add", aliases=["insert"], help="a card that answers the probe with the given replies "
                                                      "(default 9000)")
    i.add_argument("reader", help="the reader's name")
    i.add_argument("--reply", action="append", metavar="HEX",
                   help="reply to the next APDU of a connection, in order; the last repeats. "
                        "!XXXXXXXX: the transmission fails with that code")
    i.add_argument("--t1-only", action="store_true", help="the card offers T=1 only")
    i.add_argument("--exclusive", action="store_true", help="another program holds the card exclusively")
    i.set_defaults(func=insert_command)
    r = s.add_parser("remove", help="take the card out of the reader")
    r.add_argument("reader", help="the reader's name")
    r.set_defaults(func=lambda ws, args: remove_card(ws, args.reader))

    p = sub.add_parser("pcsc", help="records, open handles and the service switch of the PC/SC stand-in")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    r = s.add_parser("record", help="every PC/SC call so far, then the counts of what is still open")
    r.add_argument("--clear", action="store_true", help="forget the records and counts instead")
    r.set_defaults(func=record_command)
    w = s.add_parser("show", aliases=["view"], help="the readers as a Windows program sees them: name, connect "
                                                    "code, protocol (exit status 1 when listing fails)")
    w.set_defaults(func=view_command)
    v = s.add_parser("service", help="start or stop the PC/SC service")
    v.add_argument("state", choices=["start", "stop"], help="stop: every call fails with SCARD_E_NO_SERVICE")
    v.set_defaults(func=service_command)


def add_mode_option(parser):
    parser.add_argument("--pcsc", choices=MODES, default="standin",
                        help="standin (default): the bench's own PC/SC service with its fault injection; "
                             "system: the machine's pcsc-lite through the bridge (bench/workstation pcscd start)")


def system_mode(ws):
    return read_if_any(ws.bench_dir / MODE).strip() == b"system"


def choose_mode(ws, mode):
    ws.bench_dir.mkdir(parents=True, exist_ok=True)
    if mode == "system":
        (ws.bench_dir / MODE).write_text("system\n")
    else:
        (ws.bench_dir / MODE).unlink(missing_ok=True)


def install(ws, registry):
    system32 = ws.drive_c / "windows" / "system32"
    if system_mode(ws):
        for name in (DLL, LIBRARY):
            if not (ws.bin_dir / BRIDGE_DIR / name).is_file():
                raise BenchError("%s is not built (it needs wine64-tools and libpcsclite-dev; then "
                                 "cmake --build --preset mingw)" % (ws.bin_dir / BRIDGE_DIR / name))
            shutil.copy2(ws.bin_dir / BRIDGE_DIR / name, system32 / name)
    else:
        shutil.copy2(ws.built(DLL), system32 / DLL)
        (system32 / LIBRARY).unlink(missing_ok=True)
    registry += ["[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]", '"winscard"="native,builtin"', ""]


def reset(ws):
    pcsc_real.reset(ws)
    for name in (STATE, RECORD, COUNTERS, STOPPED):
        (ws.bench_dir / name).unlink(missing_ok=True)


# --- state ------------------------------------------------------------------
def read_state(ws):
    path = ws.bench_dir / STATE
    if not path.is_file():
        return []
    readers = []
    for line in path.read_bytes().decode(ENCODING).splitlines():
        fields = line.split("\t")
        if len(fields) == 4 and fields[0] and fields[1] in ("none", "card"):
            readers.append({
                "name": fields[0],
                "card": fields[1] == "card",
                "flags": [] if fields[2] == "-" else fields[2].split(","),
                "replies": [] if fields[3] == "-" else fields[3].split(";"),
            })
    return readers


def write_state(ws, readers):
    lines = ["%s\t%s\t%s\t%s" % (r["name"], "card" if r["card"] else "none", ",".join(r["flags"]) or "-",
                                 ";".join(r["replies"]) if r["replies"] else "-") for r in readers]
    ws.bench_dir.mkdir(parents=True, exist_ok=True)
    path = ws.bench_dir / STATE
    temporary = path.with_suffix(".tmp")
    temporary.write_bytes("".join(line + "\r\n" for line in lines).encode(ENCODING))
    os.replace(temporary, path)  # a program never reads half a state


def _find(readers, name):
    for reader in readers:
        if reader["name"] == name:
            return reader
    raise BenchError("no reader %r (readers: %s)" % (name, ", ".join(repr(r["name"]) for r in readers) or "none"))


def add_reader(ws, name):
    ws.require()
    if system_mode(ws):
        raise BenchError(pcsc_real.NO_READER_COMMANDS)
    if not name or any(c in name for c in "\t\r\n"):
        raise BenchError("a reader name is not empty and holds no TAB or line break: %r" % name)
    cp1251(name, "reader name")
    readers = read_state(ws)
    if any(r["name"] == name for r in readers):
        raise BenchError("reader %r already exists" % name)
    readers.append({"name": name, "card": False, "flags": [], "replies": []})
    write_state(ws, readers)


def remove_reader(ws, name):
    ws.require()
    if system_mode(ws):
        raise BenchError(pcsc_real.NO_READER_COMMANDS)
    readers = read_state(ws)
    readers.remove(_find(readers, name))
    write_state(ws, readers)


def normalise_reply(text):
    reply = re.sub(r"\s", "", text).upper()
    if not REPLY.match(reply):
        raise BenchError("reply %r is neither hex bytes nor !XXXXXXXX" % text)
    return reply


def insert_card(ws, reader_name, replies=None, t1_only=False, exclusive=False):
    ws.require()
    if system_mode(ws):
        pcsc_real.insert(ws, reader_name, [normalise_reply(r) for r in (replies or ["9000"])], t1_only, exclusive)
        return _mirror_real_cards(ws)
    readers = read_state(ws)
    reader = _find(readers, reader_name)
    if reader["card"]:
        raise BenchError("reader %r already holds a card" % reader_name)
    reader["card"] = True
    reader["flags"] = [f for f, on in (("t1-only", t1_only), ("exclusive", exclusive)) if on]
    reader["replies"] = [normalise_reply(r) for r in (replies or ["9000"])]
    write_state(ws, readers)


def _mirror_real_cards(ws):
    """pcsc.txt lists the readers that hold a virtual card, so the provider
    stand-in shows their card containers (it reads nothing else)."""
    write_state(ws, [{"name": name, "card": True, "flags": [], "replies": []}
                     for name in pcsc_real.readers_with_cards(ws)])


def remove_card(ws, reader_name):
    ws.require()
    if system_mode(ws):
        pcsc_real.remove(ws, reader_name)
        return _mirror_real_cards(ws)
    readers = read_state(ws)
    reader = _find(readers, reader_name)
    if not reader["card"]:
        raise BenchError("reader %r holds no card" % reader_name)
    reader.update(card=False, flags=[], replies=[])
    write_state(ws, readers)


# --- records ----------------------------------------------------------------
def record_lines(ws):
    path = ws.bench_dir / RECORD
    return path.read_bytes().decode(ENCODING).splitlines() if path.is_file() else []


def counters(ws):
    """Open contexts, card handles and reader lists, by name."""
    path = ws.bench_dir / COUNTERS
    values = {"contexts": 0, "cards": 0, "lists": 0}
    if path.is_file():
        for line in path.read_text().splitlines():
            name, _, value = line.partition(" ")
            if value.strip():
                values[name] = int(value)
    return values


# --- commands ---------------------------------------------------------------
def insert_command(ws, args):
    insert_card(ws, args.reader, args.reply, args.t1_only, args.exclusive)


def list_command(ws, args):
    ws.require()
    if system_mode(ws):
        print("".join(line + "\n" for line in pcsc_real.listing(ws)), end="")
        return
    for reader in read_state(ws):
        state = "card" if reader["card"] else "none"
        if reader["card"]:
            state += " %s%s" % (";".join(reader["replies"]) or "(mute)",
                                "".join(" " + f for f in reader["flags"]))
        print("%s\t%s" % (reader["name"], state))


def record_command(ws, args):
    ws.require()
    if system_mode(ws):
        if args.clear:
            pcsc_real.clear_records(ws)
        else:
            print("".join(line + "\n" for line in pcsc_real.record_lines(ws)), end="")
        return 0
    if args.clear:
        for name in (RECORD, COUNTERS):
            (ws.bench_dir / name).unlink(missing_ok=True)
        return 0
    for line in record_lines(ws):
        print(line)
    print("open: " + ", ".join("%s=%d" % item for item in counters(ws).items()))
    return 0


def service_command(ws, args):
    ws.require()
    if system_mode(ws):
        raise BenchError("the real stack's service is pcscd: bench/workstation pcscd start|stop")
    path = ws.bench_dir / STOPPED
    if args.state == "stop":
        ws.bench_dir.mkdir(parents=True, exist_ok=True)
        path.touch()
    else:
        path.unlink(missing_ok=True)


def view_command(ws, args):
    ws.require()
    result = ws.tool(VIEW, "readers", check=False)
    print(result.stdout.decode(ENCODING).replace("\r\n", "\n"), end="")
    return result.returncode
