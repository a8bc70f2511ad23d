// Apart from bench_text.cpp so that tools without certificates do not
// import crypt32.
#include "bench_text.h"

#include "bench_files.h"

#include <cstdio>

namespace bench {

std::string common_name(PCCERT_CONTEXT certificate, DWORD which)
{
    wchar_t name[1024] = {};
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, which, const_cast<char*>(szOID_COMMON_NAME), name, 1024);
    return utf8(name);
}

std::string serial_hex(const CRYPT_INTEGER_BLOB& serial)
{
    std::string reversed(serial.cbData, '\0');
    for (DWORD i = 0; i < serial.cbData; ++i)
        reversed[i] = static_cast<char>(serial.pbData[serial.cbData - 1 - i]);
    return to_hex(reversed);
}

std::string iso_date(const FILETIME& when)
{
    SYSTEMTIME t = {};
    FileTimeToSystemTime(&when, &t);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

}  // namespace bench
