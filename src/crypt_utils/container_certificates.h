#pragma once
// A container's certificate: reading it, and importing it into the user's
// personal store "My" linked to its container.

#include "crypt_utils/crypt_handles.h"
#include "settings/settings.h"

#include <string>

namespace keyhaven {

namespace crypt_utils {

// import_if_not_exists: outcomes besides 0, 200 and Windows error codes.
constexpr int rc_outside_validity = 100;
constexpr int rc_already_in_store = 101;

// The certificate stored with the container's key (exchange key first, then
// signature key), the caller's to own; empty on any failure, with the
// routine's rc.
CertContext get_cert_context(const std::string& container, int& rc);

// Imports the container's certificate into "My" unless it is there already
// (rc 101) or outside its validity period (rc 100); may mark the container
// default first, as the settings' mark_default says. 0 when an import was
// attempted.
[[nodiscard]] int import_if_not_exists(const std::string& container, const Settings& settings);
[[nodiscard]] int import_certificate(const std::string& container);

}  // namespace crypt_utils

}  // namespace keyhaven
