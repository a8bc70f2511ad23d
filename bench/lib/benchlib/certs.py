"""cert make: X.509 v3 certificates in DER, built with the standard library.

They look like GOST R 34.10-2001 certificates (algorithm identifiers, a
64-byte public key) but nothing in them is real cryptography: the key and
the signature are fixed filler bytes, which is all crypt32 needs to parse
them and nothing on the bench verifies. Names are UTF8Strings, so Cyrillic
common names work.

    cert make -o FILE.der --cn NAME [--serial HEX] [--issuer NAME]
              [--not-before WHEN] [--not-after WHEN] [--no-cn]
    cert show FILE.der      what crypt32 reads from it (in the workstation)

WHEN is an ISO date-time in UTC (2027-02-28T12:00:00, 2027-02-28 12:00,
2027-02-28) or an offset from now: +Nd, -Nd, +Nh, -Nh, +Nm, -Nm. Give a
negative offset with "=" (--not-after=-1d), or argparse takes it for an option.
"""
import datetime
import re
import secrets

from benchlib.workstation import BenchError, existing_file, failure_text

DEFAULT_ISSUER = "Keyhaven Test CA"
NO_CN_ORGANIZATION = "Keyhaven Bench"

OID_COMMON_NAME = "2.5.4.3"
OID_ORGANIZATION = "2.5.4.10"
OID_GOST_SIGNATURE = "1.2.643.2.2.3"      # GOST R 34.11-94 with GOST R 34.10-2001
OID_GOST_PUBLIC_KEY = "1.2.643.2.2.19"    # GOST R 34.10-2001
OID_GOST_KEY_PARAMS = "1.2.643.2.2.35.1"  # signature parameter set A
OID_GOST_HASH_PARAMS = "1.2.643.2.2.30.1"  # hash parameter set
OID_KEY_USAGE = "2.5.29.15"


def register(sub):
    p = sub.add_parser("cert", help="make a test certificate (DER), or show what crypt32 reads from one",
                       epilog="examples:\n"
                              "  bench/workstation cert make -o a.der --cn 'Иванов Иван' --serial 0A11 --not-after +20d\n"
                              "  bench/workstation cert make -o old.der --cn Old --not-after=-1d\n"
                              "  bench/workstation cert show a.der\n"
                              "WHEN: an ISO date-time in UTC (2027-02-28T12:00:00, 2027-02-28) or +Nd, -Nd, +Nh, "
                              "-Nh, +Nm, -Nm from now\n(a negative one with '=': --not-after=-1d)")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    m = s.add_parser("make", help="an X.509 v3 DER certificate")
    m.add_argument("-o", "--output", required=True, metavar="FILE.der", help="where to write it")
    names = m.add_mutually_exclusive_group(required=True)
    names.add_argument("--cn", help="subject common name")
    names.add_argument("--no-cn", action="store_true", help="a subject without a common name")
    m.add_argument("--serial", help="serial number in hex (default: 8 random bytes)")
    m.add_argument("--issuer", default=DEFAULT_ISSUER, help="issuer common name (default: %(default)s)")
    m.add_argument("--not-before", default="-1d", metavar="WHEN", help="default: -1d")
    m.add_argument("--not-after", default="+365d", metavar="WHEN", help="default: +365d")
    m.set_defaults(func=make_command)
    w = s.add_parser("show", help="parse it with crypt32 in the workstation (bench_cert.exe)")
    w.add_argument("file", metavar="FILE.der", type=existing_file, help="the certificate")
    w.set_defaults(func=show_command)


# --- DER ------------------------------------------------------------------
def tlv(tag, content):
    size = len(content)
    if size < 0x80:
        length = bytes([size])
    else:
        digits = size.to_bytes((size.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(digits)]) + digits
    return bytes([tag]) + length + content


def sequence(*parts):
    return tlv(0x30, b"".join(parts))


def integer(value_bytes):
    """A non-negative INTEGER from big-endian bytes (minimal, sign byte added)."""
    value_bytes = value_bytes.lstrip(b"\0") or b"\0"
    if value_bytes[0] & 0x80:
        value_bytes = b"\0" + value_bytes
    return tlv(0x02, value_bytes)


def oid(dotted):
    arcs = [int(a) for a in dotted.split(".")]
    body = bytearray([40 * arcs[0] + arcs[1]])
    for arc in arcs[2:]:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.append(0x80 | (arc & 0x7F))
            arc >>= 7
        body += bytes(reversed(chunk))
    return tlv(0x06, bytes(body))


def name(attributes):
    """Name: one RDN per (oid, text), texts as UTF8String."""
    return sequence(*[tlv(0x31, sequence(oid(o), tlv(0x0C, text.encode("utf-8")))) for o, text in attributes])


def time_value(when):
    """UTCTime for 1950-2049, GeneralizedTime otherwise (RFC 5280)."""
    if 1950 <= when.year < 2050:
        return tlv(0x17, when.strftime("%y%m%d%H%M%SZ").encode())
    return tlv(0x18, ("%04d" % when.year + when.strftime("%m%d%H%M%SZ")).encode())


def explicit(number, content):
    return tlv(0xA0 | number, content)


def bit_string(content):
    return tlv(0x03, b"\0" + content)


def certificate(subject_cn, issuer_cn, serial, not_before, not_after):
    """DER bytes; subject_cn None gives a subject without a common name."""
    algorithm = sequence(oid(OID_GOST_SIGNATURE))
    subject = name([(OID_COMMON_NAME, subject_cn)] if subject_cn is not None
                   else [(OID_ORGANIZATION, NO_CN_ORGANIZATION)])
    public_key = sequence(
        sequence(oid(OID_GOST_PUBLIC_KEY), sequence(oid(OID_GOST_KEY_PARAMS), oid(OID_GOST_HASH_PARAMS))),
        bit_string(tlv(0x04, bytes(range(1, 65)))))
    # digitalSignature, nonRepudiation, keyEncipherment
    key_usage = sequence(oid(OID_KEY_USAGE), tlv(0x01, b"\xff"), tlv(0x04, tlv(0x03, b"\x05\xe0")))
    tbs = sequence(
        explicit(0, integer(b"\x02")),
        integer(serial),
        algorithm,
        name([(OID_COMMON_NAME, issuer_cn)]),
        sequence(time_value(not_before), time_value(not_after)),
        subject,
        public_key,
        explicit(3, sequence(key_usage)))
    return sequence(tbs, algorithm, bit_string(bytes([0x5A]) * 64))


# --- arguments --------------------------------------------------------------
OFFSET = re.compile(r"^([+-])(\d+)([dhm])$")


def parse_when(text, now=None):
    """A UTC datetime from an ISO text or an offset from now (+Nd, -Nh, ...)."""
    now = now or datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0, tzinfo=None)
    match = OFFSET.match(text.strip())
    if match:
        sign, count, unit = match.groups()
        delta = datetime.timedelta(**{{"d": "days", "h": "hours", "m": "minutes"}[unit]: int(count)})
        return now + delta if sign == "+" else now - delta
    try:
        when = datetime.datetime.fromisoformat(text.strip().rstrip("Z"))
    except ValueError:
        raise BenchError("WHEN must be an ISO date-time in UTC or +Nd/-Nd/+Nh/-Nh, not %r" % text)
    if when.tzinfo is not None:
        when = when.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    return when


def parse_serial(text):
    if text is None:
        return bytes([secrets.randbelow(0x7F) + 1]) + secrets.token_bytes(7)
    digits = text.replace(":", "").replace(" ", "")
    try:
        value = bytes.fromhex(digits if len(digits) % 2 == 0 else "0" + digits)
    except ValueError:
        raise BenchError("serial must be hex digits, not %r" % text)
    if not value:
        raise BenchError("serial needs at least one hex digit")
    return value


def make(path, cn=None, issuer=DEFAULT_ISSUER, serial=None, not_before="-1d", not_after="+365d"):
    """Writes a certificate to path and returns its bytes. serial: hex text or None."""
    data = certificate(cn, issuer, parse_serial(serial), parse_when(not_before), parse_when(not_after))
    with open(path, "wb") as f:
        f.write(data)
    return data


def make_command(ws, args):
    make(args.output, None if args.no_cn else args.cn, args.issuer, args.serial, args.not_before, args.not_after)


def show(ws, path):
    """{field: value} as crypt32 reads the file, in the workstation."""
    ws.require()
    ws.bench_dir.mkdir(parents=True, exist_ok=True)
    copy = ws.bench_dir / "cert-show.der"
    with open(path, "rb") as f:
        copy.write_bytes(f.read())
    try:
        result = ws.tool("bench_cert.exe", "show", ws.windows_path(copy), check=False)
    finally:
        copy.unlink(missing_ok=True)
    fields = {}
    for line in result.stdout.decode("utf-8", errors="replace").splitlines():
        key, _, value = line.strip("\r").partition(" ")
        fields[key] = value
    if result.returncode != 0:
        raise BenchError("crypt32 refused the certificate (bench_cert exit code %d): %s"
                         % (result.returncode, failure_text(result)))
    return fields


def show_command(ws, args):
    for key, value in show(ws, args.file).items():
        print("%s %s" % (key, value))
