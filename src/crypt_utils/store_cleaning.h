#pragma once
// Cleaning the user's personal store "My" of certificates that belong to no
// present container, and the names it shows them by.

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace keyhaven {

namespace crypt_utils {

// The subject's common name (OID 2.5.4.3) in the ANSI code page, or "".
std::string extract_cert_attribute(PCCERT_CONTEXT certificate);
// The issuer's common name, read the same way.
std::string extract_issuer_attribute(PCCERT_CONTEXT certificate);

// Deletes from "My" every certificate whose serial number matches none of
// the certificates of these containers (an empty list empties the store).
// 0, or the error of opening the store. A container whose certificate read
// failed without an error code leaves it unknown what that container
// protects: then nothing is deleted (rc_failed_without_code).
[[nodiscard]] int clean_local_storage(std::vector<std::string> containers);

}  // namespace crypt_utils

}  // namespace keyhaven
