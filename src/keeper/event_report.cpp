#include "keeper/event_report.h"

#include "platform/owned.h"
#include "platform/package_names.h"

#include <windows.h>

#include <vector>

namespace keeper {

namespace {

void deregister_source(HANDLE source)
{
    DeregisterEventSource(source);
}

// The keeper's texts are paths, SIDs and English: the ANSI code page's.
std::wstring wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::vector<wchar_t> converted(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), converted.data(), length);
    return std::wstring(converted.begin(), converted.end());
}

}  // namespace

bool report_event(EventKind kind, unsigned long id, const std::string& text)
{
    const Owned<HANDLE, deregister_source> source(RegisterEventSourceW(nullptr, package_names::keeper::event_source));
    if (!source.held())
        return false;
    const std::wstring insertion = wide(text);
    const wchar_t* strings[] = {insertion.c_str()};
    return ReportEventW(source.get(), kind == event_error ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE, 0, id,
                        nullptr, 1, 0, strings, nullptr) != FALSE;
}

}  // namespace keeper
