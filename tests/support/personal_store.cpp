#include "support/personal_store.h"

#include <wincrypt.h>

#include "bench_text.h"

#include <cstdio>
#include <vector>

namespace personal_store {

namespace {

const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

HCERTSTORE open_my()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
}

std::string common_name(PCCERT_CONTEXT certificate, DWORD flags)
{
    char name[2048] = {};
    CertGetNameStringA(certificate, CERT_NAME_ATTR_TYPE, flags, const_cast<char*>(szOID_COMMON_NAME), name, sizeof name);
    return name;
}

Entry entry_of(PCCERT_CONTEXT certificate)
{
    Entry entry;
    entry.serial = bench::serial_hex(certificate->pCertInfo->SerialNumber);
    entry.subject_cn = common_name(certificate, 0);
    entry.issuer_cn = common_name(certificate, CERT_NAME_ISSUER_FLAG);
    DWORD size = 0;
    if (CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        std::vector<BYTE> data(size);
        if (CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, data.data(), &size)) {
            auto info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(data.data());
            entry.key_link = true;
            entry.container = info->pwszContainerName ? info->pwszContainerName : L"";
            entry.provider = info->pwszProvName ? info->pwszProvName : L"";
            entry.provider_type = info->dwProvType;
            entry.key_spec = info->dwKeySpec;
        }
    }
    return entry;
}

}  // namespace

std::vector<Entry> list()
{
    std::vector<Entry> entries;
    HCERTSTORE store = open_my();
    if (!store)
        return entries;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr)
        entries.push_back(entry_of(certificate));
    CertCloseStore(store, 0);
    return entries;
}

std::vector<std::string> serials()
{
    std::vector<std::string> found;
    for (const auto& entry : list())
        found.push_back(entry.serial);
    return found;
}

bool add(const std::string& der)
{
    HCERTSTORE store = open_my();
    if (!store)
        return false;
    BOOL added = CertAddEncodedCertificateToStore(store, encoding, reinterpret_cast<const BYTE*>(der.data()),
                                                  static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                  nullptr);
    CertCloseStore(store, 0);
    return added != FALSE;
}

void clear()
{
    HCERTSTORE store = open_my();
    if (!store)
        return;
    PCCERT_CONTEXT certificate;
    while ((certificate = CertEnumCertificatesInStore(store, nullptr)) != nullptr) {
        if (!CertDeleteCertificateFromStore(certificate))
            break;
    }
    CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store, 0);
}

size_t persisted_count()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\SystemCertificates\\My\\Certificates", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return 0;
    DWORD subkeys = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return subkeys;
}

}  // namespace personal_store
