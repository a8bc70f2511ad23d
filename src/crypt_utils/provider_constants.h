#pragma once

namespace keyhaven {
// What the agent fixes about the GOST provider it works with. Values that
// <wincrypt.h> does not define (or defines differently) are spelled here.

namespace crypt_utils {

constexpr unsigned long provider_type = 75;
constexpr wchar_t provider_name_wide[] = L"Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider";

// Provider parameters.
constexpr unsigned long pp_enumcontainers = 2;
constexpr unsigned long pp_container = 6;
constexpr unsigned long pp_version = 5;
constexpr unsigned long pp_smartcard_reader = 43;
constexpr unsigned long pp_container_default = 135;
constexpr unsigned long pp_version_ex = 138;

// Flags of CryptGetProvParam.
constexpr unsigned long crypt_first = 1;
constexpr unsigned long crypt_next = 2;
// The provider's own flag: container names carry their storage medium.
constexpr unsigned long fqcn_flag = 8;

constexpr unsigned long kp_certificate = 26;

}  // namespace crypt_utils

}  // namespace keyhaven
