#include "benchmark/perf_store.h"

#include <windows.h>
#include <wincrypt.h>

namespace perf_store {

namespace {

const char certificates_key[] = "Software\\Microsoft\\SystemCertificates\\My\\Certificates";
const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

HCERTSTORE open_my()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
}

std::vector<std::string> subkeys(HKEY key)
{
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

PCCERT_CONTEXT find(HCERTSTORE store, const std::string& thumbprint_bytes)
{
    CRYPT_HASH_BLOB hash;
    hash.cbData = static_cast<DWORD>(thumbprint_bytes.size());
    hash.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(thumbprint_bytes.data()));
    return CertFindCertificateInStore(store, encoding, 0, CERT_FIND_SHA1_HASH, &hash, nullptr);
}

}  // namespace

Snapshot Snapshot::take()
{
    Snapshot snapshot;
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, certificates_key, 0, KEY_READ, &root) != ERROR_SUCCESS)
        return snapshot;
    for (const std::string& name : subkeys(root)) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        auto& values = snapshot.keys_[name];
        for (DWORD i = 0;; ++i) {
            char value_name[256];
            DWORD name_length = sizeof value_name, type = 0, size = 0;
            if (RegEnumValueA(key, i, value_name, &name_length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
                break;
            std::string data(size, '\0');
            name_length = sizeof value_name;
            if (RegEnumValueA(key, i, value_name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                              &size) == ERROR_SUCCESS)
                values[std::string(value_name, name_length)] = Value{type, data.substr(0, size)};
        }
        RegCloseKey(key);
    }
    RegCloseKey(root);
    return snapshot;
}

bool Snapshot::put_back() const
{
    HKEY root = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, certificates_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (const std::string& name : subkeys(root))
        if (!keys_.count(name))
            ok = RegDeleteTreeA(root, name.c_str()) == ERROR_SUCCESS && ok;
    for (const auto& key_values : keys_) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(root, key_values.first.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS) {
            ok = false;
            continue;
        }
        for (const auto& value : key_values.second)
            ok = RegSetValueExA(key, value.first.c_str(), 0, value.second.type,
                                reinterpret_cast<const BYTE*>(value.second.data.data()),
                                static_cast<DWORD>(value.second.data.size())) == ERROR_SUCCESS && ok;
        RegCloseKey(key);
    }
    RegCloseKey(root);
    return ok;
}

int add(const std::vector<std::string>& certificates)
{
    HCERTSTORE store = open_my();
    if (!store)
        return 0;
    int added = 0;
    for (const std::string& der : certificates)
        if (CertAddEncodedCertificateToStore(store, encoding, reinterpret_cast<const BYTE*>(der.data()),
                                             static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr))
            ++added;
    CertCloseStore(store, 0);
    return added;
}

int count()
{
    HCERTSTORE store = open_my();
    if (!store)
        return -1;
    int n = 0;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c)) != nullptr;)
        ++n;
    CertCloseStore(store, 0);
    return n;
}

std::string thumbprint(const std::string& der)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CryptHashCertificate(0, CALG_SHA1, 0, reinterpret_cast<const BYTE*>(der.data()),
                              static_cast<DWORD>(der.size()), hash, &size))
        return std::string();
    return std::string(reinterpret_cast<const char*>(hash), size);
}

bool holds(const std::string& thumbprint_bytes)
{
    HCERTSTORE store = open_my();
    if (!store)
        return false;
    PCCERT_CONTEXT found = find(store, thumbprint_bytes);
    if (found)
        CertFreeCertificateContext(found);
    CertCloseStore(store, 0);
    return found != nullptr;
}

bool remove(const std::string& thumbprint_bytes)
{
    HCERTSTORE store = open_my();
    if (!store)
        return false;
    PCCERT_CONTEXT found = find(store, thumbprint_bytes);
    const bool removed = found && CertDeleteCertificateFromStore(found);
    // Under Wine a deletion reaches the registry only with a commit.
    CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store, 0);
    return removed;
}

}  // namespace perf_store
