"""access PATH other-user|own|open-to-all|usual: who a file or folder of the
workstation belongs to and who may change it, as Wine shows it to Windows
programs. Wine derives a file's security from its Unix owner and mode: a
file of another Unix user is owned by Anonymous (O:AN); mode 777 on a folder
lets Everyone add files to it, 666 on a file lets Everyone write it."""
import os
import re

from benchlib.workstation import BenchError

OTHER_USER = 4321
STATES = ("other-user", "own", "open-to-all", "usual")


def register(sub):
    p = sub.add_parser("access", help="make a file or folder another user's, the user's own, open to all, or usual",
                       epilog="examples:\n  bench/workstation access 'C:\\nivra\\Keyhaven.ini' other-user\n"
                              "  bench/workstation access 'C:\\nivra' open-to-all")
    p.add_argument("path", help="Windows path on drive C:, e.g. C:\\nivra")
    p.add_argument("state", choices=STATES,
                   help="other-user: Unix owner %d (Windows: Anonymous); own: the bench's own user; "
                        "open-to-all: mode 777 (folder) or 666 (file), Everyone may change it; "
                        "usual: mode 755 or 644" % OTHER_USER)
    p.set_defaults(func=command)


def linux_path(ws, windows_path):
    match = re.fullmatch(r"[cC]:[\\/]*(.*)", windows_path)
    if not match:
        raise BenchError("a path on drive C: is needed, not %r" % windows_path)
    path = ws.drive_c.joinpath(*[part for part in re.split(r"[\\/]+", match.group(1)) if part])
    if not path.exists():
        raise BenchError("no such file or folder: %s" % windows_path)
    return path


def set_access(path, state):
    if state == "other-user":
        os.chown(path, OTHER_USER, OTHER_USER)
    elif state == "own":
        os.chown(path, os.getuid(), os.getgid())
    else:
        folder = path.is_dir()
        os.chmod(path, (0o777 if folder else 0o666) if state == "open-to-all" else (0o755 if folder else 0o644))


def command(ws, args):
    ws.require()
    set_access(linux_path(ws, args.path), args.state)
