"""token and usb commands: USB devices as Wine's SetupAPI sees them.

A device node is a key HKLM\\System\\CurrentControlSet\\Enum\\USB\\<hardware
id>\\<instance> with DeviceDesc, ClassGUID and HardwareID values. A token ID
is inserted exactly when some key ...\\Enum\\USB\\<any hardware id>\\<ID>
exists (the provider stand-in relies on it): node 0 of token ID is
VID_<vid>&PID_<pid>\\<ID>; a composite token's further nodes are its
interfaces VID_<vid>&PID_<pid>&MI_<nn>\\<ID>&MI_<nn>.

The nodes the bench added are listed in C:\\bench\\usb-devices.txt, one a
line, TAB-separated: <token|usb> <ID> <hardware id> <instance>, so that
"token remove", "usb remove" and "reset" take away exactly those.
("token insert" is the older name of "token add".)
"""
import re

from benchlib.workstation import BenchError, cp1251

ENUM_USB = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB"
DEVICES = "usb-devices.txt"
VIEW = "bench_carrier_view.exe"
TOKEN_VENDOR = "0A89"
TOKEN_PRODUCT = "0030"
OTHER_PRODUCT = "0001"
USB_CLASS = "{36fc9e60-c465-11cf-8056-444553540000}"  # USB (tokens' nodes)
HID_CLASS = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}"  # HIDClass (a mouse, say)
HEX4 = re.compile(r"^(?:VID_|PID_)?([0-9A-Fa-f]{4})$")


def register(sub):
    p = sub.add_parser("token", help="USB key tokens",
                       epilog="examples:\n  bench/workstation token add 0001\n"
                              "  bench/workstation token add 0002 --vid 096E --nodes 2\n"
                              "  bench/workstation token remove 0001")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    i = s.add_parser("add", aliases=["insert"], help="insert a token of vendor VID with N device nodes")
    i.add_argument("id", help="instance name of node 0 (e.g. 0001)")
    i.add_argument("--vid", default=TOKEN_VENDOR, help="vendor, e.g. 0A89 (default), 0529, 096E")
    i.add_argument("--pid", default=TOKEN_PRODUCT, help="product, four hex digits (default %(default)s)")
    i.add_argument("--nodes", type=int, default=1, help="device nodes of a composite token (default 1)")
    i.set_defaults(func=lambda ws, args: insert_token(ws, args.id, args.vid, args.pid, args.nodes))
    r = s.add_parser("remove", help="pull the token out: its device nodes go")
    r.add_argument("id", help="the ID it was inserted with")
    r.set_defaults(func=lambda ws, args: remove_device(ws, "token", args.id))

    p = sub.add_parser("usb", help="ordinary (non-token) USB devices, and every node the bench added",
                       epilog="example:\n  bench/workstation usb add M1 --vid 046D")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    a = s.add_parser("add", help="a USB device that is no key token")
    a.add_argument("id", help="its instance name")
    a.add_argument("--vid", required=True, help="vendor, four hex digits")
    a.add_argument("--pid", default=OTHER_PRODUCT, help="product, four hex digits (default %(default)s)")
    a.add_argument("--class-guid", default=HID_CLASS, help="device class (default HIDClass)")
    a.set_defaults(func=lambda ws, args: add_usb_device(ws, args.id, args.vid, args.pid, args.class_guid))
    r = s.add_parser("remove", help="unplug the device: its node goes")
    r.add_argument("id", help="the ID it was added with")
    r.set_defaults(func=lambda ws, args: remove_device(ws, "usb", args.id))
    l = s.add_parser("list", help="the nodes the bench added: kind, ID, hardware id, instance")
    l.set_defaults(func=list_command)
    v = s.add_parser("show", aliases=["view"], help="the present USB device instance IDs as SetupAPI gives them")
    v.set_defaults(func=view_command)


def reset(ws):
    nodes = read_devices(ws)
    if nodes and ws.exists():
        ws.reg_import(["[-%s\\%s\\%s]" % (ENUM_USB, hardware_id, instance) for _, _, hardware_id, instance in nodes])
    (ws.bench_dir / DEVICES).unlink(missing_ok=True)


def read_devices(ws):
    path = ws.bench_dir / DEVICES
    if not path.is_file():
        return []
    return [tuple(line.split("\t")) for line in path.read_text().splitlines() if line.count("\t") == 3]


def write_devices(ws, nodes):
    ws.bench_dir.mkdir(parents=True, exist_ok=True)
    (ws.bench_dir / DEVICES).write_bytes("".join("\t".join(n) + "\r\n" for n in nodes).encode())


def hex4(text, what):
    match = HEX4.match(text)
    if not match:
        raise BenchError("%s %r is not four hex digits" % (what, text))
    return match.group(1).upper()


def multi_sz_hex(strings):
    data = "".join(s + "\0" for s in strings) + "\0"
    return ",".join("%02x" % b for b in data.encode("ascii"))


def node_lines(hardware_id, instance, description, class_guid):
    return ["[%s\\%s\\%s]" % (ENUM_USB, hardware_id, instance),
            '"DeviceDesc"="%s"' % description,
            '"ClassGUID"="%s"' % class_guid,
            '"HardwareID"=hex(7):%s' % multi_sz_hex(["USB\\" + hardware_id]),
            ""]


def _check_new(ws, device_id):
    if not device_id or any(c in device_id for c in "\\\t\r\n"):
        raise BenchError("a device ID is not empty and holds no backslash, TAB or line break: %r" % device_id)
    cp1251(device_id, "device ID")
    if any(n[1] == device_id for n in read_devices(ws)):
        raise BenchError("device %r is already plugged in" % device_id)


def _plug(ws, kind, device_id, nodes, description, class_guid):
    lines = []
    for hardware_id, instance in nodes:
        lines += node_lines(hardware_id, instance, description, class_guid)
    ws.reg_import(lines)
    write_devices(ws, read_devices(ws) + [(kind, device_id, h, i) for h, i in nodes])


def insert_token(ws, token_id, vid=TOKEN_VENDOR, pid=TOKEN_PRODUCT, nodes=1):
    ws.require()
    _check_new(ws, token_id)
    if nodes < 1:
        raise BenchError("a token has at least one device node")
    base = "VID_%s&PID_%s" % (hex4(vid, "vendor"), hex4(pid, "product"))
    plan = [(base, token_id)] + [("%s&MI_%02d" % (base, k), "%s&MI_%02d" % (token_id, k)) for k in range(nodes - 1)]
    _plug(ws, "token", token_id, plan, "Keyhaven bench USB token", USB_CLASS)


def add_usb_device(ws, device_id, vid, pid=OTHER_PRODUCT, class_guid=HID_CLASS):
    ws.require()
    _check_new(ws, device_id)
    base = "VID_%s&PID_%s" % (hex4(vid, "vendor"), hex4(pid, "product"))
    _plug(ws, "usb", device_id, [(base, device_id)], "Keyhaven bench USB device", class_guid)


def remove_device(ws, kind, device_id):
    ws.require()
    nodes = read_devices(ws)
    gone = [n for n in nodes if n[0] == kind and n[1] == device_id]
    if not gone:
        raise BenchError("no %s %r is plugged in" % (kind, device_id))
    ws.reg_import(["[-%s\\%s\\%s]" % (ENUM_USB, n[2], n[3]) for n in gone])
    write_devices(ws, [n for n in nodes if n not in gone])


def list_command(ws, args):
    ws.require()
    for node in read_devices(ws):
        print("\t".join(node))


def view_command(ws, args):
    ws.require()
    result = ws.tool(VIEW, "usb", check=False)
    print(result.stdout.decode().replace("\r\n", "\n"), end="")
    return result.returncode
