#include "keeper/event_report.h"

#include "platform/owned.h"
#include "platform/package_names.h"
#include "platform/wide_text.h"

#include <windows.h>

namespace keyhaven {

namespace keeper {

namespace {

void deregister_source(HANDLE source)
{
    DeregisterEventSource(source);
}

}  // namespace

bool report_event(EventKind kind, unsigned long id, const std::string& text)
{
    const Owned<HANDLE, deregister_source> source(RegisterEventSourceW(nullptr, package_names::keeper::event_source));
    if (!source.held())
        return false;
    // The keeper's texts are paths, SIDs and English: the ANSI code page's.
    const std::wstring insertion = wide_from_ansi(text);
    const wchar_t* strings[] = {insertion.c_str()};
    return ReportEventW(source.get(), kind == event_error ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE, 0, id,
                        nullptr, 1, 0, strings, nullptr) != FALSE;
}

}  // namespace keeper

}  // namespace keyhaven
