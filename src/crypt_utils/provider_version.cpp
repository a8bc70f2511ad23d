#include "crypt_utils/provider_version.h"

#include "crypt_utils/call_trace.h"
#include "crypt_utils/crypt_handles.h"
#include "crypt_utils/provider_constants.h"
#include "crypt_utils/version_text.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

namespace keyhaven {

namespace crypt_utils {

int get_provider_version(std::string& product, std::string& kernel)
{
    CallTrace trace("get_provider_version", "get_provider_version()");
    ProviderHandle prov("prov");
    Buffer version_buffer("version_buffer");
    [&] {
        if (!trace.ok(CryptAcquireContextA(prov.put(), nullptr, nullptr, provider_type, CRYPT_VERIFYCONTEXT),
                      "CryptAcquireContext(default, CRYPT_VERIFYCONTEXT)"))
            return;
        DWORD word = 0;
        DWORD length = sizeof word;
        DWORD size = 0;
        // The two PP_VERSION_EX reads are named CryptDecodeObject in their texts although the call is
        // CryptGetProvParam: those are the agent's own texts, which administrators' log filters know.
        if (!trace.ok(CryptGetProvParam(prov.get(), pp_version, reinterpret_cast<BYTE*>(&word), &length, 0),
                      "CryptGetProvParam(PP_VERSION)") ||
            !trace.ok(CryptGetProvParam(prov.get(), pp_version_ex, nullptr, &size, 0),
                      "CryptDecodeObject(PP_VERSION_EX, size)") ||
            !trace.allocated(version_buffer.allocate(size)))
            return;
        size = static_cast<DWORD>(version_buffer.size());
        if (!trace.ok(CryptGetProvParam(prov.get(), pp_version_ex, version_buffer.data(), &size, 0),
                      "CryptDecodeObject(PP_VERSION_EX, data)"))
            return;
        const std::size_t read = std::min<std::size_t>(size, version_buffer.size());
        const ProviderVersionEx ex = read_version_ex(version_buffer.data(), read);
        product = product_version_text(word, ex);
        kernel = kernel_version_text(word, ex);
    }();
    trace.clean_up(prov, version_buffer);
    return trace.close();
}

}  // namespace crypt_utils

}  // namespace keyhaven
