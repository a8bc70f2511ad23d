// bench_store: the current user's personal store "My" as the bench sees it.
//
//   bench_store list [--system]   one line per certificate (below)
//   bench_store count             the number of certificates
//   bench_store add FILE.der      adds a certificate without a key link
//   bench_store remove SERIAL     deletes the certificates with this serial
//   bench_store clear             deletes every certificate
//
// The user's own store is the registry store of HKCU: Wine's system store
// "My" of the current user also shows HKLM's "My", and those certificates
// are not the user's. "list --system" shows that wider view, as programs get
// it from CERT_STORE_PROV_SYSTEM_W.
//
// A list line is TAB-separated: "cert", the serial (hex, most significant
// byte first), the subject's and the issuer's common names, NotAfter
// (YYYY-MM-DDTHH:MM:SSZ), the SHA-1 thumbprint, then the key link as the
// container, the provider, the provider type and the key spec, or a single
// "-" when the certificate has none. Texts are hex of their UTF-8 bytes, so
// any name comes through whole. Exit code 1 when the store cannot be opened
// or a request finds nothing to do ("error ..." says why), 2 for bad usage.

#include <windows.h>
#include <wincrypt.h>

#include "bench_files.h"
#include "bench_text.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string thumbprint(PCCERT_CONTEXT certificate)
{
    BYTE sha1[20] = {};
    DWORD size = sizeof sha1;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, sha1, &size))
        return "-";
    return bench::to_hex(std::string(reinterpret_cast<const char*>(sha1), size));
}

std::string key_link(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        return "-";
    std::vector<BYTE> buffer(size);
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        return "-";
    const CRYPT_KEY_PROV_INFO* link = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    return bench::hex_or_dash(bench::utf8(link->pwszContainerName)) + "\t" +
           bench::hex_or_dash(bench::utf8(link->pwszProvName)) + "\t" +
           std::to_string(link->dwProvType) + "\t" + std::to_string(link->dwKeySpec);
}

int failed(const char* call)
{
    std::printf("error %s 0x%08lX\n", call, GetLastError());
    return 1;
}

// The user's own certificates: HKCU's registry store alone.
HCERTSTORE open_user_store()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
}

// What programs open: the system store, which Wine makes a collection.
HCERTSTORE open_system_store()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
}

// Deletions reach the registry only on a commit under Wine.
void close_store(HCERTSTORE store)
{
    CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store, 0);
}

int list(bool system)
{
    HCERTSTORE store = system ? open_system_store() : open_user_store();
    if (!store)
        return failed("CertOpenStore");
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
        std::printf("cert\t%s\t%s\t%s\t%s\t%s\t%s\n", bench::serial_hex(certificate->pCertInfo->SerialNumber).c_str(),
                    bench::hex_or_dash(bench::common_name(certificate, 0)).c_str(),
                    bench::hex_or_dash(bench::common_name(certificate, CERT_NAME_ISSUER_FLAG)).c_str(),
                    bench::iso_date(certificate->pCertInfo->NotAfter).c_str(), thumbprint(certificate).c_str(),
                    key_link(certificate).c_str());
    }
    CertCloseStore(store, 0);
    return 0;
}

int count()
{
    HCERTSTORE store = open_user_store();
    if (!store)
        return failed("CertOpenStore");
    int found = 0;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr)
        ++found;
    CertCloseStore(store, 0);
    std::printf("%d\n", found);
    return 0;
}

int add(const char* file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::printf("error cannot read %s\n", file);
        return 1;
    }
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    HCERTSTORE store = open_user_store();
    if (!store)
        return failed("CertOpenStore");
    const BOOL added = CertAddEncodedCertificateToStore(store, encoding, bytes.data(), static_cast<DWORD>(bytes.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        SetLastError(error);
        return failed("CertAddEncodedCertificateToStore");
    }
    return 0;
}

// A serial that needs a sign byte is stored with a leading 00, which the
// user does not write: serials are compared without leading zero bytes.
std::string without_leading_zeros(const std::string& serial)
{
    std::size_t start = 0;
    while (start + 2 < serial.size() && serial.compare(start, 2, "00") == 0)
        start += 2;
    return serial.substr(start);
}

// Deletes the certificates whose serial is wanted (all when wanted is
// empty), restarting the walk after each deletion; prints the number.
int remove(const std::string& wanted)
{
    HCERTSTORE store = open_user_store();
    if (!store)
        return failed("CertOpenStore");
    int removed = 0;
    std::vector<std::string> refused;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
        const std::string thumb = thumbprint(certificate);
        if (!wanted.empty() && without_leading_zeros(bench::serial_hex(certificate->pCertInfo->SerialNumber)) != wanted)
            continue;
        bool seen = false;
        for (const auto& t : refused)
            seen = seen || t == thumb;
        if (seen)
            continue;
        if (CertDeleteCertificateFromStore(certificate))
            ++removed;
        else
            refused.push_back(thumb);
        certificate = nullptr;
    }
    close_store(store);
    std::printf("removed %d\n", removed);
    if (!refused.empty()) {
        std::printf("error %d certificate(s) could not be deleted\n", static_cast<int>(refused.size()));
        return 1;
    }
    if (removed == 0 && !wanted.empty()) {
        std::printf("error no certificate with serial %s\n", wanted.c_str());
        return 1;
    }
    return 0;
}

// "0a:1B 2c" -> "0A1B2C"; empty when it is not hex.
std::string normal_serial(const char* text)
{
    std::string digits;
    for (const char* c = text; *c; ++c) {
        if (*c == ':' || *c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(*c)))
            return std::string();
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    }
    if (digits.size() % 2)
        digits.insert(0, "0");
    return digits.empty() ? digits : without_leading_zeros(digits);
}

int usage()
{
    std::printf("usage: bench_store list [--system] | count | add FILE.der | remove SERIAL | clear\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "list" && argc == 2)
        return list(false);
    if (command == "list" && argc == 3 && std::string(argv[2]) == "--system")
        return list(true);
    if (command == "count" && argc == 2)
        return count();
    if (command == "add" && argc == 3)
        return add(argv[2]);
    if (command == "remove" && argc == 3) {
        const std::string serial = normal_serial(argv[2]);
        return serial.empty() ? usage() : remove(serial);
    }
    if (command == "clear" && argc == 2)
        return remove(std::string());
    return usage();
}
