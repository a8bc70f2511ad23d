"""reference [--small]: a new workstation laid out for the benchmark (bench/perf).

The reference workstation:
  200 ordinary USB device nodes (HID and other classes, vendors that make
      no key tokens), instance IDs PERF000..PERF199
  3 USB tokens of two device nodes each, one per token vendor:
      PERFTOKEN1 (0A89), PERFTOKEN2 (0529), PERFTOKEN3 (096E)
  4 readers: "Perf Reader 0" with a card answering 90 00, "Perf Reader 1"
      with a card answering 61 10 and then 16 bytes + 90 00 (GET RESPONSE),
      "Perf Reader 2" with a card answering 6D 00 (fails the probe),
      "Perf Reader 3" empty
  10 containers with certificates: 4, 3 and 2 on the tokens, 1 on the card
      in "Perf Reader 0"
  100 unrelated certificates in the user's "My" store (no key link)
  Keyhaven.ini with clean_storage = 0, so every run finds the same store.
The small one: 10 ordinary USB device nodes, token PERFTOKEN1 (two nodes),
"Perf Reader 0" with a card answering 90 00, one container on each.

Certificates have fixed serials and dates, so two reference workstations
hold the same store. C:\\bench\\perf\\layout.txt names the layout.
"""
import datetime

from benchlib import certs, core, pcsc, provider, settings, tokens
from benchlib.workstation import BenchError, failure_text

LAYOUT_FILE = "perf/layout.txt"
# Bump when the layout changes, so bench/perf --reuse makes them anew.
LAYOUT_VERSION = 1
UNRELATED_DIR = "perf/unrelated"
PERF_TOOL = "bench_perf.exe"

# Vendors of everyday USB devices, none of them a token vendor.
OTHER_VENDORS = ("046D", "8087", "1D6B", "0BDA", "045E", "413C", "05AC", "0781", "04F2", "138A")
CLASSES = (tokens.HID_CLASS, tokens.USB_CLASS)
TOKENS = (("PERFTOKEN1", "0A89", 4), ("PERFTOKEN2", "0529", 3), ("PERFTOKEN3", "096E", 2))
READERS = (("Perf Reader 0", ["9000"]),
           ("Perf Reader 1", ["6110", "00112233445566778899AABBCCDDEEFF9000"]),
           ("Perf Reader 2", ["6D00"]),
           ("Perf Reader 3", None))
NOT_BEFORE = datetime.datetime(2025, 1, 1)
NOT_AFTER = datetime.datetime(2036, 1, 1)
CA = "Keyhaven Perf CA"


def register(sub):
    p = sub.add_parser("reference", help="a new workstation laid out for the benchmark (bench/perf)",
                       epilog="example:\n  bench/workstation --prefix build/perf-small reference --small --force")
    p.add_argument("--small", action="store_true", help="10 USB nodes, 1 token, 1 reader with a card")
    core.add_force(p)
    p.set_defaults(func=reference_command)


def reference_command(ws, args):
    core.create(ws, force=args.force)
    lay_out(ws, small=args.small)
    print("%s reference workstation ready at %s" % ("small" if args.small else "full", ws.prefix))


def layout_name(small):
    return "%s %d" % ("small" if small else "reference", LAYOUT_VERSION)


def reset(ws):
    """After "reset" the workstation no longer has the reference layout."""
    forget_layout(ws)


def forget_layout(ws):
    (ws.bench_dir / LAYOUT_FILE).unlink(missing_ok=True)


def layout_of(ws):
    """The layout a workstation was made with, or None."""
    path = ws.bench_dir / LAYOUT_FILE
    return path.read_text().strip() if path.is_file() else None


def lay_out(ws, small=False):
    settings.write(ws, clean_storage=0)
    _plug_usb_devices(ws, 10 if small else 200)
    chosen_tokens = TOKENS[:1] if small else TOKENS
    for token_id, vid, _ in chosen_tokens:
        tokens.insert_token(ws, token_id, vid=vid, nodes=2)
    for name, replies in READERS[:1] if small else READERS:
        pcsc.add_reader(ws, name)
        if replies:
            pcsc.insert_card(ws, name, replies)
    serial = 0x7E0100
    for token_id, _, count in chosen_tokens:
        for k in range(1 if small else count):
            serial += 1
            _container(ws, "perf-%s-%c" % (token_id.lower()[4:], "abcd"[k]), "token:" + token_id, serial)
    _container(ws, "perf-card-a", "card:" + READERS[0][0], serial + 1)
    if not small:
        _unrelated_certificates(ws, 100)
    (ws.bench_dir / LAYOUT_FILE).parent.mkdir(parents=True, exist_ok=True)
    (ws.bench_dir / LAYOUT_FILE).write_text(layout_name(small) + "\n")


def _plug_usb_devices(ws, count):
    """count ordinary device nodes in one registry import."""
    lines, nodes = [], tokens.read_devices(ws)
    for i in range(count):
        device_id = "PERF%03d" % i
        hardware_id = "VID_%s&PID_%04X" % (OTHER_VENDORS[i % len(OTHER_VENDORS)], 0x1000 + i)
        lines += tokens.node_lines(hardware_id, device_id, "Keyhaven bench USB device", CLASSES[i % len(CLASSES)])
        nodes.append(("usb", device_id, hardware_id, device_id))
    ws.reg_import(lines)
    tokens.write_devices(ws, nodes)


def _container(ws, name, carrier, serial):
    subject = name.replace("perf-", "Perf ").replace("-", " ").title()
    der = certs.certificate(subject, CA, serial.to_bytes(3, "big"), NOT_BEFORE, NOT_AFTER)
    provider.add_container(ws, name, carrier, der)


def _unrelated_certificates(ws, count):
    folder = ws.bench_dir / UNRELATED_DIR
    folder.mkdir(parents=True, exist_ok=True)
    for i in range(count):
        der = certs.certificate("Unrelated %03d" % i, "Keyhaven Perf Other CA", (0x550000 + i).to_bytes(3, "big"),
                                NOT_BEFORE, NOT_AFTER)
        (folder / ("%03d.der" % i)).write_bytes(der)
    result = ws.tool(PERF_TOOL, "store-add", "dir=" + ws.windows_path(folder), check=False)
    if result.returncode != 0:
        raise BenchError("could not add the unrelated certificates (exit code %d): %s"
                         % (result.returncode, failure_text(result)))
