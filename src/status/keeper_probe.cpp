#include "status/keeper_probe.h"

#include "platform/owned.h"
#include "keeper/day_files.h"
#include "platform/package_names.h"

#include <windows.h>

namespace keyhaven {

namespace status {

namespace {

void close_service_handle(SC_HANDLE handle)
{
    CloseServiceHandle(handle);
}
using ServiceHandle = Owned<SC_HANDLE, close_service_handle>;

const char* state_name(DWORD state)
{
    switch (state) {
    case SERVICE_RUNNING: return "running";
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "starting";
    case SERVICE_STOP_PENDING: return "stopping";
    case SERVICE_PAUSED: return "paused";
    default: return "unknown";
    }
}

void probe_service(KeeperReport& report)
{
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.held()) {
        report.state = "unknown";  // the service manager would not answer this user
        return;
    }
    const ServiceHandle keeper_service(OpenServiceW(manager.get(), package_names::keeper::service_name, SERVICE_QUERY_STATUS));
    if (!keeper_service.held()) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
            report.state = "unknown";
        return;
    }
    report.installed = true;
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(keeper_service.get(), &status)) {
        report.state = "unknown";
        return;
    }
    report.state = state_name(status.dwCurrentState);
    report.running = status.dwCurrentState == SERVICE_RUNNING;
}

}  // namespace

KeeperReport probe_keeper(const std::string& folder)
{
    KeeperReport report;
    probe_service(report);
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    for (const std::string& name : day_files::day_log_names({now.wYear, now.wMonth, now.wDay}))
        if (folder.empty() || GetFileAttributesA((folder + name).c_str()) == INVALID_FILE_ATTRIBUTES)
            report.missing.push_back(name);
    report.today_files = report.missing.empty();
    return report;
}

}  // namespace status

}  // namespace keyhaven
