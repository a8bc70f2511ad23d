#include "crypt_utils/certificates.h"

#include "crypt_utils/call_trace.h"
#include "crypt_utils/expiry_rules.h"
#include "diag/log.h"

#include <windows.h>

#include <cstring>
#include <string>

// What a warning thread needs: its own copy of the text, freed by the thread
// once the user has closed the box, so any number of warnings may be open.
struct WarningRequest {
    char* text;
    UINT style;
};

namespace {

const UINT days_left_style = MB_ICONWARNING | MB_OK;  // 0x30
const UINT expired_style = MB_ICONERROR | MB_OK;      // 0x10

// The polling cycle never waits for the box: the thread runs on by itself.
void start_warning(const std::string& text, UINT style)
{
    WarningRequest* request = new (std::nothrow) WarningRequest{new (std::nothrow) char[text.size() + 1], style};
    if (!request || !request->text) {
        if (request)
            delete[] request->text;
        delete request;
        return;
    }
    std::memcpy(request->text, text.c_str(), text.size() + 1);
    HANDLE thread = CreateThread(nullptr, 0, show_warning_box, request, 0, nullptr);
    if (!thread) {
        delete[] request->text;
        delete request;
        return;
    }
    CloseHandle(thread);
}

unsigned long long ticks(const FILETIME& time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

expiry::CalendarDate date_of(const SYSTEMTIME& time)
{
    return expiry::CalendarDate{time.wYear, time.wMonth, time.wDay};
}

}  // namespace

DWORD WINAPI show_warning_box(void* parameter)
{
    WarningRequest* request = static_cast<WarningRequest*>(parameter);
    MessageBoxA(nullptr, request->text, expiry::box_caption, request->style);
    delete[] request->text;
    delete request;
    return 0;
}

void warn_days_left(unsigned short days, const std::string& common_name)
{
    const std::string text = expiry::days_left_text(days, common_name);
    log_write(WARNING, "%s", text.c_str());
    start_warning(text, days_left_style);
}

void warn_expired(const std::string& common_name)
{
    const std::string text = expiry::expired_text(common_name);
    log_write(ERROR, "%s", text.c_str());
    start_warning(text, expired_style);
}

namespace crypt_utils {

bool check_cert_expiration(PCCERT_CONTEXT certificate)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME now_filetime;
    CallTrace trace("check_cert_expiration");
    if (!trace.ok(__LINE__, SystemTimeToFileTime(&now, &now_filetime), "SystemTimeToFileTime()"))
        return false;

    const CERT_INFO* info = certificate->pCertInfo;
    if (!expiry::inside_validity_period(ticks(now_filetime), ticks(info->NotBefore), ticks(info->NotAfter))) {
        warn_expired(extract_cert_attribute(certificate));
        return true;
    }

    SYSTEMTIME expires;
    FileTimeToSystemTime(&info->NotAfter, &expires);
    unsigned short days = 0;
    if (expiry::days_left_warning(date_of(now), date_of(expires), days))
        warn_days_left(days, extract_cert_attribute(certificate));
    return false;
}

}  // namespace crypt_utils
