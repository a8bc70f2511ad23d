// The portal's plug-in DLL as the bench places it at C:/nivra/dererarizoduz.dll:
// registering and unregistering only record the call and its time, in
// C:\bench\plugin-record.txt as "register <unix ms>" / "unregister <unix ms>".

#include "common/bench_files.h"

#include <windows.h>

#include <string>

namespace {

void record(const char* what)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    const unsigned long long unix_epoch_ticks = 116444736000000000ULL;
    unsigned long long unix_ms = (ticks.QuadPart - unix_epoch_ticks) / 10000;
    bench::append_line(bench::path("plugin-record.txt"), std::string(what) + " " + std::to_string(unix_ms));
}

}  // namespace

extern "C" HRESULT __stdcall DllRegisterServer()
{
    record("register");
    return S_OK;
}

extern "C" HRESULT __stdcall DllUnregisterServer()
{
    record("unregister");
    return S_OK;
}
