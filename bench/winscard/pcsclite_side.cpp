// keyhaven_pcsclite.dll.so: the Linux half of the bench's PC/SC bridge, a
// Winelib library built with winegcc and linked with pcsc-lite. The bridge's
// winscard.dll calls it with Windows' values at fixed widths; it checks and
// maps them, calls pcsc-lite, and maps the results back. Nothing it cannot
// map reaches pcsc-lite, and nothing pcsc-lite answers that Windows would
// not is passed on as a success.
#include "winscard/pcsc_bridge_calls.h"
#include "winscard/pcsc_mapping.h"

#include <PCSC/winscard.h>

#define BRIDGE_EXPORT extern "C" PCSC_BRIDGE_ABI __attribute__((visibility("default")))

using pcsc_mapping::windows_result;

BRIDGE_EXPORT std::int32_t bridge_establish(std::uint32_t scope, std::uint64_t* context)
{
    if (!context)
        return pcsc_mapping::invalid_parameter;
    if (!pcsc_mapping::known_scope(scope))
        return pcsc_mapping::invalid_value;
    SCARDCONTEXT made = 0;
    const LONG rc = SCardEstablishContext(scope, nullptr, nullptr, &made);
    if (rc == SCARD_S_SUCCESS)
        *context = static_cast<std::uint64_t>(made);
    return windows_result(rc);
}

BRIDGE_EXPORT std::int32_t bridge_release(std::uint64_t context)
{
    return windows_result(SCardReleaseContext(static_cast<SCARDCONTEXT>(context)));
}

BRIDGE_EXPORT std::int32_t bridge_list(std::uint64_t context, char* buffer, std::uint32_t* length)
{
    if (!length)
        return pcsc_mapping::invalid_parameter;
    DWORD size = buffer ? *length : 0;
    const std::int32_t rc =
        windows_result(SCardListReaders(static_cast<SCARDCONTEXT>(context), nullptr, buffer, &size));
    if (rc != pcsc_mapping::success && rc != static_cast<std::int32_t>(SCARD_E_INSUFFICIENT_BUFFER))
        return rc;
    return pcsc_mapping::windows_length(size, *length) ? rc : pcsc_mapping::unknown_error;
}

BRIDGE_EXPORT std::int32_t bridge_connect(std::uint64_t context, const char* reader, std::uint32_t share,
                                          std::uint32_t protocols, std::uint64_t* card,
                                          std::uint32_t* active_protocol)
{
    std::uint64_t wanted = 0;
    if (!reader || !card || !active_protocol)
        return pcsc_mapping::invalid_parameter;
    if (!pcsc_mapping::known_share(share) || !pcsc_mapping::pcsclite_protocols(protocols, wanted))
        return pcsc_mapping::invalid_value;
    SCARDHANDLE made = 0;
    DWORD active = 0;
    const std::int32_t rc =
        pcsc_mapping::windows_connect_result(
            SCardConnect(static_cast<SCARDCONTEXT>(context), reader, share, wanted, &made, &active));
    if (rc != pcsc_mapping::success)
        return rc;
    std::uint32_t windows_active = 0;
    if (!pcsc_mapping::windows_protocol(active, windows_active)) {
        SCardDisconnect(made, SCARD_LEAVE_CARD);
        return pcsc_mapping::unknown_error;
    }
    *card = static_cast<std::uint64_t>(made);
    *active_protocol = windows_active;
    return rc;
}

BRIDGE_EXPORT std::int32_t bridge_transmit(std::uint64_t card, std::uint32_t protocol, const std::uint8_t* send,
                                           std::uint32_t send_length, std::uint8_t* received,
                                           std::uint32_t* received_length)
{
    std::uint64_t pcsclite_protocol = 0;
    if (!send || !received || !received_length)
        return pcsc_mapping::invalid_parameter;
    if (!pcsc_mapping::pcsclite_protocols(protocol, pcsclite_protocol))
        return pcsc_mapping::invalid_value;
    // pcsc-lite's header is two 8-byte fields, Windows' two 4-byte ones.
    const SCARD_IO_REQUEST header = {pcsclite_protocol, sizeof(SCARD_IO_REQUEST)};
    DWORD length = *received_length;
    const std::int32_t rc = windows_result(
        SCardTransmit(static_cast<SCARDHANDLE>(card), &header, send, send_length, nullptr, received, &length));
    if (rc != pcsc_mapping::success && rc != static_cast<std::int32_t>(SCARD_E_INSUFFICIENT_BUFFER))
        return rc;
    return pcsc_mapping::windows_length(length, *received_length) ? rc : pcsc_mapping::unknown_error;
}

BRIDGE_EXPORT std::int32_t bridge_disconnect(std::uint64_t card, std::uint32_t disposition)
{
    if (!pcsc_mapping::known_disposition(disposition))
        return pcsc_mapping::invalid_value;
    return windows_result(SCardDisconnect(static_cast<SCARDHANDLE>(card), disposition));
}
