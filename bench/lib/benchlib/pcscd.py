"""pcscd start|stop|status: the machine's PC/SC daemon with vpcd readers, for
workstations made with --pcsc system.

The bench starts a pcscd of its own from its own configuration (pcscd -c),
never from /etc/reader.conf.d, with one vpcd reader entry per name it is
given; an entry NAME gives the readers "NAME 00 00" and "NAME 00 01", waiting
for a virtual card on two ports of their own (35963 and 35964 for the first,
vpcd's usual ones, 35965 and 35966 for the next, and so on). vpcd keeps its
state in the driver library's globals, so every entry after the first loads
its own copy of the driver. When a pcscd the bench did not start is running,
the bench says so and uses it, with the readers its configuration gives
(Debian's vpcd entry: "Virtual PCD 00 00" and "00 01" on 35963 and 35964).

Its files are in build/pcscd: reader.conf, readers.txt (name TAB port),
pcscd.pid, pcscd.log.
"""
import os
import re
import shutil
import signal
import socket

from benchlib.workstation import REPO, BenchError, alive, read_if_any, spawn_detached, wait_until

PCSCD = "/usr/sbin/pcscd"
SOCKET = "/run/pcscd/pcscd.comm"
DRIVER = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so"
SYSTEM_CONFIG = "/etc/reader.conf.d"
FIRST_PORT = 35963
# vpcd's usual entry, one the census never probes, one whose name is not
# ASCII (pcsc-lite's UTF-8 against Windows' ANSI code page).
DEFAULT_READERS = ["Virtual PCD", "FT SCR Bench", "Считыватель Bench"]
START_SECONDS = 10
STOP_SECONDS = 5


def folder():
    return REPO / "build" / "pcscd"


def register(sub):
    p = sub.add_parser("pcscd", help="the machine's pcscd with vpcd readers (workstations made with --pcsc system)",
                       epilog="examples:\n  bench/workstation pcscd start\n"
                              "  bench/workstation pcscd start --reader 'Bench PCD' --reader 'Rutoken Magistra 2'\n"
                              "  bench/workstation pcscd stop")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    a = s.add_parser("start", help="start the bench's own pcscd (or say which one already runs and use it)")
    a.add_argument("--reader", action="append", metavar="NAME",
                   help="a vpcd reader entry (two readers, NAME 00 00 and NAME 00 01); default: %s"
                        % ", ".join(repr(n) for n in DEFAULT_READERS))
    a.set_defaults(func=lambda ws, args: start(args.reader or DEFAULT_READERS))
    a = s.add_parser("stop", help="stop the bench's own pcscd (never one it did not start)")
    a.set_defaults(func=lambda ws, args: stop())
    a = s.add_parser("status", help="which pcscd runs, and its readers with their ports; exit status 1 when none")
    a.set_defaults(func=status_command)


# --- which pcscd ---------------------------------------------------------------
def own_pid():
    """The pid of the pcscd the bench started, while it runs."""
    text = read_if_any(folder() / "pcscd.pid").decode().strip()
    if text.isdigit() and alive(int(text)) and _is_pcscd(int(text)):
        return int(text)
    return None


def _is_pcscd(pid):
    return os.path.basename(read_if_any("/proc/%d/cmdline" % pid).split(b"\0")[0].decode()) == "pcscd"


def serving():
    """A pcscd answers on the machine's socket."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        try:
            s.connect(SOCKET)
            return True
        except OSError:
            return False


def other_pids():
    """pcscd processes the bench did not start."""
    own = own_pid()
    return [int(e) for e in os.listdir("/proc") if e.isdigit() and int(e) != own and _is_pcscd(int(e))]


# --- readers ---------------------------------------------------------------------
def _entries(names):
    return [(name, FIRST_PORT + 2 * i) for i, name in enumerate(names)]


def config_text(names, driver_copies):
    """reader.conf for these entry names; driver_copies[i] is the driver of
    entry i."""
    blocks = []
    for (name, port), driver in zip(_entries(names), driver_copies):
        blocks.append('FRIENDLYNAME "%s"\nDEVICENAME   /dev/null:0x%04X\nLIBPATH      %s\nCHANNELID    0x%04X\n'
                      % (name, port, driver, port))
    return "\n".join(blocks)


def reader_ports(names_and_ports):
    """{reader name: port} of vpcd entries: two readers an entry."""
    ports = {}
    for name, port in names_and_ports:
        ports["%s 00 00" % name] = port
        ports["%s 00 01" % name] = port + 1
    return ports


def parse_config(text):
    """(name, port) of the vpcd entries of a reader.conf text."""
    found, name = [], None
    for line in text.splitlines():
        m = re.match(r'\s*FRIENDLYNAME\s+"?([^"]*)"?\s*$', line)
        if m:
            name = m.group(1)
        m = re.match(r"\s*DEVICENAME\s+/dev/null:(0x[0-9A-Fa-f]+|\d+)\s*$", line)
        if m and name is not None:
            found.append((name, int(m.group(1), 0)))
            name = None
    return found


def readers():
    """{reader name: port} of the pcscd that serves the machine: the bench's
    own, or else Debian's vpcd configuration."""
    if own_pid():
        return reader_ports(parse_config(read_if_any(folder() / "reader.conf").decode()))
    found = []
    if os.path.isdir(SYSTEM_CONFIG):
        for entry in sorted(os.listdir(SYSTEM_CONFIG)):
            found += parse_config(read_if_any(os.path.join(SYSTEM_CONFIG, entry)).decode(errors="replace"))
    return reader_ports(found)


def port_of(reader):
    ports = readers()
    if reader not in ports:
        raise BenchError("no vpcd reader %r (readers: %s)" % (reader, ", ".join(repr(r) for r in ports) or "none"))
    return ports[reader]


# --- start and stop ----------------------------------------------------------------
def check_names(names):
    """BenchError for an entry name reader.conf cannot carry."""
    for name in names:
        if not name or any(c in name for c in '"\r\n') or not name.isprintable():
            raise BenchError("a reader entry name is one line of text without quotes: %r" % name)


def start(names):
    if not os.path.isfile(PCSCD) or not os.path.isfile(DRIVER):
        raise BenchError("pcscd or vpcd is not installed (tools/setup-host.sh installs pcscd and vsmartcard-vpcd)")
    check_names(names)
    if own_pid():
        print("the bench's pcscd already runs (pid %d)" % own_pid())
        return 0
    others = other_pids()
    if others or serving():
        print("a pcscd the bench did not start is running%s: using it, with the readers of its own configuration"
              % (" (pid %s)" % " ".join(map(str, others)) if others else ""))
        return 0
    where = folder()
    shutil.rmtree(where, ignore_errors=True)
    where.mkdir(parents=True)
    drivers = [DRIVER]
    for i in range(1, len(names)):  # vpcd's state lives in the driver's globals: one copy an entry
        drivers.append(str(where / ("libifdvpcd-%d.so" % i)))
        shutil.copy2(DRIVER, drivers[-1])
    (where / "reader.conf").write_text(config_text(names, drivers), encoding="utf-8")  # pcsc-lite's names are UTF-8
    log = where / "pcscd.log"
    pid = spawn_detached([PCSCD, "--foreground", "--config", where / "reader.conf"], dict(os.environ),
                         output=log, errors=log)
    (where / "pcscd.pid").write_text("%d\n" % pid)
    if not wait_until(lambda: serving() or not alive(pid), START_SECONDS) or not alive(pid):
        how = "ended at its start" if not alive(pid) else "did not answer within %g s" % START_SECONDS
        _end(pid)
        raise BenchError("pcscd %s: %s" % (how, _last_lines(log)))
    print("pcscd started (pid %d) with readers: %s" % (pid, ", ".join(sorted(reader_ports(_entries(names))))))
    return 0


def _last_lines(log, count=3):
    lines = [line.strip() for line in read_if_any(log).decode(errors="replace").splitlines() if line.strip()]
    return " | ".join(lines[-count:]) or "it said nothing"


def _end(pid):
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return
        if wait_until(lambda: not alive(pid), STOP_SECONDS):
            return


def stop():
    pid = own_pid()
    if pid is None:
        others = other_pids()
        print("no pcscd of the bench runs%s" % ("; not stopping one it did not start (pid %s)"
                                                 % " ".join(map(str, others)) if others else ""))
        return 0
    _end(pid)
    if alive(pid):
        raise BenchError("pcscd (pid %d) did not end" % pid)
    (folder() / "pcscd.pid").unlink(missing_ok=True)
    print("pcscd stopped")
    return 0


def status_command(ws, args):
    pid = own_pid()
    if pid:
        print("the bench's pcscd runs (pid %d)" % pid)
    elif serving() or other_pids():
        print("a pcscd the bench did not start runs (pid %s)" % " ".join(map(str, other_pids())))
    else:
        print("no pcscd runs")
        return 1
    for name, port in sorted(readers().items(), key=lambda item: item[1]):
        print("%s\t%d" % (name, port))
    return 0
