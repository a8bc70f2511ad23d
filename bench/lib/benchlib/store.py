"""store list|count|add|remove|clear: the current user's personal store "My".

crypt32 keeps it in the prefix's registry (HKCU\\Software\\Microsoft\\
SystemCertificates\\My); bench_store.exe reads and changes it through crypt32
in the workstation, one Wine process per command. Only the user's own
certificates count: Wine's system store "My" also shows HKLM's "My", so
"store list --system" shows that wider view, the one programs get.

    store list [--raw] [--system]
        one line per certificate, TAB-separated (UTF-8):
        SERIAL  SUBJECT_CN  ISSUER_CN  CONTAINER  PROVIDER  TYPE  KEY_SPEC
        with "-" in place of the last four when it has no key link.
        SERIAL is hex, most significant byte first, as crypt32 keeps it
        (with a leading 00 when the top bit is set). --raw: bench_store's
        own lines (texts as hex of UTF-8).
    store count
    store add FILE.der       a certificate without a key link
    store remove SERIAL      every certificate with this serial (leading zeros ignored)
    store clear              empties the store (deletions committed)

Python callers use list_certificates(ws), which returns Certificate records.
"""
import shutil
import sys
from collections import namedtuple

from benchlib.workstation import BenchError, existing_file, failure_text

TOOL = "bench_store.exe"

# container, provider, key_spec and prov_type are None without a key link.
Certificate = namedtuple("Certificate", "serial subject issuer not_after thumbprint container provider prov_type "
                                        "key_spec")


def register(sub):
    p = sub.add_parser("store", help="the current user's personal certificate store \"My\"",
                       epilog="examples:\n  bench/workstation store add a.der\n  bench/workstation store list\n"
                              "  bench/workstation store remove 0A11")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    l = s.add_parser("list", help="serial, subject CN, issuer CN and key link of each certificate")
    l.add_argument("--raw", action="store_true", help="bench_store.exe's lines as they come")
    l.add_argument("--system", action="store_true", help="the system store programs see (with HKLM's \"My\")")
    l.set_defaults(func=list_command)
    c = s.add_parser("count", help="the number of certificates")
    c.set_defaults(func=lambda ws, args: print(count(ws)))
    a = s.add_parser("add", help="add a certificate without a key link")
    a.add_argument("file", metavar="FILE.der", type=existing_file, help="the certificate (DER)")
    a.set_defaults(func=lambda ws, args: add(ws, args.file))
    r = s.add_parser("remove", help="delete the certificates with this serial (hex)")
    r.add_argument("serial", help="hex, as store list shows it (leading zeros ignored)")
    r.set_defaults(func=lambda ws, args: print("removed %d" % remove(ws, args.serial)))
    e = s.add_parser("clear", help="delete every certificate")
    e.set_defaults(func=lambda ws, args: print("removed %d" % clear(ws)))


def reset(ws):
    if ws.exists() and (ws.bench_dir / "bin" / TOOL).is_file():
        clear(ws)


# --- bench_store.exe --------------------------------------------------------
def _run(ws, *args):
    ws.require()
    result = ws.tool(TOOL, *args, check=False)
    # Once, under two busy cores, a listing ended with exit code 1 and
    # neither its own "error" line nor anything on standard error. A read
    # that failed without a word is asked once more; a failure the tool
    # reports, and any change to the store, never is.
    if result.returncode != 0 and args[0] in ("list", "count") and failure_text(result) == "nothing said":
        result = ws.tool(TOOL, *args, check=False)
    lines = [line.rstrip("\r") for line in result.stdout.decode("utf-8", errors="replace").splitlines()]
    if result.returncode != 0:
        raise BenchError("bench_store %s failed (exit code %d): %s" % (" ".join(map(str, args)), result.returncode,
                                                                       failure_text(result)))
    return lines


def _text(field):
    return "" if field == "-" else bytes.fromhex(field).decode("utf-8")


def parse_line(line):
    """A Certificate from one "cert" line of bench_store list."""
    fields = line.split("\t")
    if fields[0] != "cert" or len(fields) not in (7, 10):
        raise BenchError("unexpected line from bench_store: %r" % line)
    serial, subject, issuer, not_after, thumbprint = fields[1:6]
    link = (_text(fields[6]), _text(fields[7]), int(fields[8]), int(fields[9])) if len(fields) == 10 else \
        (None, None, None, None)
    return Certificate(serial, _text(subject), _text(issuer), not_after, thumbprint, *link)


def list_certificates(ws, system=False):
    """[Certificate] of the user's "My" store, in store order."""
    return [parse_line(line) for line in _run(ws, "list", *(["--system"] if system else [])) if line]


def count(ws):
    return int(_run(ws, "count")[0])


def add(ws, path):
    """Adds the DER certificate at path (anywhere) without a key link."""
    ws.bench_dir.mkdir(parents=True, exist_ok=True)
    copy = ws.bench_dir / "store-add.der"
    shutil.copyfile(path, copy)
    try:
        _run(ws, "add", ws.windows_path(copy))
    finally:
        copy.unlink(missing_ok=True)


def remove(ws, serial):
    """Deletes every certificate with this serial; BenchError when none has it."""
    digits = serial.replace(":", "").replace(" ", "")
    if not digits or any(c not in "0123456789abcdefABCDEF" for c in digits):
        raise BenchError("serial must be hex digits, not %r" % serial)
    return int(_run(ws, "remove", digits)[0].split()[1])


def clear(ws):
    """Empties the user's store; returns how many certificates went."""
    return int(_run(ws, "clear")[0].split()[1])


def human_line(certificate):
    link = [certificate.container, certificate.provider, str(certificate.prov_type), str(certificate.key_spec)] \
        if certificate.container is not None else ["-"]
    return "\t".join([certificate.serial, certificate.subject, certificate.issuer] + link)


def list_command(ws, args):
    if args.raw:
        for line in _run(ws, "list", *(["--system"] if args.system else [])):
            print(line)
        return
    for certificate in list_certificates(ws, args.system):
        sys.stdout.buffer.write((human_line(certificate) + "\n").encode("utf-8"))
    sys.stdout.flush()
