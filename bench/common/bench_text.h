#pragma once
// How the bench's tools print what Windows hands them: UTF-8 for wide
// texts, upper-case hex where a name must come through whole, and the few
// certificate fields the tools show.

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace bench {

// Up to the first NUL; empty for a null pointer.
std::string utf8(const wchar_t* text);
std::string utf8(const std::wstring& text);

// to_hex of the bytes, or "-" for none, so a TAB-separated field is never empty.
std::string hex_or_dash(const std::string& bytes);

// The common name of the subject (which 0) or the issuer
// (CERT_NAME_ISSUER_FLAG) in UTF-8, up to 1023 characters; empty without one.
std::string common_name(PCCERT_CONTEXT certificate, DWORD which);

// The serial number most significant byte first, as people write it
// (CryptoAPI stores it least significant byte first).
std::string serial_hex(const CRYPT_INTEGER_BLOB& serial);

// "YYYY-MM-DDTHH:MM:SSZ".
std::string iso_date(const FILETIME& when);

}  // namespace bench
