"""container add|remove|list and provider ...: the stand-in GOST provider.

The provider DLL (bench_gost_csp.dll) is registered as the default provider
of type 75 and reads its state from files under C:\\bench on every call:

  provider.txt           one container a line: NAME TAB CARRIER TAB KEYS TAB CERT
                         (CARRIER token:ID | card:READER | registry; KEYS 1, 2,
                         both or none; CERT "-" or the DER bytes in hex); cp1251
  provider-switches.txt  "KEY VALUE..." lines: busy, version, version_ex,
                         fail_walk, fail_<operation>, delay_ms,
                         vanish_after_walk, hidden
  provider-counters.txt  kept by the DLL: contexts and keys open now, fail_walk_fired
  provider-record.txt    appended by the DLL: "acquire TAB 0xFLAGS TAB CONTAINER TAB 0xRESULT"
                         and "mark TAB NAME" (CryptSetProvParam 135) lines

A container is visible while its carrier is there: a token ID while a key
HKLM\\System\\CurrentControlSet\\Enum\\USB\\<any hardware id>\\<ID> exists, a
card container while C:\\bench\\pcsc.txt shows a card in its reader, a
registry container always. Names read with flag 8 are \\\\.\\<medium>\\<name>,
the medium being "Token <ID>", the reader's name or "REGISTRY".

"provider show" asks the provider itself through CryptoAPI (bench_provider.exe
in the workstation): what any Windows program on the workstation sees now.
"""
import argparse
import shutil
import textwrap

from benchlib.workstation import BenchError, cp1251, existing_file, failure_text

DLL = "bench_gost_csp.dll"
PROVIDER_NAME = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider"
PROVIDER_TYPE = 75

CONTAINERS = "provider.txt"
SWITCHES = "provider-switches.txt"
COUNTERS = "provider-counters.txt"
RECORD = "provider-record.txt"

# Operations a "provider fail" switch can break (see provider_state.h).
OPERATIONS = ("acquire", "enum", "reader", "container_name", "mark", "user_key", "certificate", "version",
              "version_ex")

# Error names the commands accept in place of numbers. NO_CODE (0): the call
# fails and leaves the last error at 0, as some real providers and drivers do.
ERRORS = {
    "NO_CODE": 0,
    "ERROR_NO_MORE_ITEMS": 259,
    "ERROR_MORE_DATA": 234,
    "ERROR_BUSY": 170,
    "NTE_FAIL": 0x80090020,
    "NTE_BAD_KEYSET": 0x80090016,
    "NTE_BAD_TYPE": 0x8009000A,
    "NTE_NO_KEY": 0x8009000D,
    "NTE_NOT_FOUND": 0x80090011,
    "NTE_NO_MEMORY": 0x8009000E,
    "NTE_KEYSET_NOT_DEF": 0x80090019,
    "SCARD_W_REMOVED_CARD": 0x80100069,
    "SCARD_E_NO_SUCH_CERTIFICATE": 0x8010002C,
}


def register(sub):
    p = sub.add_parser("container", help="key containers of the stand-in provider",
                       epilog="examples:\n"
                              "  bench/workstation container add ivanov --on token:0001 --cert a.der --key-spec both\n"
                              "  bench/workstation container add kept --on registry\n"
                              "  bench/workstation container remove kept")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    a = s.add_parser("add", help="a container on a token, a card or the registry (replaces one of that name)")
    a.add_argument("name", help="the container's name (code page 1251; no TAB, line break or backslash)")
    a.add_argument("--on", required=True, metavar="token:ID|card:READER|registry",
                   help="its carrier: it is visible while the carrier is there")
    a.add_argument("--cert", metavar="FILE.der", type=existing_file,
                   help="certificate stored with the key (any bytes)")
    a.add_argument("--key-spec", default="1", choices=["1", "2", "both", "none"],
                   help="1 AT_KEYEXCHANGE (default), 2 AT_SIGNATURE, both, none")
    a.set_defaults(func=add_command)
    r = s.add_parser("remove", help="take a container off the provider")
    r.add_argument("name", help="the container's name")
    r.set_defaults(func=remove_command)
    l = s.add_parser("list", help="the containers, with carrier, keys and certificate size")
    l.set_defaults(func=list_command)

    p = sub.add_parser("provider", help="switches and records of the stand-in provider",
                       epilog="examples:\n  bench/workstation provider busy on\n"
                              "  bench/workstation provider version 4.5 1234 5678 1 0 0\n"
                              "  bench/workstation provider fail-walk 2 NTE_FAIL --times 1\n"
                              "  bench/workstation provider fail acquire 0x80090020\n"
                              "error names for CODE:\n" + textwrap.fill(", ".join(ERRORS), 76, initial_indent="  ",
                                                                         subsequent_indent="  "))
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    b = s.add_parser("busy", help="on: the containers are held by another program (enumeration gives 259)")
    b.add_argument("state", choices=["on", "off"], help="on: busy; off: free again")
    b.set_defaults(func=busy_command)
    v = s.add_parser("version", help="PP_VERSION and the record of parameter 138")
    v.add_argument("version", metavar="MAJOR.MINOR", help="or the whole version word, e.g. 0x10405")
    v.add_argument("numbers", nargs=5, type=_argument_number, metavar="N",
                   help="PRODUCT_BUILD KERNEL_BUILD TYPE ARCH OS")
    v.set_defaults(func=version_command)
    x = s.add_parser("version-ex", help="'none': the provider does not know parameter 138 (NTE_BAD_TYPE)")
    x.add_argument("values", nargs="+", metavar="none|PRODUCT_BUILD KERNEL_BUILD TYPE ARCH OS",
                   help="'none', or the five numbers of the record")
    x.set_defaults(func=version_ex_command)
    w = s.add_parser("fail-walk", help="the N-th named PP_ENUMCONTAINERS call of a walk fails with CODE "
                                        "(0 or NO_CODE: fails with the last error left at 0)")
    w.add_argument("at", metavar="N|off", type=_walk_call, help="which call (1 the first), or off")
    w.add_argument("code", nargs="?", metavar="CODE", help="a number or a name such as NTE_FAIL")
    w.add_argument("--times", type=int, default=0, help="only for this many walks (default: every walk)")
    w.set_defaults(func=fail_walk_command)
    f = s.add_parser("fail", help="an operation fails with CODE (0 or NO_CODE: fails with the last error "
                                   "left at 0): " + ", ".join(OPERATIONS) +
                                   " (enum: the size query; certificate: CryptGetKeyParam(KP_CERTIFICATE))")
    f.add_argument("operation", choices=OPERATIONS, help="the operation that fails")
    f.add_argument("code", metavar="CODE|off", help="a number or a name such as NTE_FAIL; off: it works again")
    f.set_defaults(func=fail_command)
    d = s.add_parser("delay", help="pause every enumeration size call by MS milliseconds")
    d.add_argument("ms", type=int, help="milliseconds; 0 for none")
    d.set_defaults(func=delay_command)
    n = s.add_parser("vanish", help="after-walk: a finished walk makes every container vanish; "
                                    "now: vanish at once; off: back again")
    n.add_argument("when", choices=["after-walk", "now", "off"], help="when the containers vanish")
    n.set_defaults(func=vanish_command)
    r = s.add_parser("record", help="open contexts and keys, default container, marks and acquisitions")
    r.set_defaults(func=record_command)
    w = s.add_parser("show", help="the containers the provider shows now, asked through CryptoAPI")
    w.set_defaults(func=show_command)


def install(ws, registry):
    system32 = ws.drive_c / "windows" / "system32"
    shutil.copy2(ws.built(DLL), system32 / DLL)
    image = "C:\\windows\\system32\\" + DLL
    registry += [
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type 075]",
        '"Name"="%s"' % PROVIDER_NAME,
        "",
        "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Cryptography\\Defaults\\Provider\\%s]" % PROVIDER_NAME,
        '"Type"=dword:%08x' % PROVIDER_TYPE,
        '"Image Path"="%s"' % image.replace("\\", "\\\\"),
        '"SigInFile"=dword:00000000',
        "",
    ]


def reset(ws):
    for name in (CONTAINERS, SWITCHES, COUNTERS, RECORD):
        (ws.bench_dir / name).unlink(missing_ok=True)


# --- state files ------------------------------------------------------------
def _number(text):
    if text in ERRORS:
        return ERRORS[text]
    try:
        return int(text, 0)
    except ValueError:
        raise BenchError("not a number or a known error name: %s" % text)


def _argument_number(text):
    try:
        return _number(text)
    except BenchError as e:
        raise argparse.ArgumentTypeError(str(e))


def _walk_call(text):
    if text == "off" or (text.isdigit() and int(text) > 0):
        return text
    raise argparse.ArgumentTypeError("N is a call number counted from 1, or off, not %r" % text)


def _lines(ws, name):
    path = ws.bench_dir / name
    if not path.is_file():
        return []
    return [line for line in path.read_bytes().decode("cp1251").splitlines() if line]


def _write_lines(ws, name, lines):
    ws.bench_dir.mkdir(parents=True, exist_ok=True)
    (ws.bench_dir / name).write_bytes("".join(line + "\r\n" for line in lines).encode("cp1251"))


def containers(ws):
    """[(name, carrier, keys, certificate bytes)] in provider order."""
    found = []
    for line in _lines(ws, CONTAINERS):
        fields = line.split("\t")
        if len(fields) == 4:
            found.append((fields[0], fields[1], fields[2], b"" if fields[3] == "-" else bytes.fromhex(fields[3])))
    return found


def _write_containers(ws, found):
    _write_lines(ws, CONTAINERS, ["\t".join([name, carrier, keys, certificate.hex().upper() or "-"])
                                  for name, carrier, keys, certificate in found])


def _check_carrier(carrier):
    kind, _, where = carrier.partition(":")
    if carrier == "registry" or (kind in ("token", "card") and where):
        return carrier
    raise BenchError("carrier must be token:ID, card:READER or registry, not %r" % carrier)


def add_container(ws, name, carrier, certificate=b"", keys="1"):
    if not name or any(c in name for c in "\t\r\n\\"):
        raise BenchError("a container name needs at least one character and no TAB, line break or backslash")
    cp1251(name, "container name")
    rest = [c for c in containers(ws) if c[0] != name]
    _write_containers(ws, rest + [(name, _check_carrier(carrier), keys, certificate)])


def remove_container(ws, name):
    found = containers(ws)
    rest = [c for c in found if c[0] != name]
    if len(rest) == len(found):
        raise BenchError("no container %s" % name)
    _write_containers(ws, rest)


def qualified_name(name, carrier):
    """The name the provider gives with flag 8."""
    kind, _, where = carrier.partition(":")
    medium = {"token": "Token " + where, "card": where}.get(kind, "REGISTRY")
    return "\\\\.\\%s\\%s" % (medium, name)


def switches(ws):
    found = {}
    for line in _lines(ws, SWITCHES):
        words = line.split()
        if words:
            found[words[0]] = words[1:]
    return found


def set_switch(ws, key, *values):
    """Sets a switch; no values removes it."""
    found = switches(ws)
    if values:
        found[key] = [str(v) for v in values]
    else:
        found.pop(key, None)
    _write_lines(ws, SWITCHES, [" ".join([k] + v) for k, v in sorted(found.items())])


def counters(ws):
    found = {}
    for line in _lines(ws, COUNTERS):
        words = line.split()
        if len(words) == 2:
            found[words[0]] = int(words[1])
    return found


def record(ws):
    """[(kind, fields...)] as the provider appended them."""
    return [tuple(line.split("\t")) for line in _lines(ws, RECORD)]


def marks(ws):
    return [entry[1] for entry in record(ws) if entry[0] == "mark"]


# --- commands ---------------------------------------------------------------
def add_command(ws, args):
    ws.require()
    certificate = b""
    if args.cert:
        with open(args.cert, "rb") as f:
            certificate = f.read()
    add_container(ws, args.name, args.on, certificate, args.key_spec)


def remove_command(ws, args):
    ws.require()
    remove_container(ws, args.name)


def list_command(ws, args):
    ws.require()
    for name, carrier, keys, certificate in containers(ws):
        print("%s\t%s\tkeys=%s\tcert=%s\t%s" % (name, carrier, keys,
                                                "%d bytes" % len(certificate) if certificate else "none",
                                                qualified_name(name, carrier)))


def busy_command(ws, args):
    ws.require()
    set_switch(ws, "busy", *(["1"] if args.state == "on" else []))


def version_word(text):
    """MAJOR.MINOR, or the whole word as a number."""
    if "." not in text:
        return _number(text)
    major, _, minor = text.partition(".")
    if not (major.isdigit() and minor.isdigit() and int(major) < 256 and int(minor) < 256):
        raise BenchError("version must be MAJOR.MINOR (each 0-255) or a number, not %r" % text)
    return (int(major) << 8) | int(minor)


def version_command(ws, args):
    ws.require()
    set_switch(ws, "version", version_word(args.version))
    set_switch(ws, "version_ex", *args.numbers)


def version_ex_command(ws, args):
    ws.require()
    if args.values == ["none"]:
        set_switch(ws, "version_ex", "none")
    elif len(args.values) == 5:
        set_switch(ws, "version_ex", *map(_number, args.values))
    else:
        raise BenchError("version-ex takes 'none' or five numbers")


def fail_walk_command(ws, args):
    ws.require()
    if args.at == "off":
        set_switch(ws, "fail_walk")
        return
    if args.code is None:
        raise BenchError("fail-walk N needs a CODE")
    set_switch(ws, "fail_walk", int(args.at), _number(args.code), args.times)


def fail_command(ws, args):
    ws.require()
    if args.code == "off":
        set_switch(ws, "fail_" + args.operation)
    else:
        set_switch(ws, "fail_" + args.operation, _number(args.code))


def delay_command(ws, args):
    ws.require()
    set_switch(ws, "delay_ms", *([args.ms] if args.ms > 0 else []))


def vanish_command(ws, args):
    ws.require()
    set_switch(ws, "vanish_after_walk", *(["1"] if args.when == "after-walk" else []))
    set_switch(ws, "hidden", *(["1"] if args.when == "now" else []))


def show(ws):
    """[{name, keys, cert, reader}] as a Windows program sees the provider now."""
    result = ws.tool("bench_provider.exe", "list", check=False)
    lines = result.stdout.decode("cp1251").splitlines()
    if result.returncode != 0:
        raise BenchError("the provider cannot list its containers (bench_provider exit code %d): %s"
                         % (result.returncode, failure_text(result)))
    shown = []
    for line in lines:
        fields = line.strip("\r").split("\t")
        entry = {"name": fields[0]}
        entry.update(field.partition("=")[::2] for field in fields[1:])
        shown.append(entry)
    return shown


def show_command(ws, args):
    ws.require()
    for entry in show(ws):
        print("\t".join([entry["name"]] + ["%s=%s" % (k, v) for k, v in entry.items() if k != "name"]))


def record_command(ws, args):
    ws.require()
    found = counters(ws)
    print("open contexts: %d" % found.get("contexts", 0))
    print("open keys: %d" % found.get("keys", 0))
    all_marks = marks(ws)
    print("default container: %s" % (all_marks[-1] if all_marks else "(none)"))
    for name in all_marks:
        print("mark\t%s" % name)
    for entry in record(ws):
        if entry[0] == "acquire":
            print("acquire\t%s" % "\t".join(entry[1:]))
