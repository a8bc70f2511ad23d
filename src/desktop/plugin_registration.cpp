#include "desktop/desktop_chores.h"

#include "core/timing.h"
#include "diag/log.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

const char registration_tool[] = "C:/Windows/System32/regsvr32.exe";
const char plugin_folder[] = "C:/nivra/";
const DWORD pause_between_launches_ms = 4000;

// Starts regsvr32 without waiting for it: a result above 32 says only that
// the tool was started, not what it then did.
bool launch_registration_tool(const std::string& parameters)
{
    HINSTANCE result = ShellExecuteA(nullptr, "open", registration_tool, parameters.c_str(), nullptr, SW_HIDE);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result)) > 32;
}

}  // namespace

void reregister_plugin_dll()
{
    const std::string dll = "dererarizoduz.dll";
    if (!launch_registration_tool("/u /s " + std::string(plugin_folder) + dll)) {
        log_write(ERROR, "error unregister plugin dll");
        return;
    }
    log_write(INFO, "plugin dll unregistered successful");

    // The only ordering between the two tool processes.
    Sleep(timing_ms(pause_between_launches_ms));

    if (launch_registration_tool("/s " + std::string(plugin_folder) + dll))
        log_write(INFO, "plugin dll registered successful");
    else
        log_write(ERROR, "error register plugin dll");
}
