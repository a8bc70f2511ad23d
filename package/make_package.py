#!/usr/bin/env python3
"""Builds keyhaven-<version>-x64.msi from a built keyhaven.exe and keyhaven-setup.dll.

    package/make_package.py --exe build/mingw/bin/keyhaven.exe --out DIR [--release]

Into DIR it writes keyhaven.exe, keyhaven-status.exe and keyhaven-keeper.exe
(without debug information, signed), their symbols (keyhaven.exe.debug and
so on, found by gdb through the debug link) and the signed package. The steps, in the order signatures require:

 1. The package version comes from the executable's own product version
    A.B.C.D as A.B.(C*1000+D): Windows Installer compares only the first three
    fields, so 1.0.2.1 becomes 1.0.2001 and every later build number, patch,
    minor or major version installs over it (C at most 64, D at most 999).
    The product code is derived from that version, so a rebuild of one
    version is the same product.
 2. The debug information goes to keyhaven.exe.debug (and
    keyhaven-status.exe.debug); the executable that ships keeps only a link
    to it.
 3. The executables and keyhaven-setup.dll (the package's own actions) are
    signed before they go into the package.
 4. wixl builds the package from keyhaven.wxs; msibuild then adds what wixl
    ignores or refuses: the settings file never overwritten and never
    removed, the data folder never removed and fixed at c:\nivra, the
    security of both, the executable's file version, and the actions of
    keyhaven-setup.dll with their conditions and places.
 5. The package is signed last: any change after that breaks its signature.

Signing uses the certificate named by the environment: KEYHAVEN_SIGN_PKCS12
(a PKCS#12 file), KEYHAVEN_SIGN_PASSWORD (its password) and
KEYHAVEN_SIGN_TIMESTAMP_URL (an RFC 3161 time-stamp server). Without one it
makes a throw-away test CA and code-signing certificate under --test-ca
(default: DIR/../signing) and signs with that, so every build takes the
signing path; such a package is named keyhaven-<version>-x64-test.msi.
--release refuses both the throw-away CA and signing without a time stamp.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid
from pathlib import Path

HERE = Path(__file__).resolve().parent
# The keeper service's names have one home, which its programs compile.
KEEPER_NAMES = HERE.parent / "src" / "platform" / "package_names.h"
# wixl variable: the constant of package_names.h it takes.
KEEPER_VARIABLES = {"KeeperService": "service_name", "KeeperDisplayName": "display_name",
                    "KeeperEventSource": "event_source", "KeeperSettingsKey": "settings_key",
                    "KeeperRetentionValue": "retention_value"}
UPGRADE_CODE = "6B1E4C36-3B0D-4E4B-9B55-3F1C2A7E9D11"
# Security the package sets (MsiLockPermissionsEx; wixl cannot).
# docs/administrators/reliability-and-security.md gives each entry's reason; Windows applies them,
# Wine ignores them. In c:\nivra users list and read, and append to the
# files that let them (the day's logs); they add, delete and change nothing.
DATA_FOLDER_SDDL = "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)(A;OIIO;0x1200a9;;;BU)"
SETTINGS_SDDL = "O:BAG:SYD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)"
# Component attributes: 64-bit (256), never overwrite (128), permanent (16).
PERMANENT_COMPONENTS = {"DataFolder": 256 + 16, "Settings": 256 + 128 + 16}
# The actions: (name, type, source, target, sequence, condition). Type 1 is
# a function of keyhaven-setup.dll (Binary "KeyhavenSetup"), 51 sets a
# property (a deferred action's CustomActionData is the property of its
# name); 1024 defers to the script, 512 with it runs only once the install
# has succeeded (commit), 2048 runs as the installing account, not the user.
# Agents are ended only when keyhaven.exe is installed over (a first install,
# or this version's install during an upgrade) or removed (a removal, or the
# old product's removal during an upgrade): never on a repair, a re-run or
# a change of properties, which are all maintenance of an installed product.
ENDS_AGENTS = 'NOT Installed OR REMOVE~="ALL"'
# PrepareDataFolder runs before CreateFolders, so that Windows Installer's
# own steps by path meet only the folder it kept or made; it is given the
# folder's security, StopAgents the folder of the programs it may end.
ACTIONS = [
    ("SetNivraDir", 51, "NivraDir", "C:\\nivra\\", 790, ""),
    ("CheckInstall", 1, "KeyhavenSetup", "CheckInstall", 1001, 'NOT REMOVE~="ALL"'),
    ("SetInstallLocation", 51, "ARPINSTALLLOCATION", "[KeyhavenDir]", 1002, ""),
    ("SetStartAgents", 51, "StartAgents", "[KeyhavenDir]keyhaven.exe", 1003, ""),
    ("SetStopAgents", 51, "StopAgents", "[KeyhavenDir]", 1004, ""),
    ("SetPrepareDataFolder", 51, "PrepareDataFolder", DATA_FOLDER_SDDL, 1005, ""),
    # Programs and Features' help link: the guide installed with the package.
    ("SetHelpLink", 51, "ARPHELPLINK", "[KeyhavenDir]guide\\index.html", 1006, ""),
    ("StopAgents", 1 + 1024 + 2048, "KeyhavenSetup", "StopAgents", 1501, ENDS_AGENTS),
    ("PrepareDataFolder", 1 + 1024 + 2048, "KeyhavenSetup", "PrepareDataFolder", 3650, 'NOT REMOVE~="ALL"'),
    ("WriteSettings", 1 + 1024 + 2048, "KeyhavenSetup", "WriteSettings", 6590, 'WriteSettings AND NOT REMOVE~="ALL"'),
    ("StartAgents", 1 + 512 + 1024 + 2048, "KeyhavenSetup", "StartAgents", 6591, 'NOT Installed AND NOT REMOVE~="ALL"'),
]
# Also before costing when the install shows its own dialogs.
UI_ACTIONS = ("SetNivraDir",)
TEST_PASSWORD = "keyhaven-test"


class PackageError(Exception):
    pass


def run(*command, **kwargs):
    result = subprocess.run([str(c) for c in command], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kwargs)
    if result.returncode != 0:
        raise PackageError("%s failed (%d):\n%s" % (command[0], result.returncode,
                                                    result.stdout.decode(errors="replace")))
    return result.stdout.decode(errors="replace")


def product_version(exe):
    """The four words of the product version in the fixed version record."""
    data = Path(exe).read_bytes()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise PackageError("%s has no version resource" % exe)
    ms, ls = struct.unpack_from("<II", data, at + 16)
    return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF


def package_version(version):
    major, minor, patch, build = version
    if major > 255 or minor > 255 or patch > 64 or build > 999:
        raise PackageError("version %d.%d.%d.%d cannot be a package version: major and minor at most 255, "
                           "patch at most 64, build at most 999" % version)
    return "%d.%d.%d" % (major, minor, patch * 1000 + build)


def product_code(msi_version):
    return str(uuid.uuid5(uuid.UUID(UPGRADE_CODE), "keyhaven " + msi_version)).upper()


def test_identity(folder):
    """A throw-away CA and a code-signing certificate it issued (PKCS#12),
    made once per build tree; returns (p12, password file)."""
    folder.mkdir(parents=True, exist_ok=True)
    p12, password = folder / "test-codesign.p12", folder / "test-password.txt"
    ca_key, ca_crt = folder / "test-ca.key", folder / "test-ca.crt"
    # A tree's CA from before it was limited to code signing is made anew.
    if p12.is_file() and password.is_file() and ca_crt.is_file() and \
            "Code Signing" in run("openssl", "x509", "-in", ca_crt, "-noout", "-ext", "extendedKeyUsage"):
        return p12, password
    key, csr, crt, ext = (folder / n for n in ("test-codesign.key", "test-codesign.csr", "test-codesign.crt",
                                               "test-codesign.ext"))
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_crt,
        "-days", "3650", "-subj", "/CN=Keyhaven throw-away test CA",
        "-addext", "basicConstraints=critical,CA:TRUE,pathlen:0", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
        # Whoever trusts it to install a bench package trusts it for code
        # signing alone, and for no CA below it.
        "-addext", "extendedKeyUsage=codeSigning")
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
        "-subj", "/CN=Keyhaven test code signing")
    ext.write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca_crt, "-CAkey", ca_key, "-CAcreateserial",
        "-out", crt, "-days", "3650", "-extfile", ext)
    run("openssl", "pkcs12", "-export", "-inkey", key, "-in", crt, "-certfile", ca_crt, "-out", p12,
        "-passout", "pass:" + TEST_PASSWORD)
    password.write_text(TEST_PASSWORD)
    return p12, password


def sign(source, target, identity, timestamp_url):
    p12, password = identity
    command = ["osslsigncode", "sign", "-pkcs12", p12, "-readpass", password, "-h", "sha256", "-n", "Keyhaven"]
    if timestamp_url:
        command += ["-ts", timestamp_url]
    Path(target).unlink(missing_ok=True)
    run(*command, "-in", source, "-out", target)


def keeper_names():
    """{constant: value} of package_names.h, for the wixl variables and tests."""
    text = KEEPER_NAMES.read_text()
    names = {}
    for constant in KEEPER_VARIABLES.values():
        found = re.search(r'\b%s\[\] = L"((?:[^"\\]|\\.)*)";' % constant, text)
        if not found:
            raise PackageError("%s has no %s" % (KEEPER_NAMES, constant))
        names[constant] = found.group(1).replace("\\\\", "\\")
    return names


def keeper_definitions():
    """wixl -D arguments for the keeper's names."""
    names = keeper_names()
    return [argument for variable, constant in KEEPER_VARIABLES.items()
            for argument in ("-D", "%s=%s" % (variable, names[constant]))]


def file_version(exe):
    """The file version in the fixed version record, as the File table writes it."""
    data = Path(exe).read_bytes()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def write_table(msi, work, name, columns, types, keys, rows):
    """Imports rows into table name of msi (rows with the same key are replaced)."""
    idt = work / (name + ".idt")
    lines = ["\t".join(columns), "\t".join(types), "\t".join([name] + keys)]
    lines += ["\t".join(str(field) for field in row) for row in rows]
    idt.write_text("\r\n".join(lines) + "\r\n")
    run("msibuild", msi, "-i", idt)


def edit_table(msi, work, name, edit, added=()):
    """Rewrites table name of msi (msibuild replaces a whole table), edit(row)
    changing each row in place, with the rows added after them."""
    exported = run("msiinfo", "export", msi, name).splitlines()
    rows = [line.split("\t") for line in exported[3:] if line]
    for row in rows:
        edit(row)
    write_table(msi, work, name, exported[0].split("\t"), exported[1].split("\t"), exported[2].split("\t")[1:],
                rows + [list(map(str, row)) for row in added])


# The administrators' guide: an index page and the pages it links, in its order.
GUIDE = HERE.parent / "docs" / "administrators.md"
GUIDE_PAGE_LINK = re.compile(r"\]\((administrators/[\w-]+\.md)(?:#[^)]*)?\)")
PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>%s</title>
<style>body{font-family:sans-serif;max-width:60em;margin:auto;padding:1em}table{border-collapse:collapse}
td,th{border:1px solid #999;padding:.2em .4em;vertical-align:top}code,pre{background:#f4f4f4}</style>
</head><body>
%s
</body></html>
"""


def guide_pages():
    """The guide's files: the index page, then every page it links, in its
    order. A page in the guide's folder that the index does not link would
    be left out of the package without a word, so it is refused."""
    pages = [GUIDE]
    for link in GUIDE_PAGE_LINK.findall(GUIDE.read_text(encoding="utf-8")):
        if GUIDE.parent / link not in pages:
            pages.append(GUIDE.parent / link)
    missing = [str(page) for page in pages if not page.is_file()]
    unlinked = sorted(str(page) for page in (GUIDE.parent / "administrators").glob("*.md") if page not in pages)
    if missing or unlinked or len(pages) == 1:
        raise PackageError("the administrators' guide's index links missing pages %s and leaves out %s"
                           % (missing, unlinked))
    return pages


def guide_text():
    """The whole guide as one Markdown text, its pages in order."""
    return "\n\n".join(page.read_text(encoding="utf-8") for page in guide_pages())


def joined_links(body, pages):
    """The links between the pages of the rendered guide, made links within
    the one HTML page that joins them: a page's heading keeps its own id, a
    page itself is its title. Links elsewhere (the README, the developers'
    guide) are left as they are. Every link within must reach an id."""
    titles = re.findall(r'<h1 id="([^"]+)"', body)
    if len(titles) != len(pages):
        raise PackageError("each page of the administrators' guide starts with its one title")
    title_of = {page.name: title for page, title in zip(pages, titles)}

    def within(link):
        name, anchor = link.group(1), link.group(2)
        return 'href="#%s"' % (anchor or title_of[name]) if name in title_of else link.group(0)

    body = re.sub(r'href="(?:[\w.-]*/)*([\w-]+\.md)(?:#([^"]*))?"', within, body)
    ids = set(re.findall(r'\bid="([^"]+)"', body))
    # The renderer numbers a second heading of the same text; a link meant for it reaches the first.
    alike = sorted(i for i in ids if re.sub(r"_\d+$", "", i) != i and re.sub(r"_\d+$", "", i) in ids)
    broken = sorted(set(re.findall(r'href="#([^"]*)"', body)) - ids)
    if alike or broken:
        raise PackageError("the administrators' guide has headings that read alike %s and links to no heading %s"
                           % (alike, broken))
    return body


def render_guide(folder):
    """The administrators' guide as HTML, rendered by python3-markdown's
    markdown_py: its pages joined into one, and an index of the pages and
    their sections."""
    pages = guide_pages()
    body = run("markdown_py", "-e", "utf-8", "-x", "tables", "-x", "fenced_code", "-x", "toc",
               input=guide_text().encode("utf-8"))
    body = joined_links(body, pages)
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "administrators.html").write_text(PAGE % ("Keyhaven for administrators", body), encoding="utf-8")
    headings = re.findall(r'<h([12]) id="([^"]+)">(.*?)</h[12]>', body)
    if not any(level == "2" for level, _, _ in headings):
        raise PackageError("the administrators' guide rendered without sections")
    items = []
    for level, anchor, title in headings[1:]:
        link = '<a href="administrators.html#%s">%s</a>' % (anchor, title)
        if level == "1":
            items += ["</ul></li>"] if items else []
            items.append("<li>%s<ul>" % link)
        else:
            items.append("<li>%s</li>" % link)
    index = '<h1>Keyhaven for administrators</h1>\n<ul>\n<li><a href="administrators.html">The whole guide</a></li>\n'
    (folder / "index.html").write_text(PAGE % ("Keyhaven: guide", index + "\n".join(items) + "</ul></li>\n</ul>"),
                                       encoding="utf-8")


def about_url_valid(url):
    """An http(s) address of a real site: no blanks or quotes, no example domain."""
    host = re.match(r"https?://([^/\s\"<>]+)(/[^\s\"<>]*)?$", url or "")
    return bool(host) and not re.search(r"(^|\.)(example|invalid|test|localhost)(\.[a-z]+)?$", host.group(1).lower())


def patch_tables(msi, work, exe, status_exe, keeper_exe, about_url=None):
    def permanent(row):
        if row[0] in PERMANENT_COMPONENTS:
            row[3] = str(PERMANENT_COMPONENTS[row[0]])

    def versioned(row):
        programs = {"keyhaven.exe": exe, "keyhaven_status.exe": status_exe, "keyhaven_keeper.exe": keeper_exe}
        if row[0] in programs:
            row[4], row[5] = file_version(programs[row[0]]), "1033"

    edit_table(msi, work, "Component", permanent)
    if about_url:
        edit_table(msi, work, "Property", lambda row: None, [["ARPURLINFOABOUT", about_url]])
    edit_table(msi, work, "File", versioned)
    write_table(msi, work, "CustomAction", ["Action", "Type", "Source", "Target", "ExtendedType"],
                ["s72", "i2", "S72", "S255", "I4"], ["Action"], [list(a[:4]) + [""] for a in ACTIONS])
    for table, names in (("InstallExecuteSequence", [a[0] for a in ACTIONS]), ("InstallUISequence", UI_ACTIONS)):
        edit_table(msi, work, table, lambda row: None, [[a[0], a[5], a[4]] for a in ACTIONS if a[0] in names])
    write_table(msi, work, "MsiLockPermissionsEx", ["MsiLockPermissionsEx", "LockObject", "Table", "SDDLText",
                                                    "Condition"],
                ["s72", "s72", "s32", "s0", "S255"], ["MsiLockPermissionsEx"],
                [["DataFolderSecurity", "NivraDir", "CreateFolder", DATA_FOLDER_SDDL, ""],
                 ["SettingsSecurity", "Keyhaven.ini", "File", SETTINGS_SDDL, ""]])


def signing_identity(test_ca, release):
    """(p12, password file, file to delete afterwards or None, test-signed?)"""
    if os.environ.get("KEYHAVEN_SIGN_PKCS12"):
        if release and not os.environ.get("KEYHAVEN_SIGN_TIMESTAMP_URL"):
            raise PackageError("--release signs only with a time stamp: set KEYHAVEN_SIGN_TIMESTAMP_URL")
        password = tempfile.NamedTemporaryFile("w", delete=False)  # mode 600
        password.write(os.environ.get("KEYHAVEN_SIGN_PASSWORD", ""))
        password.close()
        return Path(os.environ["KEYHAVEN_SIGN_PKCS12"]), Path(password.name), Path(password.name), False
    if release:
        raise PackageError("--release signs only with the organisation's certificate: set KEYHAVEN_SIGN_PKCS12, "
                           "KEYHAVEN_SIGN_PASSWORD and KEYHAVEN_SIGN_TIMESTAMP_URL")
    return test_identity(test_ca) + (None, True)


def make(exe, setup_dll, out, test_ca, objcopy, release=False, status_exe=None, keeper_exe=None, about_url=None):
    msi_version = package_version(product_version(exe))
    if about_url and not about_url_valid(about_url):
        raise PackageError("--about-url takes the http(s) address of the organisation's own page, not %r" % about_url)
    status_exe = status_exe or exe.parent / "keyhaven-status.exe"
    if not status_exe.is_file():
        raise PackageError("no %s: the status program ships beside the agent" % status_exe)
    keeper_exe = keeper_exe or exe.parent / "keyhaven-keeper.exe"
    if not keeper_exe.is_file():
        raise PackageError("no %s: the keeper service ships beside the agent" % keeper_exe)
    p12, password, temporary, test_signed = signing_identity(test_ca, release)
    identity = (p12, password)
    timestamp_url = os.environ.get("KEYHAVEN_SIGN_TIMESTAMP_URL", "")
    out.mkdir(parents=True, exist_ok=True)
    try:
        with tempfile.TemporaryDirectory(dir=out) as scratch:
            work = Path(scratch)
            stage = work / "stage"
            stage.mkdir()
            for program, name in ((exe, "keyhaven.exe"), (status_exe, "keyhaven-status.exe"),
                                  (keeper_exe, "keyhaven-keeper.exe")):
                symbols = out / (name + ".debug")
                run(objcopy, "--only-keep-debug", program, symbols)
                run(objcopy, "--strip-debug", "--add-gnu-debuglink=%s" % symbols, program, work / name)
                sign(work / name, out / name, identity, timestamp_url)
                shutil.copy2(out / name, stage / name)
            run(objcopy, "--strip-debug", setup_dll, work / "keyhaven-setup.dll")
            sign(work / "keyhaven-setup.dll", stage / "keyhaven-setup.dll", identity, timestamp_url)
            shutil.copy2(HERE / "keyhaven.ico", stage / "keyhaven.ico")
            render_guide(stage / "guide")
            # CR LF, so that every editor on the workstation shows its lines.
            text = (HERE / "Keyhaven.ini").read_text()
            (stage / "Keyhaven.ini").write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii"))
            unsigned = work / "keyhaven.msi"
            # wixl takes sources relative to the folder of its .wxs only.
            shutil.copy2(HERE / "keyhaven.wxs", stage / "keyhaven.wxs")
            run("wixl", "-a", "x64", "-D", "Version=" + msi_version, "-D", "ProductCode=" + product_code(msi_version),
                *keeper_definitions(), "-o", unsigned, stage / "keyhaven.wxs")
            patch_tables(unsigned, work, out / "keyhaven.exe", out / "keyhaven-status.exe",
                         out / "keyhaven-keeper.exe", about_url)
            for stale in out.glob("keyhaven-*-x64*.msi"):
                stale.unlink()
            package = out / ("keyhaven-%s-x64%s.msi" % (msi_version, "-test" if test_signed else ""))
            sign(unsigned, package, identity, timestamp_url)
    finally:
        if temporary:
            os.unlink(temporary)
    return package


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--exe", required=True, type=Path, help="keyhaven.exe as built, with debug information")
    parser.add_argument("--out", required=True, type=Path, help="folder for the package and what ships in it")
    parser.add_argument("--test-ca", type=Path, help="folder of the throw-away signing CA (default: OUT/../signing)")
    parser.add_argument("--setup-dll", type=Path, help="keyhaven-setup.dll as built (default: beside --exe)")
    parser.add_argument("--status-exe", type=Path, help="keyhaven-status.exe as built (default: beside --exe)")
    parser.add_argument("--keeper-exe", type=Path, help="keyhaven-keeper.exe as built (default: beside --exe)")
    parser.add_argument("--objcopy", default="x86_64-w64-mingw32-objcopy")
    parser.add_argument("--about-url", default=os.environ.get("KEYHAVEN_ABOUT_URL") or None,
                        help="the organisation's page that Programs and Features links to "
                             "(default: KEYHAVEN_ABOUT_URL; none without it)")
    parser.add_argument("--release", action="store_true",
                        help="refuse the throw-away CA and signing without a time-stamp server")
    args = parser.parse_args(argv)
    try:
        package = make(args.exe.resolve(), (args.setup_dll or args.exe.parent / "keyhaven-setup.dll").resolve(),
                       args.out.resolve(), (args.test_ca or args.out / ".." / "signing").resolve(), args.objcopy,
                       args.release, args.status_exe.resolve() if args.status_exe else None,
                       args.keeper_exe.resolve() if args.keeper_exe else None, args.about_url)
    except (PackageError, OSError) as e:
        print("make_package: %s" % e, file=sys.stderr)
        return 1
    print(package)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
