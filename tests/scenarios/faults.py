"""What every fault scenario asks afterwards: the agent still runs, still
does its job, and the personal store still holds the certificates of the
carriers that are inserted.

FaultScenario sets the bench up through benchlib directly (certificates,
containers and settings are plain files; only tokens and the store need a
Windows program), which keeps each scenario short on a busy machine."""
import datetime
import hashlib
import shutil
import struct
import tempfile
import time
from pathlib import Path

import harness
from harness import STAMP, ScenarioTest, wait_until

from benchlib import agent, certs, provider, store, tokens

INFO, WARNING, ERROR, DEBUG = "[  INFO   ]: ", "[ WARNING ]: ", "[  ERROR  ]: ", "[  DEBUG  ]: "
IMPORTED = INFO + "certificate imported successfully"
# A log line on disk at most: stamp, label and the 1,008 characters left for
# the message (then CR LF).
LINE_LIMIT = 1034 - 2
PROVIDER_NAME = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider"


def qualified(token, container):
    """The container's name as the provider gives it with flag 8."""
    return "\\\\.\\Token %s\\%s" % (token, container)


class FaultScenario(ScenarioTest):
    def setUp(self):
        super().setUp()
        self.scratch = Path(tempfile.mkdtemp(prefix="keyhaven-faults-"))

    def tearDown(self):
        super().tearDown()
        shutil.rmtree(self.scratch, ignore_errors=True)

    # --- bench ------------------------------------------------------------
    def certificate(self, serial, cn="Владелец", **dates):
        """A DER certificate with this serial (hex); returns its bytes."""
        return certs.make(self.scratch / ("%s.der" % serial), cn, serial=serial, **dates)

    def container(self, token, name, serial=None, cn="Владелец", data=None, keys="1", **dates):
        """A container on token holding a new certificate with serial (or
        the given bytes, or none); returns the serial as the store lists it."""
        if data is None and serial is not None:
            data = self.certificate(serial, cn, **dates)
        provider.add_container(self.ws, name, "token:" + token, data or b"", keys)
        return serial.upper() if serial else None

    def fill_store(self, count, cn="Посторонний %04d"):
        """count certificates without a key link in the user's "My" store,
        written where crypt32 keeps them (HKCU\\...\\SystemCertificates\\My,
        a serialized element per thumbprint) in one regedit run instead of a
        program per certificate; returns their serials as the store lists
        them (70 followed by the index in four hex digits)."""
        now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0, tzinfo=None)
        lines, serials = [], []
        for i in range(count):
            serial = bytes([0x70, i >> 8, i & 0xFF])
            der = certs.certificate(cn % i, "Чужой УЦ", serial, now - datetime.timedelta(days=1),
                                    now + datetime.timedelta(days=365))
            thumbprint = hashlib.sha1(der).digest()
            # Properties: SHA-1 hash (3), then the certificate itself (32).
            blob = struct.pack("<III", 3, 1, 20) + thumbprint + struct.pack("<III", 32, 1, len(der)) + der
            lines += ["[HKEY_CURRENT_USER\\Software\\Microsoft\\SystemCertificates\\My\\Certificates\\%s]"
                      % thumbprint.hex().upper(), '"Blob"=hex:' + ",".join("%02x" % b for b in blob), ""]
            serials.append(serial.hex().upper())
        self.ws.reg_import(lines)
        return serials

    def insert(self, *token_ids):
        for token_id in token_ids:
            tokens.insert_token(self.ws, token_id)

    def remove(self, *token_ids):
        for token_id in token_ids:
            tokens.remove_device(self.ws, "token", token_id)

    # --- agent ------------------------------------------------------------
    def start(self, quick=True, **kwargs):
        pid = self.start_agent(quick=quick, **kwargs)
        self.wait_for_entry("start polling, timeout=1s", timeout=60)
        return pid

    def assertAgentRunning(self, pid=None):
        """Exactly one agent runs (the given one, if any)."""
        running = agent.running_pids(self.ws)
        self.assertEqual(1, len(running), "agents running: %s; log:\n%s" % (running, self.tail()))
        if pid is not None:
            self.assertEqual([pid], running)

    def wait_for_count(self, text, count, timeout=60, interval=0.2):
        """Waits until count log lines contain text; returns those lines."""
        found = wait_until(lambda: self._containing(text) if len(self._containing(text)) >= count else None,
                           timeout, interval)
        if not found:
            self.fail("fewer than %d log lines with %r within %ss; log:\n%s" % (count, text, timeout, self.tail()))
        return found

    def _containing(self, text):
        return [e for e in self.entries() if text in e]

    # --- log ----------------------------------------------------------------
    def entries(self, minimal=False, folder=None):
        """Log lines without stamps. Bytes that Windows-1251 lacks (a binary
        settings file quoted in a message) are replaced, not fatal."""
        lines = self.log_bytes(minimal, folder).split(b"\r\n")
        if lines and lines[-1] == b"":
            lines.pop()
        return [STAMP.sub(b"", line).decode("cp1251", errors="replace") for line in lines]

    def tail(self, count=60, folder=None):
        return "\n".join(self.entries(folder=folder)[-count:])

    # --- store --------------------------------------------------------------
    def store_serials(self):
        return [c.serial for c in store.list_certificates(self.ws)]

    def wait_for_store(self, serials, timeout=60):
        """Waits until the store holds every serial; returns the store."""
        wanted = set(serials)

        def holding_all():
            now = store.list_certificates(self.ws)
            return now if wanted <= {c.serial for c in now} else None

        found = wait_until(holding_all, timeout, interval=0.5)
        if not found:
            self.fail("the store lacks %s after %ss: %s; log:\n%s" % (
                sorted(wanted - set(self.store_serials())), timeout, self.store_serials(), self.tail()))
        return found

    def assertStoreHolds(self, serials, exactly=False):
        """The store holds these serials (and nothing else when exactly),
        each certificate once and, if it came from a carrier, linked to the
        stand-in provider."""
        now = store.list_certificates(self.ws)
        listed = [c.serial for c in now]
        self.assertEqual(len(listed), len(set(listed)), "a certificate is in the store twice: %s" % listed)
        if exactly:
            self.assertEqual(sorted(serials), sorted(listed))
        else:
            self.assertLessEqual(set(serials), set(listed), "the store lost certificates; log:\n" + self.tail())
        for certificate in now:
            if certificate.container is not None:
                self.assertEqual((PROVIDER_NAME, 75), (certificate.provider, certificate.prov_type))
        return now

    def assertStoreHoldsWhole(self, serials):
        """Each of these certificates is in the store byte for byte as the
        bench made it (its SHA-1 thumbprint matches)."""
        thumbprints = {c.serial: c.thumbprint.upper() for c in store.list_certificates(self.ws)}
        for serial in serials:
            made = hashlib.sha1((self.scratch / ("%s.der" % serial)).read_bytes()).hexdigest().upper()
            self.assertEqual(made, thumbprints.get(serial), "certificate %s" % serial)

    def pause_turns(self, seconds=1.0):
        """A few turns of the quick agent (50 ms each) on a loaded machine."""
        time.sleep(seconds)


def main():
    harness.main()
