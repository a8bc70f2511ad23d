#pragma once
// The user's personal store "My" as every crypt_utils routine opens it, and
// the encoding of the certificates it holds.

#include <windows.h>
#include <wincrypt.h>

namespace keyhaven {

namespace crypt_utils {

const DWORD certificate_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// CertOpenStore(system_store, 0, 0, current_user, L"My"); closed with the force flag.
const LPCSTR system_store = CERT_STORE_PROV_SYSTEM_W;
const DWORD current_user = CERT_SYSTEM_STORE_CURRENT_USER;

}  // namespace crypt_utils

}  // namespace keyhaven
