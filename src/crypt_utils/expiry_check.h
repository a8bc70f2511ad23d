#pragma once
// Warning the user about certificates that expire soon or have expired.

#include <windows.h>
#include <wincrypt.h>

namespace crypt_utils {

// True when the certificate is outside its validity period; warns the user
// (in a box of its own thread) when it is, or when it expires within the
// current or next month, at most 30 days ahead.
bool check_cert_expiration(PCCERT_CONTEXT certificate);

}  // namespace crypt_utils
