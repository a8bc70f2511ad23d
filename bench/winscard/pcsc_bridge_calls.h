#pragma once
// The calls between the two halves of the bench's PC/SC bridge: the
// winscard.dll that Windows programs load, and keyhaven_pcsclite.dll.so, the
// Winelib library that it loads by file name and that calls the machine's
// pcsc-lite. Every value crosses at a fixed width and with its Windows
// meaning; the library maps it to pcsc-lite's (see pcsc_mapping.h).

#include <cstdint>

#if defined(__WINE__)
// Winelib code (which winegcc also compiles with _WIN32 defined) is called
// with Windows' calling convention, not the Linux one it would use.
#define PCSC_BRIDGE_ABI __attribute__((ms_abi))
#else
#define PCSC_BRIDGE_ABI
#endif

namespace pcsc_bridge {

constexpr char library_name[] = "keyhaven_pcsclite.dll.so";

// Each returns a Windows result code. A list call with a null buffer asks
// for the length only; the list is pcsc-lite's, names in UTF-8.
using establish_call = std::int32_t(PCSC_BRIDGE_ABI*)(std::uint32_t scope, std::uint64_t* context);
using release_call = std::int32_t(PCSC_BRIDGE_ABI*)(std::uint64_t context);
using list_call = std::int32_t(PCSC_BRIDGE_ABI*)(std::uint64_t context, char* buffer, std::uint32_t* length);
using connect_call = std::int32_t(PCSC_BRIDGE_ABI*)(std::uint64_t context, const char* reader, std::uint32_t share,
                                                    std::uint32_t protocols, std::uint64_t* card,
                                                    std::uint32_t* active_protocol);
using transmit_call = std::int32_t(PCSC_BRIDGE_ABI*)(std::uint64_t card, std::uint32_t protocol,
                                                     const std::uint8_t* send, std::uint32_t send_length,
                                                     std::uint8_t* received, std::uint32_t* received_length);
using disconnect_call = std::int32_t(PCSC_BRIDGE_ABI*)(std::uint64_t card, std::uint32_t disposition);

}  // namespace pcsc_bridge
