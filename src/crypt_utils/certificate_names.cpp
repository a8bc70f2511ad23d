#include "crypt_utils/certificate_names.h"

#include "crypt_utils/removed_index.h"
#include "platform/wide_text.h"

#include <vector>

namespace keyhaven {

namespace crypt_utils {

namespace {

// Far above any real key link; keeps a damaged property from costing much.
const DWORD max_key_link_size = 64 * 1024;

}  // namespace

std::string common_name_utf8(PCCERT_CONTEXT certificate, bool issuer)
{
    const DWORD flags = issuer ? CERT_NAME_ISSUER_FLAG : 0;
    void* oid = const_cast<char*>(szOID_COMMON_NAME);
    const DWORD size = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, oid, nullptr, 0);
    if (size <= 1)
        return std::string();
    std::vector<wchar_t> name(size, L'\0');
    if (CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, oid, name.data(), size) <= 1)
        return std::string();
    return utf8_from_wide(name.data());
}

std::string serial_text(PCCERT_CONTEXT certificate)
{
    const CRYPT_INTEGER_BLOB& serial = certificate->pCertInfo->SerialNumber;
    return hex_digits(serial.pbData, serial.cbData, true);
}

std::string thumbprint_text(PCCERT_CONTEXT certificate)
{
    BYTE hash[20] = {};
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size) || size != sizeof hash)
        return std::string();
    return hex_digits(hash, size, false);
}

bool read_key_link(PCCERT_CONTEXT certificate, CertificateKeyLink& link)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) ||
        size < sizeof(CRYPT_KEY_PROV_INFO) || size > max_key_link_size)
        return false;
    std::vector<unsigned long long> buffer(size / sizeof(unsigned long long) + 1, 0);  // aligned for its pointers
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        return false;
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    link.container = utf8_from_wide(info->pwszContainerName);
    link.provider_type = info->dwProvType;
    return true;
}

}  // namespace crypt_utils

}  // namespace keyhaven
