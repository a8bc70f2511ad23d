// bench_cert show FILE.der: what crypt32 reads from a DER certificate, one
// "field value" line each (names in UTF-8), so the bench can prove that the
// certificates it makes are ones Windows accepts. Exit code 1 when crypt32
// refuses the bytes (the line "error 0x........" then says why).

#include <windows.h>
#include <wincrypt.h>

#include "bench_text.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

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
    std::printf("serial %s\n", bench::serial_hex(info->SerialNumber).c_str());
    std::printf("subject_cn %s\n", bench::common_name(certificate, 0).c_str());
    std::printf("issuer_cn %s\n", bench::common_name(certificate, CERT_NAME_ISSUER_FLAG).c_str());
    std::printf("not_before %s\n", bench::iso_date(info->NotBefore).c_str());
    std::printf("not_after %s\n", bench::iso_date(info->NotAfter).c_str());
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
