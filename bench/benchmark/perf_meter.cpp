#include "benchmark/perf_meter.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace perf {

namespace {

double ticks_ms(const FILETIME& time)
{
    const unsigned long long ticks = (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(ticks) / 10000.0;
}

std::string slurp(const std::string& path)
{
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, got);
    std::fclose(file);
    return text;
}

std::string base_name(const std::string& path)
{
    const std::string::size_type slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The Unix side of this process and of its wineserver, found through drive
// Z: by program name and WINEPREFIX: their schedstat files give the time
// each spent on a CPU in nanoseconds (GetProcessTimes under Wine counts in
// 10 ms steps, too coarse for one turn).
struct UnixSide {
    std::string self_schedstat;    // this process's main thread, which runs the measured work
    std::string server_schedstat;  // the server has one thread
};

UnixSide discover_unix_side()
{
    UnixSide side;
    const char* prefix = std::getenv("WINEPREFIX");
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (!prefix || !*prefix)
        return side;
    const std::string wanted_environment = std::string("WINEPREFIX=") + prefix + '\0';
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return side;
    do {
        if (entry.cFileName[0] < '0' || entry.cFileName[0] > '9')
            continue;
        const std::string folder = std::string("Z:\\proc\\") + entry.cFileName + "\\";
        const std::string program = base_name(slurp(folder + "cmdline").c_str());
        const bool self = _stricmp(program.c_str(), base_name(module).c_str()) == 0;
        const bool server = program == "wineserver64" || program == "wineserver";
        if ((!self && !server) || slurp(folder + "environ").find(wanted_environment) == std::string::npos)
            continue;
        (self ? side.self_schedstat : side.server_schedstat) = folder + "schedstat";
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return side;
}

const UnixSide& unix_side()
{
    static const UnixSide side = discover_unix_side();
    return side;
}

double schedstat_ms(const std::string& path)
{
    return static_cast<double>(std::strtoull(slurp(path).c_str(), nullptr, 10)) / 1e6;
}

double process_cpu_ms()
{
    if (!unix_side().self_schedstat.empty())
        return schedstat_ms(unix_side().self_schedstat);
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user))
        return 0.0;
    return ticks_ms(kernel) + ticks_ms(user);
}

double server_cpu_ms()
{
    return unix_side().server_schedstat.empty() ? 0.0 : schedstat_ms(unix_side().server_schedstat);
}

double wall_ms()
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

// SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX and its table (class 64).
struct HandleEntry {
    void* object;
    ULONG_PTR process_id;
    ULONG_PTR handle_value;
    ULONG granted_access;
    USHORT creator_back_trace_index;
    USHORT object_type_index;
    ULONG handle_attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};
typedef LONG(NTAPI* QuerySystemInformation)(ULONG, void*, ULONG, ULONG*);
const ULONG system_extended_handle_information = 64;
const LONG status_info_length_mismatch = static_cast<LONG>(0xC0000004L);

long handles_in_system_table()
{
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(system_extended_handle_information, buffer.data(), static_cast<ULONG>(buffer.size()),
                           &needed)) == status_info_length_mismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    const HandleTable* table = reinterpret_cast<const HandleTable*>(buffer.data());
    long mine = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i)
        if (table->entries[i].process_id == GetCurrentProcessId())
            ++mine;
    return mine;
}

}  // namespace

Reading read_meter()
{
    Reading reading;
    reading.server_cpu_ms = server_cpu_ms();
    reading.process_cpu_ms = process_cpu_ms();
    reading.wall_ms = wall_ms();
    return reading;
}

double wall_clock_ms()
{
    return wall_ms();
}

Cost cost_since(const Reading& start, int count)
{
    const Reading now = read_meter();
    const double n = count > 0 ? count : 1;
    return Cost{(now.wall_ms - start.wall_ms) / n,
                (now.process_cpu_ms - start.process_cpu_ms + now.server_cpu_ms - start.server_cpu_ms) / n};
}

std::string meter_description()
{
    const UnixSide& side = unix_side();
    std::string text = side.self_schedstat.empty() ? "process CPU from GetProcessTimes (10 ms steps)"
                                                   : "process CPU from " + side.self_schedstat;
    return text + (side.server_schedstat.empty() ? ", wineserver not found: its CPU is not counted"
                                                 : ", wineserver CPU from " + side.server_schedstat);
}

std::size_t private_bytes()
{
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return total;
}

long handle_count()
{
    // Windows answers directly; Wine answers 0 there but keeps the table.
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0)
        return static_cast<long>(count);
    return handles_in_system_table();
}

long thread_count()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

void sample(const std::string& name, double value)
{
    std::printf("sample\t%s\t%.4f\n", name.c_str(), value);
    std::fflush(stdout);
}

void sample(const std::string& name, const Cost& cost)
{
    sample(name + ".wall_ms", cost.wall_ms);
    sample(name + ".cpu_ms", cost.cpu_ms);
}

void note(const std::string& text)
{
    std::printf("note\t%s\n", text.c_str());
    std::fflush(stdout);
}

}  // namespace perf
