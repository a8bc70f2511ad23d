#pragma once
// How a certificate is named to people and tools, from Windows'
// wide-character calls (UTF-8 out, right whatever the ANSI code page), and
// what its key link says. Reads stored properties only: no provider call.

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace keyhaven {

namespace crypt_utils {

// The first common name (OID 2.5.4.3) of the subject, or of the issuer; "" without one.
std::string common_name_utf8(PCCERT_CONTEXT certificate, bool issuer);

// Uppercase hexadecimal, most significant byte first.
std::string serial_text(PCCERT_CONTEXT certificate);
// The SHA-1 thumbprint in uppercase hexadecimal; "" when it cannot be read.
std::string thumbprint_text(PCCERT_CONTEXT certificate);

struct CertificateKeyLink {
    std::string container;  // UTF-8
    DWORD provider_type = 0;
};

// False when the certificate has no key link (or one that cannot be read).
bool read_key_link(PCCERT_CONTEXT certificate, CertificateKeyLink& link);

}  // namespace crypt_utils

}  // namespace keyhaven
