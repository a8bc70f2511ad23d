// winscard.dll of the workstation bench: serves the readers and cards of
// C:\bench\pcsc.txt (see pcsc_state.h) with PC/SC's own result codes, records
// every call in C:\bench\pcsc-record.txt and counts what is still open in
// C:\bench\pcsc-counters.txt, so tests can see what a program did to the
// cards and whether it released everything.
//
// Record lines, TAB-separated, first the call:
//   establish  scope=S  rc=0x........  context=N
//   list       context=N  rc=0x........  readers=K
//   free       context=N  rc=0x........
//   connect    <reader>  share=S  protocols=P  rc=0x........  card=N
//   transmit   <reader>  pci=T0|T1|RAW|other  apdu=HEX  rc=0x........  reply=HEX
//   disconnect <reader>  disposition=D  rc=0x........
//   release    context=N  rc=0x........  cards-left=K
//
// Handles are this process's own, as with the real service. The state file
// is read afresh by every call, so a card pulled after SCardConnect is gone
// at the next SCardTransmit.
#define WIN32_LEAN_AND_MEAN  // keeps <winscard.h> and its declarations out
#include <windows.h>

#include "common/bench_files.h"
#include "winscard/pci_tables.h"
#include "winscard/pcsc_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

typedef ULONG_PTR ScardContext;
typedef ULONG_PTR ScardHandle;

namespace {

// PC/SC codes and constants (winscard.h and scarderr.h spell them the same).
constexpr LONG scard_s_success = 0;
constexpr LONG scard_e_invalid_handle = static_cast<LONG>(0x80100003L);
constexpr LONG scard_e_invalid_parameter = static_cast<LONG>(0x80100004L);
constexpr LONG scard_e_insufficient_buffer = static_cast<LONG>(0x80100008L);
constexpr LONG scard_e_unknown_reader = static_cast<LONG>(0x80100009L);
constexpr LONG scard_e_timeout = static_cast<LONG>(0x8010000AL);
constexpr LONG scard_e_sharing_violation = static_cast<LONG>(0x8010000BL);
constexpr LONG scard_e_proto_mismatch = static_cast<LONG>(0x8010000FL);
constexpr LONG scard_e_invalid_value = static_cast<LONG>(0x80100011L);
constexpr LONG scard_e_no_service = static_cast<LONG>(0x8010001DL);
constexpr LONG scard_e_no_readers_available = static_cast<LONG>(0x8010002EL);
constexpr LONG scard_w_removed_card = static_cast<LONG>(0x80100069L);

constexpr DWORD scard_autoallocate = static_cast<DWORD>(-1);
constexpr DWORD scope_user = 0, scope_system = 2;
constexpr DWORD share_exclusive = 1, share_direct = 3;
constexpr DWORD protocol_t0 = 1, protocol_t1 = 2;
constexpr DWORD eject_card = 3;  // the last disposition

struct Connection {
    std::string reader;
    DWORD protocol;
    std::size_t replies_used;
};

struct Handles {
    std::mutex lock;
    ULONG_PTR last = 0;
    std::set<ScardContext> contexts;
    std::map<ScardHandle, Connection> cards;
    std::set<const void*> lists;
};

Handles& handles()
{
    static Handles table;
    return table;
}

std::string code(LONG rc)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(rc));
    return text;
}

void record(const std::string& line)
{
    bench::append_line(bench::path(pcsc_bench::record_file), line);
}

void count(const char* what, long delta)
{
    bench::adjust_counter(bench::path(pcsc_bench::counters_file), what, delta);
}

std::vector<pcsc_bench::Reader> readers_now()
{
    return pcsc_bench::parse_state(bench::read_lines(bench::path(pcsc_bench::state_file)));
}

const pcsc_bench::Reader* find_reader(const std::vector<pcsc_bench::Reader>& readers, const std::string& name)
{
    for (const auto& reader : readers)
        if (reader.name == name)
            return &reader;
    return nullptr;
}

bool service_stopped()
{
    bench::KeepLastError keep;
    return GetFileAttributesA(bench::path(pcsc_bench::stopped_file).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Caller holds the lock.
bool known_context(ScardContext context)
{
    return handles().contexts.count(context) != 0;
}

LONG choose_protocol(const pcsc_bench::Reader& reader, DWORD share, DWORD preferred, DWORD& chosen)
{
    chosen = 0;
    if (share == share_direct)
        return scard_s_success;
    if (!reader.card)
        return scard_w_removed_card;
    if (reader.exclusive)
        return scard_e_sharing_violation;
    const DWORD offered = reader.t1_only ? protocol_t1 : protocol_t0 | protocol_t1;
    if (preferred & offered & protocol_t0)
        chosen = protocol_t0;
    else if (preferred & offered & protocol_t1)
        chosen = protocol_t1;
    return chosen ? scard_s_success : scard_e_proto_mismatch;
}

const char* pci_name(const ScardIoRequest* pci)
{
    if (pci == &g_rgSCardT0Pci)
        return "T0";
    if (pci == &g_rgSCardT1Pci)
        return "T1";
    if (pci == &g_rgSCardRawPci)
        return "RAW";
    return "other";
}

// The scripted answer to the next APDU of a connection: reply bytes, or a
// failing transmission.
LONG scripted_reply(const pcsc_bench::Reader& reader, std::size_t index, std::string& reply)
{
    if (reader.replies.empty())
        return scard_e_timeout;
    const std::string& token = reader.replies[std::min(index, reader.replies.size() - 1)];
    if (!token.empty() && token[0] == '!')
        return static_cast<LONG>(std::strtoul(token.c_str() + 1, nullptr, 16));
    return bench::from_hex(token, reply) ? scard_s_success : scard_e_timeout;
}

LONG transmit(Connection& connection, const ScardIoRequest* pci, std::string& reply)
{
    const auto readers = readers_now();
    const pcsc_bench::Reader* reader = find_reader(readers, connection.reader);
    if (!reader || !reader->card)
        return scard_w_removed_card;
    if (connection.protocol == 0 || pci->dwProtocol != connection.protocol)
        return scard_e_proto_mismatch;
    return scripted_reply(*reader, connection.replies_used++, reply);
}

}  // namespace

extern "C" {

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, ScardContext* context)
{
    LONG rc = scard_s_success;
    ScardContext made = 0;
    if (!context)
        rc = scard_e_invalid_parameter;
    else if (scope < scope_user || scope > scope_system)
        rc = scard_e_invalid_value;
    else if (service_stopped())
        rc = scard_e_no_service;
    if (rc == scard_s_success) {
        std::lock_guard<std::mutex> hold(handles().lock);
        made = ++handles().last;
        handles().contexts.insert(made);
        *context = made;
        count(pcsc_bench::open_contexts, 1);
    }
    record("establish\tscope=" + std::to_string(scope) + "\trc=" + code(rc) + "\tcontext=" + std::to_string(made));
    return rc;
}

LONG WINAPI SCardReleaseContext(ScardContext context)
{
    std::lock_guard<std::mutex> hold(handles().lock);
    LONG rc = scard_e_invalid_handle;
    std::size_t cards_left = 0;
    if (handles().contexts.erase(context)) {
        rc = scard_s_success;
        count(pcsc_bench::open_contexts, -1);
        cards_left = handles().cards.size();
    }
    record("release\tcontext=" + std::to_string(context) + "\trc=" + code(rc) + "\tcards-left=" +
           std::to_string(cards_left));
    return rc;
}

LONG WINAPI SCardListReadersA(ScardContext context, LPCSTR, LPSTR readers, DWORD* length)
{
    std::lock_guard<std::mutex> hold(handles().lock);
    std::string list;
    const auto state = readers_now();
    for (const auto& reader : state)
        list += reader.name + '\0';
    list += '\0';

    LONG rc = scard_s_success;
    if (context != 0 && !known_context(context))
        rc = scard_e_invalid_handle;
    else if (!length)
        rc = scard_e_invalid_parameter;
    else if (state.empty())
        rc = scard_e_no_readers_available;
    else if (readers && *length == scard_autoallocate) {
        char* copy = static_cast<char*>(std::malloc(list.size()));
        std::memcpy(copy, list.data(), list.size());
        *reinterpret_cast<char**>(readers) = copy;
        handles().lists.insert(copy);
        count(pcsc_bench::open_lists, 1);
    } else if (readers && *length < list.size())
        rc = scard_e_insufficient_buffer;
    else if (readers)
        std::memcpy(readers, list.data(), list.size());
    if (length && (rc == scard_s_success || rc == scard_e_insufficient_buffer))
        *length = static_cast<DWORD>(list.size());
    record("list\tcontext=" + std::to_string(context) + "\trc=" + code(rc) + "\treaders=" +
           std::to_string(state.size()));
    return rc;
}

LONG WINAPI SCardFreeMemory(ScardContext context, LPCVOID memory)
{
    std::lock_guard<std::mutex> hold(handles().lock);
    LONG rc = scard_e_invalid_parameter;
    if (handles().lists.erase(memory)) {
        std::free(const_cast<void*>(memory));
        count(pcsc_bench::open_lists, -1);
        rc = scard_s_success;
    }
    record("free\tcontext=" + std::to_string(context) + "\trc=" + code(rc));
    return rc;
}

LONG WINAPI SCardConnectA(ScardContext context, LPCSTR reader, DWORD share, DWORD preferred, ScardHandle* card,
                          DWORD* active_protocol)
{
    std::lock_guard<std::mutex> hold(handles().lock);
    LONG rc = scard_s_success;
    DWORD protocol = 0;
    ScardHandle made = 0;
    const auto state = readers_now();
    const pcsc_bench::Reader* found = reader ? find_reader(state, reader) : nullptr;
    if (!known_context(context))
        rc = scard_e_invalid_handle;
    else if (!reader || !card || !active_protocol)
        rc = scard_e_invalid_parameter;
    else if (share < share_exclusive || share > share_direct || (share != share_direct && preferred == 0))
        rc = scard_e_invalid_value;
    else if (!found)
        rc = scard_e_unknown_reader;
    else
        rc = choose_protocol(*found, share, preferred, protocol);
    if (rc == scard_s_success) {
        made = ++handles().last;
        handles().cards[made] = Connection{reader, protocol, 0};
        *card = made;
        *active_protocol = protocol;
        count(pcsc_bench::open_cards, 1);
    }
    record("connect\t" + std::string(reader ? reader : "") + "\tshare=" + std::to_string(share) + "\tprotocols=" +
           std::to_string(preferred) + "\trc=" + code(rc) + "\tcard=" + std::to_string(made));
    return rc;
}

LONG WINAPI SCardTransmit(ScardHandle card, const ScardIoRequest* send_pci, const BYTE* send, DWORD send_length,
                          ScardIoRequest*, BYTE* received, DWORD* received_length)
{
    std::lock_guard<std::mutex> hold(handles().lock);
    auto connection = handles().cards.find(card);
    const std::string command = send ? std::string(reinterpret_cast<const char*>(send), send_length) : std::string();
    std::string reply;
    LONG rc = scard_s_success;
    if (connection == handles().cards.end())
        rc = scard_e_invalid_handle;
    else if (!send_pci || !send || !received || !received_length)
        rc = scard_e_invalid_parameter;
    else
        rc = transmit(connection->second, send_pci, reply);
    if (rc == scard_s_success && reply.size() > *received_length) {
        *received_length = static_cast<DWORD>(reply.size());
        rc = scard_e_insufficient_buffer;
    } else if (rc == scard_s_success) {
        std::memcpy(received, reply.data(), reply.size());
        *received_length = static_cast<DWORD>(reply.size());
    }
    const std::string reader = connection == handles().cards.end() ? "" : connection->second.reader;
    record("transmit\t" + reader + "\tpci=" + pci_name(send_pci) + "\tapdu=" + bench::to_hex(command) +
           "\trc=" + code(rc) + "\treply=" + (rc == scard_s_success ? bench::to_hex(reply) : ""));
    return rc;
}

LONG WINAPI SCardDisconnect(ScardHandle card, DWORD disposition)
{
    std::lock_guard<std::mutex> hold(handles().lock);
    auto connection = handles().cards.find(card);
    LONG rc = scard_s_success;
    std::string reader;
    if (connection == handles().cards.end())
        rc = scard_e_invalid_handle;
    else if (disposition > eject_card)
        rc = scard_e_invalid_value;
    if (rc == scard_s_success) {
        reader = connection->second.reader;
        handles().cards.erase(connection);
        count(pcsc_bench::open_cards, -1);
    }
    record("disconnect\t" + reader + "\tdisposition=" + std::to_string(disposition) + "\trc=" + code(rc));
    return rc;
}

}  // extern "C"
