"""boxes [list] | close | screenshot FILE.png: the message boxes open on the
workstation's desktop.

Wine shows a box only when its program has an X display (without one
MessageBoxA returns -1 at once), and keeps one desktop per display: run the
agent with "agent start --display" and these commands with the same
$DISPLAY (an Xvfb server, for instance). bench_boxes.exe finds the boxes
(top-level windows of class "#32770") in the workstation.

    boxes [list]          one line per box: CAPTION TAB TEXT (UTF-8; the
                          text's line breaks shown as \\n)
    boxes close           presses OK on every box; prints how many closed
    boxes screenshot F    the whole X screen as a PNG (xwd + ImageMagick)

Python callers use open_boxes(ws), which returns Box records; the texts the
agent's warning boxes carry (CAPTION, days_left_text, expired_text) and
warning_dates, the validity of a certificate that warns on any day, serve
the tests that judge those boxes.
"""
import datetime
import os
import subprocess
import sys
from collections import namedtuple

from benchlib.workstation import BenchError, failure_text

TOOL = "bench_boxes.exe"

# hwnd as the tool prints it; pid and tid are Windows ids of the box's owner.
Box = namedtuple("Box", "hwnd pid tid caption text buttons")

# The agent's warning boxes: caption and texts as users read them. The
# days-left text has a Latin "c" in "работа c ним", the expired text a
# Cyrillic one.
CAPTION = "Менеджер сертификатов"
DAYS_LEFT = ("Срок действия сертификата на имя \"{name}\" истекает через {days} {form}!\n"
             "Пожалуйста, обратитесь за перевыпуском сертификата.\n"
             "В противном случае, работа c ним в системе станет невозможной через {days} {form}.")
EXPIRED = ("Срок действия сертификата на имя \"{name}\" истёк. "
           "Дальнейшая работа с ним в системе невозможна.")


def register(sub):
    p = sub.add_parser("boxes", help="message boxes open on the workstation's desktop ($DISPLAY)")
    p.set_defaults(func=list_command)
    s = p.add_subparsers(dest="action", metavar="ACTION")
    l = s.add_parser("list", help="caption and text of each box (the default)")
    l.set_defaults(func=list_command)
    c = s.add_parser("close", help="press OK on every box")
    c.set_defaults(func=lambda ws, args: print("closed %d" % close_boxes(ws)))
    g = s.add_parser("screenshot", help="the X screen as a PNG file")
    g.add_argument("file", metavar="FILE.png", help="where to write it")
    g.set_defaults(func=lambda ws, args: screenshot(args.file))


def days_left_text(name, days, form):
    """form: "день", "дня" or "дней", as the number asks."""
    return DAYS_LEFT.format(name=name, days=days, form=form)


def expired_text(name):
    return EXPIRED.format(name=name)


def warning_dates(now=None):
    """(not_before, not_after, expired): UTC validity dates of a certificate
    the agent warns about whatever the day. It expires a day from now, which
    gives the days-left box ("1 день", or "0 дней" should midnight pass
    before the check); except on 31 December, when a day from now is next
    year, which gives no warning: then it expired a day ago (expired is
    True), which gives the expired box."""
    now = now or datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0, tzinfo=None)
    day = datetime.timedelta(days=1)
    if (now + day).year == now.year:
        return now - 30 * day, now + day, False
    return now - 30 * day, now - day, True


def _run(ws, action):
    ws.require()
    try:
        result = ws.tool(TOOL, action, check=False, display=True, timeout=60)
    except subprocess.TimeoutExpired:
        raise BenchError("bench_boxes %s did not end within 60 s (is the desktop on DISPLAY %s?)"
                         % (action, os.environ.get("DISPLAY")))
    lines = [line.rstrip("\r") for line in result.stdout.decode("utf-8", errors="replace").splitlines()]
    if result.returncode != 0:
        raise BenchError("bench_boxes %s failed (exit code %d): %s" % (action, result.returncode, failure_text(result)))
    return lines


def _text(field):
    return "" if field == "-" else bytes.fromhex(field).decode("utf-8")


def open_boxes(ws):
    """[Box] open now on the desktop of $DISPLAY."""
    boxes = []
    for line in _run(ws, "list"):
        fields = line.split("\t")
        if len(fields) != 7 or fields[0] != "box":
            raise BenchError("unexpected line from bench_boxes: %r" % line)
        buttons = _text(fields[6])
        boxes.append(Box(fields[1], int(fields[2]), int(fields[3]), _text(fields[4]), _text(fields[5]),
                         buttons.split("|") if buttons else []))
    return boxes


def close_boxes(ws):
    """Presses OK on every open box and waits until they are gone; returns
    how many there were."""
    return int(_run(ws, "close")[0].split()[1])


def screenshot(path, display=None):
    """Writes the whole screen of the X display (default $DISPLAY) to path as PNG."""
    display = display or os.environ.get("DISPLAY")
    if not display:
        raise BenchError("no X display: set DISPLAY (e.g. an Xvfb server the agent shows its boxes on)")
    dump = subprocess.run(["xwd", "-root", "-silent", "-display", display], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60)
    if dump.returncode != 0:
        raise BenchError("xwd failed: %s" % dump.stderr.decode(errors="replace").strip())
    picture = subprocess.run(["convert", "xwd:-", "png:%s" % path], input=dump.stdout, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, timeout=60)
    if picture.returncode != 0:
        raise BenchError("convert failed: %s" % picture.stderr.decode(errors="replace").strip())


def list_command(ws, args):
    for box in open_boxes(ws):
        line = "%s\t%s\n" % (box.caption, box.text.replace("\r\n", "\n").replace("\n", "\\n"))
        sys.stdout.buffer.write(line.encode("utf-8"))
    sys.stdout.flush()
