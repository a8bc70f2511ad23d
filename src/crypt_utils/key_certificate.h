#pragma once
// Steps the certificate routines share: a container's key, and the
// certificate stored with it. Each logs its failure through the caller's
// trace, so the ERROR line names the caller.

#include "crypt_utils/call_trace.h"
#include "crypt_utils/owned.h"

namespace crypt_utils {

constexpr DWORD certificate_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The exchange key, or else the signature key. Returns the key spec found,
// or 0 after logging "CryptGetUserKey(2)" (the last key spec tried).
DWORD get_user_key(CallTrace& trace, HCRYPTPROV provider, KeyHandle& key);

// Reads the DER certificate of key into cert_buffer (size call, then data
// call) and makes certificate from it. size_call names the size call in the
// ERROR line. False after logging the failing step.
bool read_key_certificate(CallTrace& trace, HCRYPTKEY key, const char* size_call, Buffer& cert_buffer,
                          CertContext& certificate);

HCERTSTORE open_personal_store();

}  // namespace crypt_utils
