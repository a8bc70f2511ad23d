#include "crypt_utils/enum_containers.h"

#include "carriers/census.h"
#include "crypt_utils/call_trace.h"
#include "crypt_utils/container_rules.h"
#include "crypt_utils/crypt_handles.h"
#include "crypt_utils/provider_constants.h"
#include "diag/log.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

namespace keyhaven {

namespace crypt_utils {

namespace {

std::string text_of(const Buffer& buffer)
{
    const char* text = reinterpret_cast<const char*>(buffer.data());
    return std::string(text, strnlen(text, buffer.size()));
}

// Reads every name with flags 9, then 10. Each call gets the whole zeroed
// buffer, so a long name after a short one still fits. Only
// ERROR_NO_MORE_ITEMS after at least one name ends the walk well: any other
// failure (one without an error code too), or no name at all although the
// size query found some, fails the enumeration so the cycle retries it.
void walk(CallTrace& trace, const ProviderHandle& prov, const Buffer& cont_array, std::vector<std::string>& names)
{
    DWORD flags = crypt_first | fqcn_flag;
    for (;;) {
        cont_array.zero();
        DWORD length = static_cast<DWORD>(cont_array.size());
        const CallTrace::Call step =
            CallTrace::observed(CryptGetProvParam(prov.get(), pp_enumcontainers, cont_array.data(), &length, flags));
        if (!step.succeeded) {
            if (step.code != ERROR_NO_MORE_ITEMS || names.empty())
                trace.fail(step, "CryptGetProvParam(PP_ENUMCONTAINERS)");
            return;
        }
        names.push_back(text_of(cont_array));
        flags = crypt_next | fqcn_flag;
    }
}

void keep_wanted(const Settings& settings, const std::vector<std::string>& names, std::vector<std::string>& containers)
{
    for (const auto& name : names) {
        if (is_registry_container(name))
            continue;
        if (settings.ignore_cards == 1 && is_card_container(name)) {
            log_write(LogLevel::info, "ignoring card container according to service settings { container=%s }",
                      log_name(name).c_str());
            continue;
        }
        log_write(LogLevel::debug, "container found: %s", log_name(name).c_str());
        containers.push_back(name);
    }
}

}  // namespace

int enum_containers(const Settings& settings, std::vector<std::string>& containers)
{
    CallTrace trace("enum_containers", "enum_containers");
    ProviderHandle prov("hProv");
    Buffer cont_array("cont_array");
    containers.clear();
    [&] {
        if (!trace.ok(CryptAcquireContextA(prov.put(), nullptr, nullptr, provider_type, CRYPT_VERIFYCONTEXT),
                      "CryptAcquireContext(default, null, 75, CRYPT_VERIFYCONTEXT)"))
            return;
        DWORD length = 0;
        if (!trace.ok(CryptGetProvParam(prov.get(), pp_enumcontainers, nullptr, &length, crypt_first),
                      "CryptGetProvParam(PP_ENUMCONTAINERS)") ||
            !trace.allocated(cont_array.allocate(length)))
            return;
        std::vector<std::string> names;
        walk(trace, prov, cont_array, names);
        if (!trace.failed())
            keep_wanted(settings, names, containers);
    }();
    trace.clean_up(prov, cont_array);
    return trace.close();
}

bool is_card_container(const std::string& container)
{
    ProviderHandle prov("prov");
    Buffer reader("reader");
    DWORD length = 0;
    if (!CryptAcquireContextA(prov.put(), container.c_str(), nullptr, provider_type, 0))
        return false;
    if (!CryptGetProvParam(prov.get(), pp_smartcard_reader, nullptr, &length, 0) || !reader.allocate(length))
        return false;
    length = static_cast<DWORD>(reader.size());
    if (!CryptGetProvParam(prov.get(), pp_smartcard_reader, reader.data(), &length, 0))
        return false;
    return CarrierCensus::probe_reader(text_of(reader));
}

}  // namespace crypt_utils

}  // namespace keyhaven
