#pragma once
// How the bench's PC/SC bridge turns Windows' winscard values into
// pcsc-lite's and back. Most numbers are the same on both sides; what
// differs is the width of every value (pcsc-lite's DWORD and LONG are
// 8 bytes on Linux x86-64, Windows' are 4), the raw protocol bit (0x10000 on
// Windows, 4 in pcsc-lite), and the result codes: only those that Windows
// gives the same meaning pass, any other becomes a failure, never a success.
// No Windows or pcsc-lite header here: the same rules build natively.

#include <cstdint>

namespace pcsc_mapping {

constexpr std::int32_t success = 0;
constexpr std::int32_t invalid_parameter = static_cast<std::int32_t>(0x80100004u);
constexpr std::int32_t invalid_value = static_cast<std::int32_t>(0x80100011u);
constexpr std::int32_t no_service = static_cast<std::int32_t>(0x8010001Du);
// SCARD_F_UNKNOWN_ERROR: what a code without a Windows meaning becomes.
constexpr std::int32_t unknown_error = static_cast<std::int32_t>(0x80100014u);

constexpr std::uint32_t windows_protocol_t0 = 1;
constexpr std::uint32_t windows_protocol_t1 = 2;
constexpr std::uint32_t windows_protocol_raw = 0x10000;

// A pcsc-lite result as a Windows program receives it.
std::int32_t windows_result(std::int64_t pcsclite_rc);
// The same for SCardConnect: an empty reader is SCARD_W_REMOVED_CARD on
// Windows, where pcsc-lite says SCARD_E_NO_SMARTCARD.
std::int32_t windows_connect_result(std::int64_t pcsclite_rc);

// Windows protocol bits as pcsc-lite's; false when a bit has no counterpart
// (SCARD_PROTOCOL_DEFAULT, for example).
bool pcsclite_protocols(std::uint32_t windows, std::uint64_t& pcsclite);

// pcsc-lite's active protocol as Windows'; false for one Windows lacks (T=15).
bool windows_protocol(std::uint64_t pcsclite, std::uint32_t& windows);

// Scope, share mode and disposition carry the same numbers on both sides;
// these say which numbers exist at all.
bool known_scope(std::uint32_t scope);
bool known_share(std::uint32_t share);
bool known_disposition(std::uint32_t disposition);

// A pcsc-lite length as a Windows DWORD; false when it does not fit.
bool windows_length(std::uint64_t pcsclite, std::uint32_t& windows);

}  // namespace pcsc_mapping
