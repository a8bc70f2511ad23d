"""The cards of a workstation made with --pcsc system: virtual cards
(vcard.py) in the vpcd readers of the machine's pcscd, and the programs that
hold one exclusively (hold_card.py). bench/workstation's reader, card and
pcsc commands come here on such a workstation.

C:\\bench\\vcards holds, per reader (named by its port): PORT.txt, "reader TAB
card pid TAB holder pid or -", and PORT.record, the card's own record of
every APDU it answered ("apdu=HEX TAB reply=HEX"), which stays after the card
is pulled out until "pcsc record --clear" or "reset".
"""
import sys
from pathlib import Path

from benchlib import pcscd
from benchlib.workstation import BenchError, alive, kill_all, read_if_any, start_until_ready, wait_until

CARDS = "vcards"
VCARD = Path(__file__).with_name("vcard.py")
HOLDER = Path(__file__).with_name("hold_card.py")
# pyscard is Debian's, for Debian's own Python.
DEBIAN_PYTHON = "/usr/bin/python3"
READY_SECONDS = 15
NO_READER_COMMANDS = ("the readers of the real stack are those of pcscd's configuration: "
                      "bench/workstation pcscd start --reader NAME")


def _folder(ws):
    return ws.bench_dir / CARDS


def _inserted(ws):
    """{port: (reader, card pid, holder pid or None)} of the cards this workstation put in."""
    found = {}
    folder = _folder(ws)
    if folder.is_dir():
        for entry in folder.glob("*.txt"):
            fields = read_if_any(entry).decode().rstrip("\n").split("\t")
            if len(fields) == 3 and entry.stem.isdigit() and fields[1].isdigit():
                found[int(entry.stem)] = (fields[0], int(fields[1]),
                                          int(fields[2]) if fields[2].isdigit() else None)
    return found


def insert(ws, reader, replies, t1_only=False, exclusive=False):
    for reply in replies:
        if reply.startswith("!"):
            raise BenchError("a card on the real stack answers with bytes: a failing transmission (%s) is the "
                             "stand-in's" % reply)
    port = pcscd.port_of(reader)
    if port in _inserted(ws) and _ours(_inserted(ws)[port][1]):
        raise BenchError("reader %r already holds a card" % reader)
    folder = _folder(ws)
    folder.mkdir(parents=True, exist_ok=True)
    args = [sys.executable, VCARD, port, folder / ("%d.record" % port)]
    for reply in replies:
        args += ["--reply", reply]
    if t1_only:
        args.append("--t1-only")
    card = start_until_ready(args, None, folder, READY_SECONDS, label="the virtual card in %r" % reader)
    holder = None
    if exclusive:
        try:
            holder = start_until_ready([DEBIAN_PYTHON, HOLDER, reader], None, folder, READY_SECONDS,
                                       label="holding the card in %r exclusively" % reader)
        except BenchError:
            _end([card])
            raise
    (folder / ("%d.txt" % port)).write_text("%s\t%d\t%s\n" % (reader, card, holder if holder else "-"),
                                           encoding="utf-8")


def _ours(pid):
    """pid is still one of our card programs, not a process that took its
    number after it ended."""
    argv = read_if_any("/proc/%d/cmdline" % pid).split(b"\0")
    return alive(pid) and any(part.endswith((VCARD.name.encode(), HOLDER.name.encode())) for part in argv)


def _end(pids):
    pids = [p for p in pids if _ours(p)]
    kill_all(pids)
    if not wait_until(lambda: not any(alive(p) for p in pids), 10):
        raise BenchError("programs did not end: %s" % " ".join(str(p) for p in pids if alive(p)))


def remove(ws, reader):
    for port, (name, card, holder) in _inserted(ws).items():
        if name == reader:
            _end([p for p in (holder, card) if p])  # the holder first, as a program lets go before a card is pulled
            (_folder(ws) / ("%d.txt" % port)).unlink()
            return
    raise BenchError("reader %r holds no card of this workstation" % reader)


def reset(ws):
    for port, (_, card, holder) in _inserted(ws).items():
        _end([p for p in (holder, card) if p])
    for entry in _folder(ws).glob("*") if _folder(ws).is_dir() else []:
        entry.unlink()


def record_lines(ws):
    """The cards' records, each line led by its reader's name."""
    names = {port: name for name, port in pcscd.readers().items()}
    lines = []
    folder = _folder(ws)
    for record in sorted(folder.glob("*.record")) if folder.is_dir() else []:
        name = names.get(int(record.stem), "port %s" % record.stem)
        lines += ["%s\t%s" % (name, line) for line in read_if_any(record).decode().splitlines()]
    return lines


def readers_with_cards(ws):
    return sorted(name for name, card, _ in _inserted(ws).values() if _ours(card))


def clear_records(ws):
    for record in _folder(ws).glob("*.record") if _folder(ws).is_dir() else []:
        record.unlink()


def listing(ws):
    """One line per reader of pcscd's: name, then the card this workstation put in."""
    cards = {name: (card, holder) for name, card, holder in _inserted(ws).values()}
    lines = []
    for name, _ in sorted(pcscd.readers().items(), key=lambda item: item[1]):
        state = "none"
        if name in cards and _ours(cards[name][0]):
            state = "card" + (" exclusive" if cards[name][1] else "")
        lines.append("%s\t%s" % (name, state))
    return lines
