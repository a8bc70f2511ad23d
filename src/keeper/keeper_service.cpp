#include "keeper/keeper_service.h"

#include "platform/data_directory.h"
#include "platform/owned.h"
#include "keeper/day_file_pass.h"
#include "keeper/event_report.h"
#include "platform/package_names.h"

#include <windows.h>

#include <string>

namespace keyhaven {

namespace keeper {

namespace {

// Where Windows keeps the time zone: a change of zone (or of its daylight
// rules) moves local midnight without changing the clock, and no service
// control tells of it.
const wchar_t time_zone_key[] = L"SYSTEM\\CurrentControlSet\\Control\\TimeZoneInformation";

// What the control handler (on the dispatcher's thread) and the service's
// own thread share: the status handle and two events.
struct Service {
    SERVICE_STATUS_HANDLE status = nullptr;
    KernelHandle stop;  // manual reset: stays set
    KernelHandle wake;  // auto reset: the clock, the zone or the power changed
    DWORD checkpoint = 0;
};

Service& service()
{
    static Service state;
    return state;
}

void set_status(DWORD current, DWORD exit_code = NO_ERROR)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = current;
    status.dwControlsAccepted = current == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                                                 SERVICE_ACCEPT_TIMECHANGE | SERVICE_ACCEPT_POWEREVENT
                                                           : 0;
    status.dwWin32ExitCode = exit_code;
    const bool pending = current == SERVICE_START_PENDING || current == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? ++service().checkpoint : 0;
    status.dwWaitHint = pending ? 10000 : 0;
    SetServiceStatus(service().status, &status);
}

DWORD WINAPI handle_control(DWORD control, DWORD event_type, LPVOID, LPVOID)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        set_status(SERVICE_STOP_PENDING);
        SetEvent(service().stop.get());
        return NO_ERROR;
    case SERVICE_CONTROL_TIMECHANGE:
        SetEvent(service().wake.get());
        return NO_ERROR;
    case SERVICE_CONTROL_POWEREVENT:
        if (event_type == PBT_APMRESUMEAUTOMATIC || event_type == PBT_APMRESUMESUSPEND)
            SetEvent(service().wake.get());
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

day_files::Date local_today()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
}

// The next local midnight as an absolute due time (UTC), which an absolute
// waitable timer keeps to when the clock is set; a new zone is a wake-up.
bool arm_for_midnight(HANDLE timer)
{
    const day_files::Date tomorrow = day_files::next_day(local_today());
    SYSTEMTIME midnight = {};
    midnight.wYear = static_cast<WORD>(tomorrow.year);
    midnight.wMonth = static_cast<WORD>(tomorrow.month);
    midnight.wDay = static_cast<WORD>(tomorrow.day);
    SYSTEMTIME universal = {};
    FILETIME due_time = {};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &midnight, &universal) ||
        !SystemTimeToFileTime(&universal, &due_time))
        return false;
    LARGE_INTEGER due;
    due.LowPart = due_time.dwLowDateTime;
    due.HighPart = static_cast<LONG>(due_time.dwHighDateTime);
    return SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) != FALSE;
}

// Asks for one signal of zone_changed at the next change of the zone key;
// false when it cannot (the timer and the service controls still wake).
bool watch_time_zone(HKEY zone, HANDLE zone_changed)
{
    return zone && RegNotifyChangeKeyValue(zone, FALSE, REG_NOTIFY_CHANGE_LAST_SET, zone_changed, TRUE) ==
                       ERROR_SUCCESS;
}

void one_pass()
{
    PassResult settings;
    const unsigned long retention_days = read_retention_days(settings);
    PassResult pass = run_pass(data_directory_path(), local_today(), retention_days);
    for (const Report& found : settings.reports)
        report_event(event_warning, found.finding, found.text);
    for (const Report& found : pass.reports)
        report_event(found.finding == file_left_alone ? event_warning : event_error, found.finding, found.text);
    if (pass.unreported)
        report_event(event_warning, reports_dropped,
                     std::to_string(pass.unreported) + " more findings of this pass are not reported one by one.");
}

// The service's life between RUNNING and STOPPED: the error it ends with.
DWORD serve()
{
    const KernelHandle midnight(CreateWaitableTimerW(nullptr, TRUE, nullptr));
    const KernelHandle zone_changed(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!midnight.held() || !zone_changed.held()) {
        const DWORD error = GetLastError();
        report_event(event_error, service_failed,
                     "The keeper cannot make its timer or events (error " + std::to_string(error) +
                         "): it stops, and agents cannot make the day's files under the package.");
        return error ? error : ERROR_GEN_FAILURE;
    }
    RegistryKey zone;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, time_zone_key, 0, KEY_NOTIFY, zone.put()) != ERROR_SUCCESS ||
        !watch_time_zone(zone.get(), zone_changed.get()))
        report_event(event_warning, service_failed,
                     "The keeper cannot watch for a change of time zone: after one, restart the service.");
    set_status(SERVICE_RUNNING);

    const HANDLE waits[] = {service().stop.get(), midnight.get(), service().wake.get(), zone_changed.get()};
    for (;;) {
        one_pass();
        if (!arm_for_midnight(midnight.get())) {
            const DWORD error = GetLastError();
            report_event(event_error, service_failed,
                         "The keeper cannot set its timer for midnight (error " + std::to_string(error) +
                             "): it stops, and agents cannot make the next day's files under the package.");
            return error ? error : ERROR_GEN_FAILURE;
        }
        const DWORD woken = WaitForMultipleObjects(4, waits, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0)
            return NO_ERROR;
        if (woken == WAIT_OBJECT_0 + 3)
            watch_time_zone(zone.get(), zone_changed.get());
        else if (woken == WAIT_FAILED) {
            const DWORD error = GetLastError();
            report_event(event_error, service_failed,
                         "The keeper cannot wait (error " + std::to_string(error) + "): it stops.");
            return error ? error : ERROR_GEN_FAILURE;
        }
    }
}

void WINAPI service_main(DWORD, LPWSTR*)
{
    service().status = RegisterServiceCtrlHandlerExW(package_names::keeper::service_name, handle_control, nullptr);
    if (!service().status) {
        report_event(event_error, service_failed,
                     "The keeper cannot take service controls (error " + std::to_string(GetLastError()) + ").");
        return;
    }
    set_status(SERVICE_START_PENDING);
    set_status(SERVICE_STOPPED, serve());
}

}  // namespace

int run_service()
{
    service().stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    service().wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!service().stop.held() || !service().wake.held())
        return static_cast<int>(GetLastError() ? GetLastError() : ERROR_GEN_FAILURE);
    SERVICE_TABLE_ENTRYW services[] = {{const_cast<LPWSTR>(package_names::keeper::service_name), service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(services)) {
        const DWORD error = GetLastError();
        report_event(event_error, service_failed,
                     "keyhaven-keeper.exe runs only as a service, started by the service manager (error " +
                         std::to_string(error) + ").");
        return static_cast<int>(error ? error : ERROR_GEN_FAILURE);
    }
    return 0;
}

}  // namespace keeper

}  // namespace keyhaven
