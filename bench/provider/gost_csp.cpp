// The bench's GOST provider of type 75: a CSP DLL that serves the containers
// of the bench state (provider_state.h) through the CryptoAPI provider
// interface. Test equipment: no cryptography, every answer deterministic.
//
// advapi32 unloads this DLL when the last context of a process goes, so the
// only state kept in memory is per handle (a walk's position, its key spec);
// everything else is read from the bench files on every call. Errors go to
// the caller through SetLastError + FALSE; the file helpers keep the last
// error as it was, and every failing path sets its code last.

#include "provider/provider_state.h"

#include "common/bench_files.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bench_csp::Container;
using bench_csp::Switches;

// <wincrypt.h> hides this advapi32 record from newer targets; nothing in it is used.
struct ProviderVTable {
    DWORD Version;
    FARPROC FuncVerifyImage;
    FARPROC FuncReturnhWnd;
    DWORD dwProvType;
    BYTE* pbContextInfo;
    DWORD cbContextInfo;
    LPSTR pszProvName;
};

const char provider_name[] = "Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider";
const DWORD provider_type = 75;
const DWORD pp_version_ex = 138;
const DWORD pp_container_default = 135;
const DWORD qualified_flag = 8;
const unsigned long context_magic = 0x4B485056;  // "KHPV"
const unsigned long key_magic = 0x4B484B59;      // "KHKY"

std::string containers_file() { return bench::path("provider.txt"); }
std::string switches_file() { return bench::path("provider-switches.txt"); }
std::string counters_file() { return bench::path("provider-counters.txt"); }
std::string record_file() { return bench::path("provider-record.txt"); }
std::string pcsc_file() { return bench::path("pcsc.txt"); }

struct Context {
    unsigned long magic = context_magic;
    // Fully qualified, so same-named containers on two carriers stay apart;
    // empty for CRYPT_VERIFYCONTEXT.
    std::string container;
    std::vector<Container> walk;
    std::size_t position = 0;
    unsigned long named_calls = 0;
};

struct Key {
    unsigned long magic = key_magic;
    std::string container;  // fully qualified
    DWORD key_spec = 0;
};

// What an injected fault with code 0 reports inside this DLL: a failure
// that leaves the caller's last error at 0.
const DWORD no_code = 0xFFFFFFFF;

BOOL fail(DWORD code)
{
    SetLastError(code == no_code ? 0 : code);
    return FALSE;
}

Switches load_switches()
{
    return bench_csp::parse_switches(bench::read_lines(switches_file()));
}

// Code of an injected fault for this operation, 0 for none, no_code for a
// fault without an error code (the switch's code 0).
DWORD injected(const Switches& switches, const char* operation)
{
    if (switches.count(bench_csp::fail_switch(operation)) == 0)
        return 0;
    const DWORD code = bench_csp::switch_number(switches, bench_csp::fail_switch(operation), 0, 0);
    return code ? code : no_code;
}

std::string hex32(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// --- carriers ------------------------------------------------------------

// A token is plugged in while any USB hardware id has an instance key named ID.
bool token_present(const std::string& id)
{
    bench::KeepLastError keep;
    HKEY usb = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Enum\\USB", 0, KEY_READ, &usb) != ERROR_SUCCESS)
        return false;
    bool found = false;
    char hardware_id[512];
    for (DWORD i = 0; !found; ++i) {
        DWORD length = sizeof hardware_id;
        if (RegEnumKeyExA(usb, i, hardware_id, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY instance = nullptr;
        std::string sub = std::string(hardware_id) + "\\" + id;
        if (RegOpenKeyExA(usb, sub.c_str(), 0, KEY_READ, &instance) == ERROR_SUCCESS) {
            RegCloseKey(instance);
            found = true;
        }
    }
    RegCloseKey(usb);
    return found;
}

// A card is in when the PC/SC bench lists its reader with "card".
bool card_present(const std::string& reader)
{
    for (const auto& line : bench::read_lines(pcsc_file())) {
        std::vector<std::string> fields = bench::split(line, '\t');
        if (fields.size() >= 2 && fields[0] == reader)
            return fields[1] == "card";
    }
    return false;
}

bool carrier_present(const Container& container)
{
    if (bench_csp::starts_with(container.carrier, "token:"))
        return token_present(container.carrier.substr(6));
    if (bench_csp::starts_with(container.carrier, "card:"))
        return card_present(container.carrier.substr(5));
    return container.carrier == "registry";
}

std::vector<Container> present_containers(const Switches& switches)
{
    std::vector<Container> present;
    if (bench_csp::switch_on(switches, bench_csp::hidden_switch))
        return present;
    for (const auto& container : bench_csp::parse_containers(bench::read_lines(containers_file())))
        if (carrier_present(container))
            present.push_back(container);
    return present;
}

// The container a handle was opened on (its qualified name), if it is
// still there: 0, or NTE_BAD_KEYSET when it was taken off the bench,
// SCARD_W_REMOVED_CARD when its carrier went.
DWORD find_container(const std::string& qualified, Container& found)
{
    if (qualified.empty())
        return static_cast<DWORD>(NTE_BAD_KEYSET);
    for (const auto& container : bench_csp::parse_containers(bench::read_lines(containers_file()))) {
        if (bench_csp::qualified_name(container) != qualified)
            continue;
        if (bench_csp::switch_on(load_switches(), bench_csp::hidden_switch) || !carrier_present(container))
            return static_cast<DWORD>(SCARD_W_REMOVED_CARD);
        found = container;
        return 0;
    }
    return static_cast<DWORD>(NTE_BAD_KEYSET);
}

// The container last marked default, as it was given.
std::string default_container()
{
    std::string marked;
    for (const auto& line : bench::read_lines(record_file()))
        if (bench_csp::starts_with(line, "mark\t"))
            marked = line.substr(5);
    return marked;
}

// --- the two-call pattern ------------------------------------------------

// No buffer: the size. A short buffer: ERROR_MORE_DATA with the size.
BOOL give_bytes(const void* bytes, DWORD size, BYTE* data, DWORD* length)
{
    if (!length)
        return fail(ERROR_INVALID_PARAMETER);
    if (data && *length < size) {
        *length = size;
        return fail(ERROR_MORE_DATA);
    }
    if (data)
        std::memcpy(data, bytes, size);
    *length = size;
    return TRUE;
}

BOOL give_string(const std::string& text, BYTE* data, DWORD* length)
{
    return give_bytes(text.c_str(), static_cast<DWORD>(text.size() + 1), data, length);
}

BOOL give_word(DWORD value, BYTE* data, DWORD* length)
{
    return give_bytes(&value, sizeof value, data, length);
}

Context* context_of(HCRYPTPROV handle)
{
    auto context = reinterpret_cast<Context*>(handle);
    return context && context->magic == context_magic ? context : nullptr;
}

Key* key_of(HCRYPTKEY handle)
{
    auto key = reinterpret_cast<Key*>(handle);
    return key && key->magic == key_magic ? key : nullptr;
}

// --- contexts ------------------------------------------------------------

DWORD open_context(const std::string& name, DWORD flags, HCRYPTPROV* handle)
{
    const DWORD known = CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET | CRYPT_SILENT;
    if (!handle)
        return ERROR_INVALID_PARAMETER;
    if (flags & ~known)
        return static_cast<DWORD>(NTE_BAD_FLAGS);
    Switches switches = load_switches();
    if (DWORD code = injected(switches, "acquire"))
        return code;

    std::string container;
    if (!(flags & CRYPT_VERIFYCONTEXT)) {
        const std::string wanted = name.empty() ? default_container() : name;
        for (const auto& present : present_containers(switches)) {
            if (bench_csp::is_named(present, wanted)) {
                container = bench_csp::qualified_name(present);
                break;
            }
        }
        if (container.empty())
            return static_cast<DWORD>(NTE_BAD_KEYSET);
    }
    auto context = new Context;
    context->container = container;
    bench::adjust_counter(counters_file(), "contexts", 1);
    *handle = reinterpret_cast<HCRYPTPROV>(context);
    return 0;
}

// --- PP_ENUMCONTAINERS ---------------------------------------------------

// The fault switch "fail_walk <n> <code> <times>" for this named call.
DWORD walk_fault(const Switches& switches, unsigned long named_call)
{
    const unsigned long at = bench_csp::switch_number(switches, bench_csp::fail_walk_switch, 0, 0);
    const DWORD code = bench_csp::switch_number(switches, bench_csp::fail_walk_switch, 1, 0);
    const unsigned long times = bench_csp::switch_number(switches, bench_csp::fail_walk_switch, 2, 0);
    if (at == 0 || at != named_call)
        return 0;
    if (times != 0 && bench::read_counters(counters_file())["fail_walk_fired"] >= static_cast<long>(times))
        return 0;
    bench::adjust_counter(counters_file(), "fail_walk_fired", 1);
    return code ? code : no_code;
}

void hide_every_container()
{
    Switches switches = load_switches();
    switches[bench_csp::hidden_switch] = {"1"};
    bench::write_file(switches_file(), bench_csp::format_switches(switches));
}

BOOL enumerate(Context& context, BYTE* data, DWORD* length, DWORD flags)
{
    if (!length)
        return fail(ERROR_INVALID_PARAMETER);
    const Switches switches = load_switches();
    const bool busy = bench_csp::switch_on(switches, bench_csp::busy_switch);
    if (flags & CRYPT_FIRST) {
        context.walk = busy ? std::vector<Container>() : present_containers(switches);
        context.position = 0;
        context.named_calls = 0;
    }

    if (!data) {
        Sleep(bench_csp::switch_number(switches, bench_csp::delay_switch, 0, 0));
        if (DWORD code = injected(switches, "enum"))
            return fail(code);
        if (busy || context.walk.empty())
            return fail(ERROR_NO_MORE_ITEMS);
        std::string::size_type longest = 0;
        for (const auto& container : context.walk)
            longest = std::max(longest, bench_csp::qualified_name(container).size());
        *length = static_cast<DWORD>(longest + 1);
        return TRUE;
    }

    if (DWORD code = walk_fault(switches, ++context.named_calls))
        return fail(code);
    if (busy)
        return fail(ERROR_NO_MORE_ITEMS);
    if (context.position >= context.walk.size()) {
        if (!context.walk.empty() && bench_csp::switch_on(switches, bench_csp::vanish_switch))
            hide_every_container();
        return fail(ERROR_NO_MORE_ITEMS);
    }
    const Container& next = context.walk[context.position];
    if (!give_string((flags & qualified_flag) ? bench_csp::qualified_name(next) : next.name, data, length))
        return FALSE;
    ++context.position;
    return TRUE;
}

// --- other provider parameters -------------------------------------------

BOOL container_name(const Context& context, BYTE* data, DWORD* length, DWORD flags)
{
    Container container;
    if (DWORD code = find_container(context.container, container))
        return fail(code);
    if (DWORD code = injected(load_switches(), "container_name"))
        return fail(code);
    return give_string((flags & qualified_flag) ? bench_csp::qualified_name(container) : container.name, data,
                       length);
}

BOOL reader_name(const Context& context, BYTE* data, DWORD* length)
{
    Container container;
    if (DWORD code = find_container(context.container, container))
        return fail(code);
    if (DWORD code = injected(load_switches(), "reader"))
        return fail(code);
    if (!bench_csp::starts_with(container.carrier, "card:"))
        return fail(static_cast<DWORD>(NTE_BAD_TYPE));
    return give_string(container.carrier.substr(5), data, length);
}

BOOL version_word(BYTE* data, DWORD* length)
{
    const Switches switches = load_switches();
    if (DWORD code = injected(switches, "version"))
        return fail(code);
    return give_word(bench_csp::switch_number(switches, bench_csp::version_switch, 0, bench_csp::default_version_word),
                     data, length);
}

BOOL version_record(BYTE* data, DWORD* length)
{
    const Switches switches = load_switches();
    if (DWORD code = injected(switches, "version_ex"))
        return fail(code);
    auto found = switches.find(bench_csp::version_ex_switch);
    if (found != switches.end() && !found->second.empty() && found->second[0] == "none")
        return fail(static_cast<DWORD>(NTE_BAD_TYPE));
    DWORD record[5];
    for (std::size_t i = 0; i < 5; ++i)
        record[i] = bench_csp::switch_number(switches, bench_csp::version_ex_switch, i, bench_csp::default_version_ex[i]);
    return give_bytes(record, sizeof record, data, length);
}

BOOL mark_default(const BYTE* data)
{
    if (!data)
        return fail(ERROR_INVALID_PARAMETER);
    const std::string name(reinterpret_cast<const char*>(data));
    const Switches switches = load_switches();
    if (DWORD code = injected(switches, "mark"))
        return fail(code);
    bool known = false;
    for (const auto& present : present_containers(switches))
        known = known || bench_csp::is_named(present, name);
    if (!known)
        return fail(static_cast<DWORD>(NTE_BAD_KEYSET));
    bench::append_line(record_file(), "mark\t" + name);
    return TRUE;
}

BOOL not_implemented()
{
    return fail(static_cast<DWORD>(E_NOTIMPL));
}

}  // namespace

extern "C" {

// advapi32 unloads a provider whenever its last context goes and loads it
// again for the next one. This DLL carries static MinGW run-times, which leak
// a TLS slot and some memory at every unload: after about a thousand carrier
// changes the agent's process would run out of TLS slots. A real provider
// stays loaded; so does this one (its state lives in files anyway).
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        HMODULE self = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&DllMain), &self);
    }
    return TRUE;
}

BOOL WINAPI CPAcquireContext(HCRYPTPROV* handle, LPCSTR container, DWORD flags, ProviderVTable*)
{
    const std::string name = container ? container : "";
    const DWORD code = open_context(name, flags, handle);
    bench::append_line(record_file(), "acquire\t" + hex32(flags) + "\t" + name + "\t" +
                                          (code == no_code ? std::string("failed, no code") : hex32(code)));
    return code ? fail(code) : TRUE;
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV handle, DWORD flags)
{
    Context* context = context_of(handle);
    if (!context)
        return fail(static_cast<DWORD>(NTE_BAD_UID));
    if (flags)
        return fail(static_cast<DWORD>(NTE_BAD_FLAGS));
    context->magic = 0;
    delete context;
    bench::adjust_counter(counters_file(), "contexts", -1);
    return TRUE;
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV handle, DWORD param, BYTE* data, DWORD* length, DWORD flags)
{
    Context* context = context_of(handle);
    if (!context)
        return fail(static_cast<DWORD>(NTE_BAD_UID));
    switch (param) {
    case PP_ENUMCONTAINERS:
        return enumerate(*context, data, length, flags);
    case PP_CONTAINER:
        return container_name(*context, data, length, flags);
    case PP_SMARTCARD_READER:
        return reader_name(*context, data, length);
    case PP_VERSION:
        return version_word(data, length);
    case pp_version_ex:
        return version_record(data, length);
    case PP_NAME:
        return give_string(provider_name, data, length);
    case PP_PROVTYPE:
        return give_word(provider_type, data, length);
    default:
        return fail(static_cast<DWORD>(NTE_BAD_TYPE));
    }
}

BOOL WINAPI CPSetProvParam(HCRYPTPROV handle, DWORD param, const BYTE* data, DWORD)
{
    if (!context_of(handle))
        return fail(static_cast<DWORD>(NTE_BAD_UID));
    if (param == pp_container_default)
        return mark_default(data);
    return fail(static_cast<DWORD>(NTE_BAD_TYPE));
}

BOOL WINAPI CPGetUserKey(HCRYPTPROV handle, DWORD key_spec, HCRYPTKEY* key_handle)
{
    Context* context = context_of(handle);
    if (!context)
        return fail(static_cast<DWORD>(NTE_BAD_UID));
    if (!key_handle)
        return fail(ERROR_INVALID_PARAMETER);
    Container container;
    if (DWORD code = find_container(context->container, container))
        return fail(context->container.empty() ? static_cast<DWORD>(NTE_NO_KEY) : code);
    if (DWORD code = injected(load_switches(), "user_key"))
        return fail(code);
    if (!bench_csp::has_key(container, key_spec))
        return fail(static_cast<DWORD>(NTE_NO_KEY));
    auto key = new Key;
    key->container = bench_csp::qualified_name(container);
    key->key_spec = key_spec;
    bench::adjust_counter(counters_file(), "keys", 1);
    *key_handle = reinterpret_cast<HCRYPTKEY>(key);
    return TRUE;
}

BOOL WINAPI CPDestroyKey(HCRYPTPROV handle, HCRYPTKEY key_handle)
{
    Key* key = key_of(key_handle);
    if (!context_of(handle))
        return fail(static_cast<DWORD>(NTE_BAD_UID));
    if (!key)
        return fail(static_cast<DWORD>(NTE_BAD_KEY));
    key->magic = 0;
    delete key;
    bench::adjust_counter(counters_file(), "keys", -1);
    return TRUE;
}

BOOL WINAPI CPGetKeyParam(HCRYPTPROV handle, HCRYPTKEY key_handle, DWORD param, BYTE* data, DWORD* length, DWORD)
{
    Key* key = key_of(key_handle);
    if (!context_of(handle))
        return fail(static_cast<DWORD>(NTE_BAD_UID));
    if (!key)
        return fail(static_cast<DWORD>(NTE_BAD_KEY));
    if (param != KP_CERTIFICATE)
        return fail(static_cast<DWORD>(NTE_BAD_TYPE));
    Container container;
    if (DWORD code = find_container(key->container, container))
        return fail(code);
    if (DWORD code = injected(load_switches(), "certificate"))
        return fail(code);
    if (container.certificate.empty())
        return fail(static_cast<DWORD>(SCARD_E_NO_SUCH_CERTIFICATE));
    return give_bytes(container.certificate.data(), static_cast<DWORD>(container.certificate.size()), data, length);
}

// What the agent never asks of this provider.

BOOL WINAPI CPGenKey(HCRYPTPROV, ALG_ID, DWORD, HCRYPTKEY*) { return not_implemented(); }
BOOL WINAPI CPDeriveKey(HCRYPTPROV, ALG_ID, HCRYPTHASH, DWORD, HCRYPTKEY*) { return not_implemented(); }
BOOL WINAPI CPSetKeyParam(HCRYPTPROV, HCRYPTKEY, DWORD, const BYTE*, DWORD) { return not_implemented(); }
BOOL WINAPI CPSetHashParam(HCRYPTPROV, HCRYPTHASH, DWORD, const BYTE*, DWORD) { return not_implemented(); }
BOOL WINAPI CPGetHashParam(HCRYPTPROV, HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD) { return not_implemented(); }
BOOL WINAPI CPExportKey(HCRYPTPROV, HCRYPTKEY, HCRYPTKEY, DWORD, DWORD, BYTE*, DWORD*) { return not_implemented(); }
BOOL WINAPI CPImportKey(HCRYPTPROV, const BYTE*, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY*) { return not_implemented(); }
BOOL WINAPI CPEncrypt(HCRYPTPROV, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*, DWORD) { return not_implemented(); }
BOOL WINAPI CPDecrypt(HCRYPTPROV, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE*, DWORD*) { return not_implemented(); }
BOOL WINAPI CPCreateHash(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*) { return not_implemented(); }
BOOL WINAPI CPHashData(HCRYPTPROV, HCRYPTHASH, const BYTE*, DWORD, DWORD) { return not_implemented(); }
BOOL WINAPI CPHashSessionKey(HCRYPTPROV, HCRYPTHASH, HCRYPTKEY, DWORD) { return not_implemented(); }
BOOL WINAPI CPSignHash(HCRYPTPROV, HCRYPTHASH, DWORD, LPCWSTR, DWORD, BYTE*, DWORD*) { return not_implemented(); }
BOOL WINAPI CPDestroyHash(HCRYPTPROV, HCRYPTHASH) { return not_implemented(); }
BOOL WINAPI CPVerifySignature(HCRYPTPROV, HCRYPTHASH, const BYTE*, DWORD, HCRYPTKEY, LPCWSTR, DWORD)
{
    return not_implemented();
}
BOOL WINAPI CPGenRandom(HCRYPTPROV, DWORD, BYTE*) { return not_implemented(); }

}  // extern "C"
