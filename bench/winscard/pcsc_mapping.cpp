#include "winscard/pcsc_mapping.h"

namespace pcsc_mapping {

namespace {

constexpr std::uint64_t pcsclite_t0 = 1, pcsclite_t1 = 2, pcsclite_raw = 4;

// pcsc-lite's codes that Windows' winscard returns with the same meaning.
// 0x8010001F is SCARD_E_UNEXPECTED on Windows; pcsc-lite also spells its
// "unsupported feature" so, which stays a failure either way.
bool windows_knows(std::int64_t code)
{
    return (code >= 0x80100001LL && code <= 0x80100031LL) || (code >= 0x80100065LL && code <= 0x8010006FLL);
}

}  // namespace

std::int32_t windows_result(std::int64_t pcsclite_rc)
{
    if (pcsclite_rc == 0)
        return success;
    // pcsc-lite's LONG is 64-bit: its codes arrive as positive numbers.
    return windows_knows(pcsclite_rc) ? static_cast<std::int32_t>(static_cast<std::uint32_t>(pcsclite_rc))
                                      : unknown_error;
}

std::int32_t windows_connect_result(std::int64_t pcsclite_rc)
{
    constexpr std::int64_t no_smartcard = 0x8010000CLL;
    return pcsclite_rc == no_smartcard ? static_cast<std::int32_t>(0x80100069u) : windows_result(pcsclite_rc);
}

bool pcsclite_protocols(std::uint32_t windows, std::uint64_t& pcsclite)
{
    pcsclite = 0;
    if (windows & ~(windows_protocol_t0 | windows_protocol_t1 | windows_protocol_raw))
        return false;
    if (windows & windows_protocol_t0)
        pcsclite |= pcsclite_t0;
    if (windows & windows_protocol_t1)
        pcsclite |= pcsclite_t1;
    if (windows & windows_protocol_raw)
        pcsclite |= pcsclite_raw;
    return true;
}

bool windows_protocol(std::uint64_t pcsclite, std::uint32_t& windows)
{
    switch (pcsclite) {
    case 0:
        windows = 0;
        return true;
    case pcsclite_t0:
        windows = windows_protocol_t0;
        return true;
    case pcsclite_t1:
        windows = windows_protocol_t1;
        return true;
    case pcsclite_raw:
        windows = windows_protocol_raw;
        return true;
    default:
        windows = 0;
        return false;
    }
}

bool known_scope(std::uint32_t scope)
{
    return scope <= 2;  // user, terminal, system
}

bool known_share(std::uint32_t share)
{
    return share >= 1 && share <= 3;  // exclusive, shared, direct
}

bool known_disposition(std::uint32_t disposition)
{
    return disposition <= 3;  // leave, reset, unpower, eject
}

bool windows_length(std::uint64_t pcsclite, std::uint32_t& windows)
{
    if (pcsclite > 0xFFFFFFFFu)
        return false;
    windows = static_cast<std::uint32_t>(pcsclite);
    return true;
}

}  // namespace pcsc_mapping
