"""Start-up of the real agent logs the provider's product and kernel versions,
as the stand-in provider reports them, or empty ones when it cannot."""
import re

import harness
from harness import ScenarioTest

INFO, ERROR = "[  INFO   ]: ", "[  ERROR  ]: "
PRODUCT = INFO + "Crypto-Pro CSP product version: "
KERNEL = INFO + "Crypto-Pro SKZI kernel version: "


class ProviderVersionAtStartUp(ScenarioTest):
    def start_and_read(self):
        self.start_agent()
        self.wait_for_entry("settings read status")
        return self.entries()

    def test_versions_of_the_provider(self):
        self.bench("provider", "version", "4.5", "1234", "5678", "1", "0", "0")
        entries = self.start_and_read()
        self.assertInOrder([
            INFO + "daemon starts",
            INFO + "module version: 1.0.2.1",
            "[  DEBUG  ]: ----> calling get_provider_version()",
            "[  DEBUG  ]: <--- closing get_provider_version(), rc=0|0x00000000",
            PRODUCT + "4.5.1234|VER_OS_WINDOWS|VER_ARCH_IA32|VER_TYPE_RELEASE",
            KERNEL + "4.5.5678 KC1",
            INFO + "OS version: 6.1.7601",
        ], entries)
        self.assertEqual(1, sum(e.startswith(PRODUCT) for e in entries))
        self.assertFalse([e for e in self.entries(minimal=True) if "PP_VERSION" in e])

    def test_provider_without_parameter_138_gives_empty_versions(self):
        self.bench("provider", "version-ex", "none")
        entries = self.start_and_read()
        size_error = [e for e in entries if e.startswith(ERROR + "CryptDecodeObject(PP_VERSION_EX, size)")]
        self.assertEqual(1, len(size_error), entries)
        self.assertRegex(size_error[0], re.escape(ERROR + "CryptDecodeObject(PP_VERSION_EX, size) error, code: "
                                                  "0x8009000A, line: ") + r"\d+" +
                         re.escape(", func: crypt_utils::get_provider_version") + "$")
        self.assertInOrder([
            INFO + "module version: 1.0.2.1",
            size_error[0],
            "[  DEBUG  ]: <--- closing get_provider_version(), rc=-2146893814|0x8009000A",
            PRODUCT,
            KERNEL + " KC1",
            INFO + "OS version: 6.1.7601",
        ], entries)
        # The minimal log holds the same two lines after the ERROR line.
        self.assertInOrder([size_error[0], PRODUCT, KERNEL + " KC1"], self.entries(minimal=True))


if __name__ == "__main__":
    harness.main()
