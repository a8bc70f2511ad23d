#include "crypt_utils/expiry_check.h"
#include "crypt_utils/store_cleaning.h"

#include "crypt_utils/call_trace.h"
#include "crypt_utils/expiry_rules.h"
#include "diag/log.h"
#include "platform/owned.h"

#include <windows.h>

#include <string>

namespace keyhaven {

namespace {

// What a warning thread needs: its own copy of the text, so that any number
// of warnings may be open while further ones are formatted.
struct WarningRequest {
    std::string text;
    UINT style;
};

void free_request(WarningRequest* request)
{
    delete request;
}

using OwnedRequest = Owned<WarningRequest*, free_request>;

const UINT days_left_style = MB_ICONWARNING | MB_OK;  // 0x30
const UINT expired_style = MB_ICONERROR | MB_OK;      // 0x10

// The thread's routine: shows the box, then frees its request (returns 0).
DWORD WINAPI show_warning_box(void* parameter)
{
    const OwnedRequest request(static_cast<WarningRequest*>(parameter));
    MessageBoxA(nullptr, request.get()->text.c_str(), expiry::box_caption, request.get()->style);
    return 0;
}

// The polling cycle never waits for the box: the thread runs on by itself,
// and its handle is not kept.
void start_warning(const std::string& text, UINT style)
{
    OwnedRequest request(new WarningRequest{text, style});
    WarningRequest* handed_over = request.detach();  // the thread's, once it runs
    const KernelHandle thread(CreateThread(nullptr, 0, show_warning_box, handed_over, 0, nullptr));
    if (!thread.held())
        request.reset(handed_over);  // no thread: still ours to free
}

// Formats, logs and shows the two warnings.
void warn_days_left(unsigned short days, const std::string& common_name)
{
    const std::string text = expiry::days_left_text(days, common_name);
    log_write(LogLevel::warning, "%s", expiry::days_left_text(days, log_name(common_name)).c_str());
    start_warning(text, days_left_style);
}

void warn_expired(const std::string& common_name)
{
    const std::string text = expiry::expired_text(common_name);
    log_write(LogLevel::error, "%s", expiry::expired_text(log_name(common_name)).c_str());
    start_warning(text, expired_style);
}

expiry::CalendarDate date_of(const SYSTEMTIME& time)
{
    return expiry::CalendarDate{time.wYear, time.wMonth, time.wDay};
}

}  // namespace

namespace crypt_utils {

bool check_cert_expiration(PCCERT_CONTEXT certificate)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME now_filetime;
    CallTrace trace("check_cert_expiration");
    if (!trace.ok(SystemTimeToFileTime(&now, &now_filetime), "SystemTimeToFileTime()"))
        return false;

    const CERT_INFO* info = certificate->pCertInfo;
    if (!expiry::inside_validity_period(ticks(now_filetime), ticks(info->NotBefore), ticks(info->NotAfter))) {
        warn_expired(extract_cert_attribute(certificate));
        return true;
    }

    SYSTEMTIME expires;
    if (!trace.ok(FileTimeToSystemTime(&info->NotAfter, &expires), "FileTimeToSystemTime()"))
        return false;
    unsigned short days = 0;
    if (expiry::days_left_warning(date_of(now), date_of(expires), days))
        warn_days_left(days, extract_cert_attribute(certificate));
    return false;
}

}  // namespace crypt_utils

}  // namespace keyhaven
