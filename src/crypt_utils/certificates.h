#pragma once
// The certificates of the provider's containers and the user's personal
// store "My": reading a container's certificate, cleaning the store of
// certificates that belong to no present container, importing new ones, and
// warning the user about certificates that expire soon or have expired.

#include "crypt_utils/crypt_handles.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace crypt_utils {

// --- container_certificates.cpp ---------------------------------------------

// import_if_not_exists: outcomes besides 0, 200 and Windows error codes.
constexpr int rc_outside_validity = 100;
constexpr int rc_already_in_store = 101;

// The certificate stored with the container's key (exchange key first, then
// signature key), the caller's to own; empty on any failure, with the
// routine's rc.
CertContext get_cert_context(const std::string& container, int& rc);

// Imports the container's certificate into "My" unless it is there already
// (rc 101) or outside its validity period (rc 100); may mark the container
// default first. 0 when an import was attempted.
int import_if_not_exists(const std::string& container);
int import_certificate(const std::string& container);

// --- store_cleaning.cpp -----------------------------------------------------

// The subject's common name (OID 2.5.4.3) in the ANSI code page, or "".
std::string extract_cert_attribute(PCCERT_CONTEXT certificate);
// The issuer's common name, read the same way.
std::string extract_issuer_attribute(PCCERT_CONTEXT certificate);

// Deletes from "My" every certificate whose serial number matches none of
// the certificates of these containers (an empty list empties the store).
// 0, or the error of opening the store. A container whose certificate read
// failed without an error code leaves it unknown what that container
// protects: then nothing is deleted (rc_failed_without_code).
int clean_local_storage(std::vector<std::string> containers);

// --- expiry_check.cpp -------------------------------------------------------

// True when the certificate is outside its validity period; warns the user
// (in a box of its own thread) when it is, or when it expires within the
// current or next month, at most 30 days ahead.
bool check_cert_expiration(PCCERT_CONTEXT certificate);

}  // namespace crypt_utils
