// winscard.dll of a workstation on the machine's real PC/SC stack
// (bench/workstation create --pcsc system): every call goes to pcsc-lite
// through keyhaven_pcsclite.dll.so, the Winelib library beside this DLL.
// Wine finds a Winelib library only by its file name, so this DLL loads it
// so, once, and keeps it for the life of the process.
//
// This side keeps Windows' own rules that pcsc-lite does not share: the
// reader list in the ANSI code page (pcsc-lite's names are UTF-8),
// SCARD_AUTOALLOCATE with its SCardFreeMemory, and the protocol headers
// passed by address. When the library cannot be loaded, every call fails
// with SCARD_E_NO_SERVICE and C:\bench\pcsc-record.txt says why.
#define WIN32_LEAN_AND_MEAN  // keeps <winscard.h> and its declarations out
#include <windows.h>

#include "common/bench_files.h"
#include "winscard/pci_tables.h"
#include "winscard/pcsc_bridge_calls.h"
#include "winscard/pcsc_mapping.h"
#include "winscard/pcsc_state.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

typedef ULONG_PTR ScardContext;
typedef ULONG_PTR ScardHandle;

namespace {

constexpr DWORD scard_autoallocate = static_cast<DWORD>(-1);
constexpr LONG scard_e_insufficient_buffer = static_cast<LONG>(0x80100008L);
// A reader list longer than this is not a list of readers.
constexpr std::uint32_t longest_list = 64 * 1024;

struct Library {
    pcsc_bridge::establish_call establish = nullptr;
    pcsc_bridge::release_call release = nullptr;
    pcsc_bridge::list_call list = nullptr;
    pcsc_bridge::connect_call connect = nullptr;
    pcsc_bridge::transmit_call transmit = nullptr;
    pcsc_bridge::disconnect_call disconnect = nullptr;
    bool loaded = false;
};

std::string folder_of_this_dll()
{
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&folder_of_this_dll), &self))
        return std::string();
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

template <typename Call>
bool find(HMODULE module, const char* name, Call& call)
{
    call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return call != nullptr;
}

Library load_library()
{
    Library library;
    const std::string path = folder_of_this_dll() + pcsc_bridge::library_name;
    HMODULE module = LoadLibraryA(path.c_str());
    const DWORD error = module ? 0 : GetLastError();
    library.loaded = module && find(module, "bridge_establish", library.establish) &&
                     find(module, "bridge_release", library.release) && find(module, "bridge_list", library.list) &&
                     find(module, "bridge_connect", library.connect) &&
                     find(module, "bridge_transmit", library.transmit) &&
                     find(module, "bridge_disconnect", library.disconnect);
    if (!library.loaded) {
        bench::KeepLastError keep;
        bench::append_line(bench::path(pcsc_bench::record_file),
                           "bridge\tcannot load " + path + "\terror=" + std::to_string(error));
    }
    return library;
}

const Library& library()
{
    static const Library loaded = load_library();  // C++11: made once, thread-safe
    return loaded;
}

// Reader lists handed out with SCARD_AUTOALLOCATE, until SCardFreeMemory.
struct Lists {
    std::mutex lock;
    std::set<const void*> given;
};

Lists& lists()
{
    static Lists table;
    return table;
}

// pcsc-lite's list (UTF-8 names) in the ANSI code page, as a Windows
// program's ...A call receives it.
std::string ansi_list(const std::string& utf8)
{
    std::string list;
    for (std::size_t at = 0; at < utf8.size() && utf8[at] != '\0';) {
        const std::string name = utf8.c_str() + at;
        at += name.size() + 1;
        const int wide_length = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
        if (wide_length <= 0)
            continue;
        std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, &wide[0], wide_length);
        const int ansi_length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        if (ansi_length <= 0)
            continue;
        std::string ansi(static_cast<std::size_t>(ansi_length), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0], ansi_length, nullptr, nullptr);
        list += ansi;  // with its NUL
    }
    return list + '\0';
}

// A reader name from a ...A call, as pcsc-lite knows it.
std::string utf8_name(const char* ansi)
{
    const int wide_length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (wide_length <= 0)
        return std::string();
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, &wide[0], wide_length);
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], length, nullptr, nullptr);
    return utf8.c_str();
}

// The whole list from pcsc-lite; a list that grows between the two calls is
// asked for once more.
LONG read_list(ScardContext context, std::string& utf8)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::uint32_t length = 0;
        LONG rc = library().list(context, nullptr, &length);
        if (rc != pcsc_mapping::success)
            return rc;
        if (length == 0 || length > longest_list)
            return pcsc_mapping::unknown_error;
        utf8.assign(length, '\0');
        rc = library().list(context, &utf8[0], &length);
        if (rc == scard_e_insufficient_buffer)
            continue;
        if (rc == pcsc_mapping::success)
            utf8.resize(length <= utf8.size() ? length : utf8.size());
        return rc;
    }
    return scard_e_insufficient_buffer;
}

}  // namespace

extern "C" {

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, ScardContext* context)
{
    if (!library().loaded)
        return pcsc_mapping::no_service;
    if (!context)
        return pcsc_mapping::invalid_parameter;
    std::uint64_t made = 0;
    const LONG rc = library().establish(scope, &made);
    if (rc == pcsc_mapping::success)
        *context = static_cast<ScardContext>(made);
    return rc;
}

LONG WINAPI SCardReleaseContext(ScardContext context)
{
    return library().loaded ? library().release(context) : pcsc_mapping::no_service;
}

LONG WINAPI SCardListReadersA(ScardContext context, LPCSTR groups, LPSTR readers, DWORD* length)
{
    if (!library().loaded)
        return pcsc_mapping::no_service;
    if (!length || groups)  // reader groups are not forwarded
        return pcsc_mapping::invalid_parameter;
    std::string utf8;
    const LONG rc = read_list(context, utf8);
    if (rc != pcsc_mapping::success)
        return rc;
    const std::string list = ansi_list(utf8);
    if (readers && *length == scard_autoallocate) {
        char* copy = static_cast<char*>(std::malloc(list.size()));
        if (!copy)
            return static_cast<LONG>(0x80100006L);  // SCARD_E_NO_MEMORY
        std::memcpy(copy, list.data(), list.size());
        *reinterpret_cast<char**>(readers) = copy;
        std::lock_guard<std::mutex> hold(lists().lock);
        lists().given.insert(copy);
    } else if (readers && *length < list.size()) {
        *length = static_cast<DWORD>(list.size());
        return scard_e_insufficient_buffer;
    } else if (readers) {
        std::memcpy(readers, list.data(), list.size());
    }
    *length = static_cast<DWORD>(list.size());
    return pcsc_mapping::success;
}

LONG WINAPI SCardFreeMemory(ScardContext, LPCVOID memory)
{
    std::lock_guard<std::mutex> hold(lists().lock);
    if (!lists().given.erase(memory))
        return pcsc_mapping::invalid_parameter;
    std::free(const_cast<void*>(memory));
    return pcsc_mapping::success;
}

LONG WINAPI SCardConnectA(ScardContext context, LPCSTR reader, DWORD share, DWORD preferred, ScardHandle* card,
                          DWORD* active_protocol)
{
    if (!library().loaded)
        return pcsc_mapping::no_service;
    if (!reader || !card || !active_protocol)
        return pcsc_mapping::invalid_parameter;
    const std::string name = utf8_name(reader);
    if (name.empty())
        return static_cast<LONG>(0x80100009L);  // SCARD_E_UNKNOWN_READER
    std::uint64_t made = 0;
    std::uint32_t protocol = 0;
    const LONG rc = library().connect(context, name.c_str(), share, preferred, &made, &protocol);
    if (rc == pcsc_mapping::success) {
        *card = static_cast<ScardHandle>(made);
        *active_protocol = protocol;
    }
    return rc;
}

LONG WINAPI SCardTransmit(ScardHandle card, const ScardIoRequest* send_pci, const BYTE* send, DWORD send_length,
                          ScardIoRequest*, BYTE* received, DWORD* received_length)
{
    if (!library().loaded)
        return pcsc_mapping::no_service;
    if (!send_pci || !send || !received || !received_length)
        return pcsc_mapping::invalid_parameter;
    std::uint32_t length = *received_length;
    const LONG rc = library().transmit(card, send_pci->dwProtocol, send, send_length, received, &length);
    if (rc == pcsc_mapping::success || rc == scard_e_insufficient_buffer)
        *received_length = length;
    return rc;
}

LONG WINAPI SCardDisconnect(ScardHandle card, DWORD disposition)
{
    return library().loaded ? library().disconnect(card, disposition) : pcsc_mapping::no_service;
}

}  // extern "C"
