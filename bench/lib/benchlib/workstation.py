"""A workstation: one Wine prefix with the agent and the bench stand-ins.

Everything outside the agent that a test or a person needs to set up on it
goes through this class, so that bench/workstation, the scenario tests and
the README's main job all see the same machine.
"""
import argparse
import fcntl
import os
import signal
import shutil
import subprocess
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[3]
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/bin/wineserver"
TEMPLATE = REPO / "build" / "wine-template"


class BenchError(Exception):
    """A bench command that cannot do what it was asked (exit status 2)."""
    status = 2


class CheckFailed(BenchError):
    """The command was done, and what it checks is not so (exit status 1)."""
    status = 1


def one_line(text):
    """Text of several lines as one line, the lines joined by " | "."""
    if isinstance(text, bytes):
        text = text.decode(errors="replace")
    return " | ".join(line.strip() for line in str(text).splitlines() if line.strip())


def failure_text(result):
    """What a finished program said about its failure, in one line: its
    "error ..." lines on standard output, then its standard error."""
    said = [line for line in (result.stdout or b"").decode(errors="replace").splitlines()
            if line.startswith("error")]
    said.append((result.stderr or b"").decode(errors="replace"))
    return one_line("\n".join(said)) or "nothing said"


def existing_file(text):
    """argparse type: the name of a file that exists and can be read."""
    if not os.path.isfile(text):
        raise argparse.ArgumentTypeError("no file %s" % text)
    if not os.access(text, os.R_OK):
        raise argparse.ArgumentTypeError("cannot read %s" % text)
    return text


def cp1251(text, what):
    """text, checked to be writable in the bench's files (code page 1251)."""
    try:
        text.encode("cp1251")
    except UnicodeEncodeError:
        raise BenchError("%s %r is not in code page 1251" % (what, text))
    return text


class Workstation:
    def __init__(self, prefix=None):
        chosen = prefix or os.environ.get("KEYHAVEN_WORKSTATION") or REPO / "build" / "workstation"
        self.prefix = Path(chosen).resolve()
        self.bin_dir = Path(os.environ.get("KEYHAVEN_BIN") or REPO / "build" / "mingw" / "bin").resolve()

    # --- places -----------------------------------------------------------
    @property
    def drive_c(self):
        return self.prefix / "drive_c"

    @property
    def bench_dir(self):
        """C:\\bench: the stand-ins' state and records."""
        return self.drive_c / "bench"

    @property
    def nivra(self):
        """C:\\nivra: the agent's data folder."""
        return self.drive_c / "nivra"

    @property
    def agent_dir(self):
        return self.drive_c / "Program Files" / "Keyhaven"

    def exists(self):
        return (self.prefix / "system.reg").is_file()

    def require(self):
        if not self.exists():
            raise BenchError("no workstation at %s (run: bench/workstation create)" % self.prefix)

    @staticmethod
    def windows_path(path):
        """C:\\... form of a path below drive_c."""
        parts = Path(path).resolve().parts
        i = parts.index("drive_c")
        return "C:\\" + "\\".join(parts[i + 1:])

    def built(self, name):
        path = self.bin_dir / name
        if not path.is_file():
            raise BenchError("%s is not built (cmake --build --preset mingw)" % path)
        return path

    # --- Wine -------------------------------------------------------------
    def env(self, display=False, extra=None):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEDEBUG": "-all",
            # Wine takes the ANSI code page from the locale: 1251 here.
            "LANG": "ru_RU.UTF-8",
            "LC_ALL": "ru_RU.UTF-8",
        })
        if not display:
            env.pop("DISPLAY", None)
        if extra:
            env.update(extra)
        return env

    def wine(self, *args, check=True, capture=True, timeout=120, cwd=None, display=False, env=None):
        result = subprocess.run([WINE64, *map(str, args)], env=self.env(display, env), cwd=cwd,
                                stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                                stderr=subprocess.PIPE if capture else subprocess.DEVNULL,
                                timeout=timeout)
        if check and result.returncode != 0:
            raise BenchError("wine %s failed (exit code %d): %s" % (" ".join(map(str, args)), result.returncode,
                                                                    failure_text(result)))
        return result

    def tool(self, name, *args, **kwargs):
        """Runs one of the bench's own Windows programs (C:\\bench\\bin)."""
        return self.wine(self.bench_dir / "bin" / name, *args, **kwargs)

    def start_tool(self, name, *args, timeout=30):
        """Starts a bench program that prints "ready" once it is in its
        state, leaves it running in the background and returns its pid."""
        self.ensure_server()
        return start_until_ready([WINE64, self.bench_dir / "bin" / name, *args], self.env(), self.bench_dir,
                                 timeout, label=" ".join(map(str, [name, *args])))

    def wineserver(self, *args):
        subprocess.run([WINESERVER, *args], env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def ensure_server(self):
        """A persistent wineserver with a warmed-up prefix: a process then
        starts in a twentieth of the cold time, and Wine's helper processes
        do not hold the callers' pipes."""
        self.wineserver("-p")
        subprocess.run([WINE64, "cmd", "/c", "exit"], env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def stop_server(self):
        if self.prefix.is_dir():
            self.wineserver("-k")

    def reg_import(self, lines):
        """Imports registry lines (REGEDIT4 syntax) in one regedit run."""
        if not lines:
            return
        self.bench_dir.mkdir(parents=True, exist_ok=True)
        path = self.bench_dir / "import.reg"
        path.write_bytes(("REGEDIT4\r\n\r\n" + "\r\n".join(lines) + "\r\n").encode("cp1251"))
        self.wine("regedit", "/S", self.windows_path(path))
        path.unlink()

    def reg(self, *args, check=True):
        return self.wine("reg", *args, check=check)


def ensure_template():
    """A freshly booted prefix, made once and copied for every workstation."""
    TEMPLATE.parent.mkdir(parents=True, exist_ok=True)
    with open(str(TEMPLATE) + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if (TEMPLATE / "system.reg").is_file() and (TEMPLATE / ".complete").is_file():
            return TEMPLATE
        shutil.rmtree(TEMPLATE, ignore_errors=True)
        env = Workstation(TEMPLATE).env(extra={"WINEDLLOVERRIDES": "mscoree,mshtml="})
        subprocess.run([WINE64, "wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=True)
        # The registry reaches its files only when the server is done.
        subprocess.run([WINESERVER, "-w"], env=env, timeout=300, check=True)
        (TEMPLATE / ".complete").touch()
        return TEMPLATE


def spawn_detached(args, env, cwd=None, output="/dev/null", errors="/dev/null"):
    """Starts a program that outlives this one, its output going to the file
    output and its error output to the file errors, and returns its pid."""
    script = 'cd "$0" && out="$1" && err="$2" && shift 2 && setsid "$@" </dev/null >"$out" 2>"$err" & echo $!'
    shell = subprocess.run(["/bin/sh", "-c", script, str(cwd or "/"), str(output), str(errors), *map(str, args)],
                           env=env, stdout=subprocess.PIPE, check=True)
    return int(shell.stdout)


def start_until_ready(args, env, folder, timeout, label=None):
    """Starts a program that prints "ready" once it is in its state, leaves
    it running in the background and returns its pid; BenchError (and the
    program ended) when it ends or stays unready for timeout seconds. Its
    output passes through two files in folder, removed afterwards."""
    label = label or " ".join(map(str, args))
    ready = Path(folder) / ("%s-%d.out" % (Path(str(args[0])).name, time.monotonic_ns()))
    errors = ready.with_suffix(".err")
    pid = spawn_detached(args, env, output=ready, errors=errors)
    try:
        wait_until(lambda: read_if_any(ready).strip() == b"ready" or not alive(pid), timeout)
        if read_if_any(ready).strip() != b"ready":
            kill_all([pid])
            said = one_line(read_if_any(errors)) or "nothing said"
            raise BenchError("%s %s: %s" % (label, "ended before it was ready" if not alive(pid)
                                            else "did not get ready within %g s" % timeout, said))
    finally:
        ready.unlink(missing_ok=True)
        errors.unlink(missing_ok=True)
    return pid


def read_if_any(path):
    """The bytes of a file, or none while it is not there."""
    try:
        return Path(path).read_bytes()
    except FileNotFoundError:
        return b""


def alive(pid):
    """The process runs (and is no zombie)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def workstation_pids(ws, program, argument=None):
    """Unix pids of the processes of this workstation whose program (argv[0],
    compared by file name, case-insensitive) is program and, if given, whose
    arguments include argument."""
    pids = []
    wanted = ("WINEPREFIX=%s" % ws.prefix).encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            argv = (entry / "cmdline").read_bytes().split(b"\0")
            name = argv[0].replace(b"\\", b"/").rsplit(b"/", 1)[-1].lower()
            if name != program.lower().encode():
                continue
            if argument is not None and argument.encode() not in argv[1:]:
                continue
            if wanted in (entry / "environ").read_bytes().split(b"\0"):
                pids.append(int(entry.name))
        except OSError:
            continue
    return sorted(pids)


def kill_all(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def wait_until(predicate, timeout, interval=0.05):
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= end:
            return value
        time.sleep(interval)
