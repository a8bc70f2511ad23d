"""The provider misbehaving under the real agent: busy past every retry, a
walk breaking off at its second container, containers vanishing between
the enumeration and the import, and containers whose certificate is no
certificate or missing. The agent keeps running, logs each fault, and the
store keeps the certificates of the carriers that stay inserted."""
import faults
from faults import DEBUG, ERROR, INFO, WARNING, FaultScenario, qualified

from benchlib import provider

NTE_FAIL = 0x80090020


class ProviderFaults(FaultScenario):
    def test_busy_past_every_retry_cleans_nothing_and_imports_once_free(self):
        first = self.container("P1", "first", "1101")
        second = self.container("P2", "second", "1102")
        third = self.container("P3", "third", "1103")
        self.insert("P1")
        pid = self.start()
        self.wait_for_store([first])

        provider.set_switch(self.ws, "busy", 1)
        self.insert("P2")
        self.wait_for_entry(WARNING + "waiting  3.0 seconds and retrying <100/100> enumerate containers...",
                            timeout=180)
        self.wait_for_entry(WARNING + "containers could not be enumerated, [MY] storage is not cleaned")
        self.assertStoreHolds([first], exactly=True)

        # Free again: the next carrier change finds every container new.
        provider.set_switch(self.ws, "busy")
        self.insert("P3")
        self.wait_for_store([first, second, third])
        self.assertStoreHolds([first, second, third], exactly=True)
        self.assertAgentRunning(pid)

    def test_walk_breaking_off_at_the_second_container_is_retried_and_deletes_nothing(self):
        self.walk_breaking_off_at_the_second_container(NTE_FAIL, "0x80090020", "rc=-2146893792|0x80090020")

    def test_walk_breaking_off_without_an_error_code_is_retried_and_deletes_nothing(self):
        # Windows gives 0 as the code: the line shows it, the rc does not.
        self.walk_breaking_off_at_the_second_container(0, "0x00000000", "rc=-1|0xFFFFFFFF")

    def walk_breaking_off_at_the_second_container(self, code, code_text, closing):
        first = self.container("W1", "first", "1201")
        second = self.container("W1", "second", "1202")
        third = self.container("W2", "third", "1203")
        self.insert("W1")
        pid = self.start()
        self.wait_for_store([first, second])

        # One walk fails at its second named call; a list cut there would
        # have left "second" unprotected.
        provider.set_switch(self.ws, "fail_walk", 2, code, 1)
        self.insert("W2")
        self.wait_for_store([third])
        entries = self.entries()
        [failed] = [e for e in entries
                    if e.startswith(ERROR + "CryptGetProvParam(PP_ENUMCONTAINERS) error, code: " + code_text)]
        self.assertInOrder([failed, DEBUG + "<--- closing enum_containers(), " + closing,
                            WARNING + "waiting  3.0 seconds and retrying <1/100> enumerate containers...",
                            INFO + " === found 1 container(s) to import: ===",
                            INFO + "\t * " + qualified("W2", "third")], entries)
        self.assertEqual([], [e for e in entries if e.startswith(INFO + "\t * ") and "Token" not in e],
                         "the cleaning deleted a certificate")
        self.assertStoreHolds([first, second, third], exactly=True)
        self.assertAgentRunning(pid)

    def test_containers_vanishing_before_the_import_come_back_with_their_carriers(self):
        first = self.container("V1", "first", "1301", cn="Первый")
        second = self.container("V2", "second", "1302", cn="Второй")
        self.insert("V1")
        pid = self.start()
        self.wait_for_store([first])

        provider.set_switch(self.ws, "vanish_after_walk", 1)
        self.insert("V2")
        self.wait_for_entry(ERROR + "CryptAcquireContext(%s, null, 75, CRYPT_MACHINE_KEYSET) error, code: 0x80090016"
                            % qualified("V2", "second"))
        # By design: the cleaning could read no container's certificate, so
        # none protected anything and V1's certificate went with the rest.
        self.assertInOrder([INFO + " === cleaning [MY] storage: ===", INFO + "\t * Первый",
                            INFO + " === end of clean ==="], self.entries())
        self.assertStoreHolds([], exactly=True)

        # The carriers' next insertion brings both certificates back.
        provider.set_switch(self.ws, "vanish_after_walk")
        provider.set_switch(self.ws, "hidden")
        self.remove("V1", "V2")
        self.wait_for_entry(INFO + "configuration changed: cards_count=0, tokens_count=0")
        self.insert("V1", "V2")
        self.wait_for_store([first, second])
        self.assertStoreHolds([first, second], exactly=True)
        self.assertAgentRunning(pid)

    def test_containers_without_a_readable_certificate_are_logged_and_skipped(self):
        good = self.container("C1", "good", "1401")
        self.container("C1", "junk", data=b"not a certificate at all")
        self.container("C1", "bare")
        self.container("C1", "keyless", keys="none")
        self.insert("C1")
        pid = self.start()
        self.wait_for_count("<--- closing import_if_not_exists()", 4)

        entries = self.entries()
        errors = [e for e in entries if e.startswith(ERROR)]
        self.assertTrue(any(e.startswith(ERROR + "CertCreateCertificateContext() error, code: 0x") and
                            e.endswith("func: crypt_utils::import_if_not_exists") for e in errors), errors)
        self.assertTrue(any(e.startswith(ERROR + "CryptGetKeyParam(KP_CERTIFICATE, null) error, code: 0x")
                            for e in errors), errors)
        self.assertTrue(any(e.startswith(ERROR + "CryptGetUserKey(") and " error, code: 0x" in e for e in errors),
                        errors)
        [certificate] = self.assertStoreHolds([good], exactly=True)
        self.assertEqual(qualified("C1", "good"), certificate.container)

        # Unreadable containers protect nothing but hurt nobody either: the
        # next change keeps the good certificate.
        newer = self.container("C2", "newer", "1402")
        self.insert("C2")
        self.wait_for_store([good, newer])
        self.assertStoreHolds([good, newer], exactly=True)
        self.assertAgentRunning(pid)


if __name__ == "__main__":
    faults.main()
