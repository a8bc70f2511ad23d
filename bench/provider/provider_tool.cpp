// bench_provider list: what the default provider of type 75 shows right now,
// asked through CryptoAPI as a program on the workstation would. One line
// per container: its fully qualified name, then TAB-separated
// "keys=<specs>", "cert=<bytes>" and "reader=<name>" (names in the ANSI code
// page). When the provider cannot list them: "error 0x........" and exit code 1.

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const DWORD provider_type = 75;
const DWORD qualified_flag = 8;

std::string reader_of(HCRYPTPROV prov)
{
    char reader[512] = {};
    DWORD length = sizeof reader - 1;
    return CryptGetProvParam(prov, PP_SMARTCARD_READER, reinterpret_cast<BYTE*>(reader), &length, 0) ? reader : "-";
}

// "1,2" for the key specs the container holds, with the certificate size of the last.
std::string keys_of(HCRYPTPROV prov, DWORD& certificate_size)
{
    std::string keys;
    for (DWORD key_spec : {AT_KEYEXCHANGE, AT_SIGNATURE}) {
        HCRYPTKEY key = 0;
        if (!CryptGetUserKey(prov, key_spec, &key))
            continue;
        keys += (keys.empty() ? "" : ",") + std::to_string(key_spec);
        DWORD size = 0;
        certificate_size = CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0) ? size : 0;
        CryptDestroyKey(key);
    }
    return keys.empty() ? "-" : keys;
}

void describe(const std::string& name)
{
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, name.c_str(), nullptr, provider_type, CRYPT_SILENT)) {
        std::printf("%s\terror=0x%08lX\n", name.c_str(), GetLastError());
        return;
    }
    DWORD certificate_size = 0;
    const std::string keys = keys_of(prov, certificate_size);
    std::printf("%s\tkeys=%s\tcert=%lu\treader=%s\n", name.c_str(), keys.c_str(), certificate_size,
                reader_of(prov).c_str());
    CryptReleaseContext(prov, 0);
}

int failed(DWORD code)
{
    std::printf("error 0x%08lX\n", code);
    return 1;
}

int list()
{
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, nullptr, nullptr, provider_type, CRYPT_VERIFYCONTEXT))
        return failed(GetLastError());
    DWORD size = 0;
    if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST)) {
        const DWORD code = GetLastError();
        CryptReleaseContext(prov, 0);
        return code == ERROR_NO_MORE_ITEMS ? 0 : failed(code);
    }
    std::vector<std::string> names;
    std::vector<char> buffer(size + 1);
    DWORD flags = CRYPT_FIRST | qualified_flag;
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), '\0');
        DWORD length = size;
        if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer.data()), &length, flags))
            break;
        names.push_back(buffer.data());
        flags = CRYPT_NEXT | qualified_flag;
    }
    CryptReleaseContext(prov, 0);
    for (const auto& name : names)
        describe(name);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || std::string(argv[1]) != "list") {
        std::printf("usage: bench_provider list\n");
        return 2;
    }
    return list();
}
