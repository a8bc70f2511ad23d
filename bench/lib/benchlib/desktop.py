"""The portal's desktop pieces: the plug-in DLL at C:/nivra/dererarizoduz.dll
(records its (un)registration with the time), the forms viewer's preferences
source under %ALLUSERSPROFILE%, and regsvr32 itself.

  plugin add|remove|record          the plug-in DLL; its calls as "register|unregister <unix ms>"
  prefs add [--text T]|remove       C:\\ProgramData\\Nivra\\Prefs\\prefs.config
                                    ("place" is the older name of "add")
  prefs show                        the user's copy, if any
  regsvr32 hide|restore             take the registration tool away from its path
"""
import shutil

from benchlib.workstation import BenchError

PLUGIN = "bench_plugin.dll"
PLUGIN_NAME = "dererarizoduz.dll"


def register(sub):
    p = sub.add_parser("plugin", help="the portal plug-in DLL in C:/nivra and its registration record")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    a = s.add_parser("add", aliases=["place"], help="put the plug-in at C:/nivra/" + PLUGIN_NAME)
    a.set_defaults(func=plugin_command)
    a = s.add_parser("remove", help="take it away")
    a.set_defaults(func=plugin_command)
    a = s.add_parser("record", help="its (un)registrations so far: register|unregister UNIX_MS")
    a.set_defaults(func=plugin_command)

    p = sub.add_parser("prefs", help="the forms viewer's preferences: the all-users source, the user's copy",
                       epilog="example:\n  bench/workstation prefs add --text 'portal prefs'")
    s = p.add_subparsers(dest="action", metavar="ACTION")
    s.required = True
    a = s.add_parser("add", aliases=["place"], help="write the all-users source C:\\ProgramData\\Nivra\\Prefs"
                                                     "\\prefs.config")
    a.add_argument("--text", default="viewer preferences from the portal\r\n", help="its content")
    a.set_defaults(func=prefs_command)
    a = s.add_parser("remove", help="delete the all-users source")
    a.set_defaults(func=prefs_command)
    a = s.add_parser("show", help="the user's copy the agent made, if any")
    a.set_defaults(func=prefs_command)

    p = sub.add_parser("regsvr32", help="hide or restore C:/Windows/System32/regsvr32.exe")
    p.add_argument("action", choices=["hide", "restore"], help="hide: rename it away; restore: put it back")
    p.set_defaults(func=regsvr32_command)


def install(ws, registry):
    shutil.copy2(ws.built(PLUGIN), ws.bench_dir / "bin" / PLUGIN)


def reset(ws):
    remove_plugin(ws)
    record_path(ws).unlink(missing_ok=True)
    source_path(ws).unlink(missing_ok=True)
    for folder in user_folders(ws):
        shutil.rmtree(folder, ignore_errors=True)
    restore_regsvr32(ws)


# --- plug-in --------------------------------------------------------------
def plugin_path(ws):
    return ws.nivra / PLUGIN_NAME


def record_path(ws):
    return ws.bench_dir / "plugin-record.txt"


def place_plugin(ws):
    ws.nivra.mkdir(parents=True, exist_ok=True)
    shutil.copy2(ws.bench_dir / "bin" / PLUGIN, plugin_path(ws))


def remove_plugin(ws):
    if plugin_path(ws).is_file():
        plugin_path(ws).unlink()


def plugin_record(ws):
    """[(call, unix_ms)] in the order the plug-in saw them."""
    path = record_path(ws)
    if not path.is_file():
        return []
    calls = []
    for line in path.read_text().splitlines():
        call, _, ms = line.partition(" ")
        calls.append((call, int(ms)))
    return calls


def plugin_command(ws, args):
    ws.require()
    if args.action in ("add", "place"):
        place_plugin(ws)
    elif args.action == "remove":
        remove_plugin(ws)
    else:
        for call, ms in plugin_record(ws):
            print(call, ms)


# --- preferences ----------------------------------------------------------
def source_path(ws):
    return ws.drive_c / "ProgramData" / "Nivra" / "Prefs" / "prefs.config"


def user_folders(ws):
    """The viewer's folder in each user's roaming application data."""
    return [roaming / "PureEdge" for roaming in (ws.drive_c / "users").glob("*/AppData/Roaming")]


def user_copies(ws):
    return [folder / "Viewer 7.5" / "prefs" / "prefs.config" for folder in user_folders(ws)]


def prefs_command(ws, args):
    ws.require()
    if args.action in ("add", "place"):
        source_path(ws).parent.mkdir(parents=True, exist_ok=True)
        source_path(ws).write_bytes(args.text.encode())
    elif args.action == "remove":
        source_path(ws).unlink(missing_ok=True)
    else:
        copies = [c for c in user_copies(ws) if c.is_file()]
        if not copies:
            raise BenchError("no user copy of the preferences")
        for copy in copies:
            print("%s:\n%s" % (copy, copy.read_bytes().decode(errors="replace")))


# --- regsvr32 -------------------------------------------------------------
def regsvr32_paths(ws):
    tool = ws.drive_c / "windows" / "system32" / "regsvr32.exe"
    return tool, tool.with_name("regsvr32.exe.hidden-by-bench")


def hide_regsvr32(ws):
    tool, hidden = regsvr32_paths(ws)
    if tool.exists():
        tool.rename(hidden)


def restore_regsvr32(ws):
    tool, hidden = regsvr32_paths(ws)
    if hidden.exists():
        hidden.rename(tool)


def regsvr32_command(ws, args):
    ws.require()
    hide_regsvr32(ws) if args.action == "hide" else restore_regsvr32(ws)
