#pragma once
// Warning the user about certificates that expire soon or have expired.

#include <windows.h>
#include <wincrypt.h>

namespace keyhaven {

namespace crypt_utils {

// True when the certificate is outside its validity period; warns the user
// (in a box of its own thread) when it is, or when it expires within the
// current or next month, at most 30 days ahead.
bool check_cert_expiration(PCCERT_CONTEXT certificate);

// A FILETIME as one count of 100 ns ticks, to compare instants.
inline unsigned long long ticks(const FILETIME& time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace crypt_utils

}  // namespace keyhaven
