// The census's PC/SC and SetupAPI side. Every context, card handle, reader
// list and device set is owned by a small guard, so each is released on
// every path, in the reverse order of acquisition.
#include "carriers/census.h"

#include "carriers/apdu.h"
#include "carriers/census_rules.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winscard.h>

#include <algorithm>
#include <type_traits>

static_assert(std::is_same<SCARDHANDLE, std::uintptr_t>::value, "census.h passes card handles as uintptr_t");

namespace {

constexpr ULONG device_id_buffer_chars = 200;

class PcscContext {
public:
    PcscContext()
    {
        established_ = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_) == SCARD_S_SUCCESS;
    }
    ~PcscContext()
    {
        if (established_)
            SCardReleaseContext(context_);
    }
    PcscContext(const PcscContext&) = delete;
    PcscContext& operator=(const PcscContext&) = delete;

    bool established() const { return established_; }
    SCARDCONTEXT get() const { return context_; }

private:
    SCARDCONTEXT context_ = 0;
    bool established_ = false;
};

class ReaderList {
public:
    explicit ReaderList(const PcscContext& context) : context_(context.get())
    {
        DWORD length = SCARD_AUTOALLOCATE;
        if (SCardListReadersA(context_, nullptr, reinterpret_cast<LPSTR>(&list_), &length) == SCARD_S_SUCCESS)
            length_ = length;
        else
            list_ = nullptr;  // a failing call may still have written the slot
    }
    ~ReaderList()
    {
        if (list_)
            SCardFreeMemory(context_, list_);
    }
    ReaderList(const ReaderList&) = delete;
    ReaderList& operator=(const ReaderList&) = delete;

    std::vector<std::string> names() const { return census_rules::split_reader_list(list_, length_); }

private:
    SCARDCONTEXT context_;
    LPSTR list_ = nullptr;
    DWORD length_ = 0;
};

class CardConnection {
public:
    CardConnection(const PcscContext& context, const std::string& reader)
    {
        DWORD protocol = 0;
        connected_ = SCardConnectA(context.get(), reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card_,
                                   &protocol) == SCARD_S_SUCCESS;
    }
    // Leaves the card as it is: neither reset nor powered down.
    ~CardConnection()
    {
        if (connected_)
            SCardDisconnect(card_, SCARD_LEAVE_CARD);
    }
    CardConnection(const CardConnection&) = delete;
    CardConnection& operator=(const CardConnection&) = delete;

    bool connected() const { return connected_; }
    SCARDHANDLE get() const { return card_; }

private:
    SCARDHANDLE card_ = 0;
    bool connected_ = false;
};

class UsbDeviceSet {
public:
    UsbDeviceSet() : set_(SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES)) {}
    ~UsbDeviceSet()
    {
        if (valid())
            SetupDiDestroyDeviceInfoList(set_);
    }
    UsbDeviceSet(const UsbDeviceSet&) = delete;
    UsbDeviceSet& operator=(const UsbDeviceSet&) = delete;

    bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

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
    PcscContext context;
    if (!context.established())
        return 0;
    ReaderList readers(context);
    int count = 0;
    for (const std::string& reader : readers.names())
        if (probe_reader(reader))
            ++count;
    return count;
}

int CarrierCensus::count_tokens() const
{
    UsbDeviceSet devices;
    if (!devices.valid())
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
    PcscContext context;
    if (!context.established())
        return false;
    CardConnection card(context, reader_name);
    if (!card.connected())
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
