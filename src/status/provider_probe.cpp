#include "status/provider_probe.h"

#include "crypt_utils/provider_constants.h"
#include "platform/owned.h"
#include "platform/text.h"
#include "platform/wide_text.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

namespace keyhaven {

namespace status {

namespace {

const wchar_t registrations[] = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
// A provider's name or path is far shorter; a longer value is not read.
const DWORD longest_value = 4096;

// The default as CryptAcquireContext takes it: the user's, then the machine's.
bool default_provider(ProviderReport& report)
{
    const struct {
        DWORD flag;
        const char* from;
    } places[] = {{CRYPT_USER_DEFAULT, "user"}, {CRYPT_MACHINE_DEFAULT, "machine"}};
    DWORD machine_error = 0;
    for (const auto& place : places) {
        DWORD size = 0;
        if (!CryptGetDefaultProviderW(crypt_utils::provider_type, nullptr, place.flag, nullptr, &size) ||
            size == 0 || size > longest_value) {
            machine_error = GetLastError();
            continue;
        }
        std::vector<wchar_t> name(size / sizeof(wchar_t) + 1, L'\0');
        if (!CryptGetDefaultProviderW(crypt_utils::provider_type, nullptr, place.flag, name.data(), &size)) {
            machine_error = GetLastError();
            continue;
        }
        report.name = utf8_from_wide(name.data());
        report.default_from = place.from;
        return !report.name.empty();
    }
    report.problem = "no default provider of type 75 for the user or the machine (CryptGetDefaultProvider, code: " +
                     hex_code(machine_error) + ")";
    return false;
}

bool query_value(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data)
{
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size > longest_value)
        return false;
    data.assign(size + sizeof(wchar_t), 0);  // a text stored without its NUL still ends
    return RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
}

// "Image Path" expanded; a bare file name is looked for in the system folder.
std::wstring image_file(const std::wstring& stored)
{
    std::vector<wchar_t> expanded(longest_value, L'\0');
    const DWORD length = ExpandEnvironmentStringsW(stored.c_str(), expanded.data(), longest_value);
    if (length == 0 || length > longest_value)
        return std::wstring();
    std::wstring path = expanded.data();
    if (path.find_first_of(L"\\/:") != std::wstring::npos)
        return path;
    wchar_t system[MAX_PATH + 1] = {};
    const UINT size = GetSystemDirectoryW(system, MAX_PATH);
    if (size == 0 || size > MAX_PATH)
        return std::wstring();
    return std::wstring(system) + L"\\" + path;
}

bool registration(const std::wstring& name, ProviderReport& report)
{
    RegistryKey key;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, (registrations + name).c_str(), 0,
                                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put());
    if (opened != ERROR_SUCCESS) {
        report.problem = "provider " + report.name + " is not registered (code: " + hex_code(opened) + ")";
        return false;
    }
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!query_value(key.get(), L"Type", type, data) || type != REG_DWORD ||
        *reinterpret_cast<const DWORD*>(data.data()) != crypt_utils::provider_type) {
        report.problem = "provider " + report.name + " is not registered as type 75";
        return false;
    }
    if (!query_value(key.get(), L"Image Path", type, data) || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        report.problem = "provider " + report.name + " has no image path";
        return false;
    }
    const std::wstring path = image_file(reinterpret_cast<const wchar_t*>(data.data()));
    report.image = utf8_from_wide(path.c_str());
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        report.problem = "the image file of provider " + report.name + " is not there: " + report.image;
        return false;
    }
    return true;
}

}  // namespace

ProviderReport probe_provider()
{
    ProviderReport report;
    report.installed = default_provider(report) && registration(wide_from_utf8(report.name), report);
    return report;
}

}  // namespace status

}  // namespace keyhaven
