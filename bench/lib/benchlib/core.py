"""create and reset: a new workstation, or a clean slate on an existing one."""
import shutil
import subprocess

from benchlib.workstation import BenchError, ensure_template


def register(sub):
    p = sub.add_parser("create", help="a new workstation: prefix, locale, stand-ins installed, agent copied in",
                       epilog="example:\n  bench/workstation --prefix build/ws create --force")
    p.add_argument("--no-agent", action="store_true",
                   help="stand-ins only, no agent in C:\\Program Files\\Keyhaven: for trying the package")
    add_force(p)
    from benchlib import pcsc
    pcsc.add_mode_option(p)
    p.set_defaults(func=lambda ws, args: create(ws, agent=not args.no_agent, force=args.force, pcsc_mode=args.pcsc))
    p = sub.add_parser("logon", help="a user logs on: the HKLM and HKCU ...\\CurrentVersion\\Run values start "
                                     "(plain wineboot)")
    p.set_defaults(func=logon_command)
    p = sub.add_parser("reset", help="stop the agent and clear carriers, store, records and c:\\nivra")
    p.set_defaults(func=reset_command)
    p = sub.add_parser("install", help="copy the freshly built agent and stand-ins into the workstation")
    p.set_defaults(func=install_command)
    p = sub.add_parser("server", help="start (or stop) the workstation's persistent wineserver")
    p.add_argument("action", choices=["start", "stop"], help="start: one that stays; stop: it and every program")
    p.add_argument("--faketime", metavar="WHEN",
                   help="start: restart it (every program ends) under a clock set to WHEN (UTC) and running on, "
                        "with the services it starts (the keeper among them), until the next reset")
    p.set_defaults(func=server_command)


def add_force(parser):
    parser.add_argument("--force", action="store_true",
                        help="replace the workstation already at the prefix (everything in it is lost)")


def _modules():
    from benchlib.cli import loaded_modules
    return loaded_modules()


def create(ws, agent=True, force=False, pcsc_mode="standin"):
    """A new workstation at ws.prefix; one already there only when force."""
    if ws.exists() and not force:
        raise BenchError("a workstation is already at %s (--force replaces it)" % ws.prefix)
    if not ws.exists() and ws.prefix.is_dir() and any(ws.prefix.iterdir()):
        raise BenchError("%s holds files and is no workstation: not replacing it" % ws.prefix)
    from benchlib import agent as agents
    if ws.exists():
        agents.stop_all(ws)
    ws.stop_server()
    template = ensure_template()
    shutil.rmtree(ws.prefix, ignore_errors=True)
    ws.prefix.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["cp", "-a", str(template), str(ws.prefix)], check=True)
    (ws.prefix / ".complete").unlink(missing_ok=True)
    ws.ensure_server()
    from benchlib import pcsc
    pcsc.choose_mode(ws, pcsc_mode)
    install_command(ws, None, agent=agent)
    print("workstation ready at %s" % ws.prefix)


def logon_command(ws, args):
    ws.require()
    ws.ensure_server()
    # Started programs outlive the logon: no pipe of ours for them to hold.
    ws.wine("wineboot", capture=False)


def install_command(ws, args, agent=True):
    ws.require()
    ws.bench_dir.mkdir(parents=True, exist_ok=True)
    (ws.bench_dir / "bin").mkdir(exist_ok=True)
    for tool in ws.bin_dir.glob("bench_*.exe"):
        shutil.copy2(tool, ws.bench_dir / "bin" / tool.name)
    # A crashing program ends at once with its exception code, instead of
    # waiting for Wine's crash debugger (whose exit code may read as success).
    registry = ["[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]",
                '"Debugger"=-', ""]
    for module in _modules():
        if hasattr(module, "install") and (agent or module.__name__ != "benchlib.agent"):
            module.install(ws, registry)
    ws.reg_import(registry)


def reset_command(ws, args):
    ws.require()
    for module in _modules():
        if hasattr(module, "reset"):
            module.reset(ws)


def server_command(ws, args):
    ws.require()
    if args.action == "start" and args.faketime:
        from benchlib import agent
        agent.restart_server(ws, args.faketime)
    elif args.action == "start":
        ws.ensure_server()
    else:
        ws.stop_server()
