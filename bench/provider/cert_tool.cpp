// bench_cert show FILE.der: what crypt32 reads from a DER certificate, one
// "field value" line each (names in UTF-8), so the bench can prove that the
// certificates it makes are ones Windows accepts. Exit code 1 when crypt32
// refuses the bytes (the line "error 0x........" then says why).

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

// The common name of the subject (or issuer), empty when there is none.
std::string common_name(PCCERT_CONTEXT certificate, DWORD which)
{
    wchar_t name[512] = {};
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, which, const_cast<char*>(szOID_COMMON_NAME), name, 512);
    return utf8(name);
}

std::string date(const FILETIME& when)
{
    SYSTEMTIME t = {};
    FileTimeToSystemTime(&when, &t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

// Serial numbers are stored least significant byte first.
std::string serial(const CRYPT_INTEGER_BLOB& blob)
{
    std::string hex;
    char pair[3];
    for (DWORD i = blob.cbData; i > 0; --i) {
        std::snprintf(pair, sizeof pair, "%02X", blob.pbData[i - 1]);
        hex += pair;
    }
    return hex;
}

int show(const char* file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::printf("error cannot read %s\n", file);
        return 2;
    }
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, bytes.data(),
                                                              static_cast<DWORD>(bytes.size()));
    if (!certificate) {
        std::printf("error 0x%08lX\n", GetLastError());
        return 1;
    }
    const CERT_INFO* info = certificate->pCertInfo;
    std::printf("version %lu\n", info->dwVersion + 1);
    std::printf("serial %s\n", serial(info->SerialNumber).c_str());
    std::printf("subject_cn %s\n", common_name(certificate, 0).c_str());
    std::printf("issuer_cn %s\n", common_name(certificate, CERT_NAME_ISSUER_FLAG).c_str());
    std::printf("not_before %s\n", date(info->NotBefore).c_str());
    std::printf("not_after %s\n", date(info->NotAfter).c_str());
    CertFreeCertificateContext(certificate);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || std::string(argv[1]) != "show") {
        std::printf("usage: bench_cert show FILE.der\n");
        return 2;
    }
    return show(argv[2]);
}
