// The census's PC/SC and SetupAPI side. Every context, card handle, reader
// list and device set is an Owned value, so each is released on every path,
// in the reverse order of acquisition.
#include "carriers/census.h"

#include "carriers/apdu.h"
#include "carriers/census_rules.h"
#include "platform/owned.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winscard.h>

#include <algorithm>
#include <type_traits>

namespace keyhaven {

static_assert(std::is_same<SCARDHANDLE, std::uintptr_t>::value, "census.h passes card handles as uintptr_t");

namespace {

constexpr ULONG device_id_buffer_chars = 200;

// A reader list the PC/SC service allocated, with the context that frees it.
struct ReaderListMemory {
    SCARDCONTEXT context;
    LPSTR names;
    DWORD length;
};

inline bool operator!=(const ReaderListMemory& a, const ReaderListMemory& b)
{
    return a.names != b.names;
}
inline ReaderListMemory no_reader_list()
{
    return ReaderListMemory{0, nullptr, 0};
}

void release_context(SCARDCONTEXT context)
{
    SCardReleaseContext(context);
}
void free_reader_list(ReaderListMemory list)
{
    SCardFreeMemory(list.context, list.names);
}
// Leaves the card as it is: neither reset nor powered down.
void disconnect_leaving_card(SCARDHANDLE card)
{
    SCardDisconnect(card, SCARD_LEAVE_CARD);
}
void destroy_device_set(HDEVINFO set)
{
    SetupDiDestroyDeviceInfoList(set);
}

using PcscContext = Owned<SCARDCONTEXT, release_context>;
using ReaderList = Owned<ReaderListMemory, free_reader_list, no_reader_list>;
using CardConnection = Owned<SCARDHANDLE, disconnect_leaving_card>;
using UsbDeviceSet = Owned<HDEVINFO, destroy_device_set, invalid_handle_value>;

// A failing call may still have written its out-parameter: only a success is kept.
PcscContext establish_context()
{
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return PcscContext();
    return PcscContext(context);
}

ReaderList list_readers(const PcscContext& context)
{
    LPSTR names = nullptr;
    DWORD length = SCARD_AUTOALLOCATE;
    if (SCardListReadersA(context.get(), nullptr, reinterpret_cast<LPSTR>(&names), &length) != SCARD_S_SUCCESS)
        return ReaderList();
    return ReaderList(ReaderListMemory{context.get(), names, length});
}

CardConnection connect_t0(const PcscContext& context, const std::string& reader)
{
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (SCardConnectA(context.get(), reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card, &protocol) !=
        SCARD_S_SUCCESS)
        return CardConnection();
    return CardConnection(card);
}

// One SCardTransmit over T=0 with the fixed buffers.
std::int32_t transmit_once(SCARDHANDLE card, const apdu::Bytes& command, apdu::Bytes& reply)
{
    if (command.size() > apdu::buffer_size)
        return SCARD_E_INVALID_PARAMETER;
    BYTE send[apdu::buffer_size] = {};
    BYTE received[apdu::buffer_size] = {};
    std::copy(command.begin(), command.end(), send);
    DWORD received_length = sizeof received;
    const LONG rc = SCardTransmit(card, SCARD_PCI_T0, send, static_cast<DWORD>(command.size()), nullptr, received,
                                  &received_length);
    if (rc != SCARD_S_SUCCESS)
        return rc;
    reply.assign(received, received + std::min<DWORD>(received_length, sizeof received));
    return 0;
}

}  // namespace

int CarrierCensus::count_cards() const
{
    const PcscContext context = establish_context();
    if (!context.held())
        return 0;
    const ReaderList readers = list_readers(context);
    int count = 0;
    for (const std::string& reader : census_rules::split_reader_list(readers.get().names, readers.get().length))
        if (probe_reader(reader))
            ++count;
    return count;
}

int CarrierCensus::count_tokens() const
{
    const UsbDeviceSet devices(SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!devices.held())
        return 0;
    int count = 0;
    SP_DEVINFO_DATA device = {};
    for (DWORD index = 0;; ++index) {
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(devices.get(), index, &device))
            break;
        char id[device_id_buffer_chars] = {};
        if (CM_Get_Device_IDA(device.DevInst, id, device_id_buffer_chars, 0) != CR_SUCCESS)
            continue;
        id[device_id_buffer_chars - 1] = '\0';
        if (census_rules::is_token_instance_id(id))
            ++count;
    }
    return count;
}

bool CarrierCensus::probe_reader(const std::string& reader_name)
{
    if (census_rules::is_skipped_reader(reader_name))
        return false;
    const PcscContext context = establish_context();
    if (!context.held())
        return false;
    const CardConnection card = connect_t0(context, reader_name);
    if (!card.held())
        return false;
    std::vector<unsigned char> response;
    return transmit_apdu(card.get(), apdu::probe_command(), response) == apdu::status_success;
}

std::int32_t CarrierCensus::transmit_apdu(std::uintptr_t card, const std::vector<unsigned char>& command,
                                         std::vector<unsigned char>& response)
{
    return apdu::exchange(command, response, [card](const apdu::Bytes& next, apdu::Bytes& reply) {
        return transmit_once(card, next, reply);
    });
}

}  // namespace keyhaven
