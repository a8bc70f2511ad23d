#include "status/status_probe.h"

#include "core/cleaning_hold.h"
#include "core/startup.h"
#include "crypt_utils/certificate_names.h"
#include "crypt_utils/store_cleaning.h"
#include "crypt_utils/crypt_handles.h"
#include "crypt_utils/personal_store.h"
#include "crypt_utils/provider_constants.h"
#include "diag/data_directory.h"
#include "diag/log_line.h"
#include "diag/owned.h"
#include "diag/versions.h"
#include "diag/wide_text.h"
#include "settings/settings.h"
#include "status/provider_probe.h"
#include "status/removed_probe.h"

#include <windows.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <ctime>
#include <vector>

namespace status {

namespace {

const char run_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char run_value[] = "Keyhaven";
const char agent_program[] = "keyhaven.exe";
const char settings_file[] = "Keyhaven.ini";
const DWORD read_chunk = 64 * 1024;

inline void close_key(HKEY key)
{
    RegCloseKey(key);
}
using RegistryKey = Owned<HKEY, close_key>;

// The agent's texts (names, paths, log lines) are in the ANSI code page.
std::string utf8_from_ansi(const std::string& text)
{
    if (text.empty())
        return text;
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0)
        return std::string();
    std::vector<wchar_t> wide(static_cast<std::size_t>(size), L'\0');
    if (!MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), size))
        return std::string();
    return utf8_from_wide(wide.data());
}

UtcTime utc_time(const SYSTEMTIME& time)
{
    return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

unsigned long long ticks(const FILETIME& time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// --- agent ----------------------------------------------------------------------

// Only asks whether the mutex is there: never waits on it, never owns it.
bool agent_running()
{
    KernelHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, instance_mutex_name));
    if (mutex.held())
        return true;
    // A mutex this user may not open exists all the same.
    return GetLastError() == ERROR_ACCESS_DENIED;
}

// The program the package's Run value starts at every logon.
std::string installed_agent_path()
{
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return std::string();
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.get(), run_value, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    std::string command(value);
    if (type == REG_EXPAND_SZ) {
        char expanded[MAX_PATH * 2] = {};
        const DWORD length = ExpandEnvironmentStringsA(command.c_str(), expanded, sizeof expanded);
        if (length == 0 || length > sizeof expanded)
            return std::string();
        command = expanded;
    }
    return program_of_command(command);
}

// The image of a keyhaven.exe process of this session, for an agent that
// was started other than by the package.
std::string running_agent_path()
{
    DWORD own_session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &own_session))
        return std::string();
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.held())
        return std::string();
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        DWORD session = 0;
        if (lstrcmpiA(entry.szExeFile, agent_program) != 0 || !ProcessIdToSessionId(entry.th32ProcessID, &session) ||
            session != own_session)
            continue;
        KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        char path[MAX_PATH + 1] = {};
        DWORD size = MAX_PATH;
        if (process.held() && QueryFullProcessImageNameA(process.get(), 0, path, &size))
            return std::string(path, size);
    }
    return std::string();
}

AgentReport probe_agent()
{
    AgentReport agent;
    agent.running = agent_running();
    std::string path = installed_agent_path();
    agent.source = "installed";
    if (path.empty()) {
        path = agent.running ? running_agent_path() : std::string();
        agent.source = path.empty() ? "" : "running";
    }
    std::string version;
    if (!path.empty() && get_file_version(path, version))
        agent.version = version;
    agent.path = utf8_from_ansi(path);
    return agent;
}

// --- settings and log -------------------------------------------------------------

SettingsReport probe_settings(const std::string& folder)
{
    SettingsReport report;
    const std::string path = (folder.empty() ? std::string("c:\\nivra\\") : folder) + settings_file;
    report.file = utf8_from_ansi(path);
    if (folder.empty())
        return report;  // no folder, no file
    Settings values = report.values;
    std::string reason;
    report.code = load_settings_file(path, values, reason);
    report.taken = settings_taken(report.code);
    report.reason = utf8_from_ansi(reason);
    if (report.taken)
        report.values = values;
    // As an agent starting now would: one that took an earlier file keeps
    // those values instead.
    CleaningHold fresh;
    report.holds_cleaning = follow_settings_read(fresh, report.code) == HoldChange::started;
    return report;
}

std::tm local_now()
{
    std::time_t now = std::time(nullptr);
    std::tm when = {};
    localtime_s(&when, &now);
    return when;
}

// Counts the ERROR lines, reading in pieces and sharing the file with the
// agents that append to it. False when this user may not read it.
bool scan_errors(const std::string& path, LogReport& report)
{
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.held())
        return false;
    ErrorLines errors;
    std::vector<char> chunk(read_chunk);
    DWORD got = 0;
    do {
        if (!ReadFile(file.get(), chunk.data(), read_chunk, &got, nullptr))
            return false;
        errors.feed(chunk.data(), got);
    } while (got > 0);
    errors.finish();
    report.errors = errors.count();
    report.last_error = utf8_from_ansi(errors.last());
    return true;
}

LogReport probe_log(const std::string& folder)
{
    LogReport report;
    if (folder.empty())
        return report;
    const std::string path = folder + log_line::file_name(local_now(), false);
    report.file = utf8_from_ansi(path);
    // Its attributes need no right to read the file itself.
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    SYSTEMTIME written = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !FileTimeToSystemTime(&data.ftLastWriteTime, &written))
        return report;
    report.last_written_at = iso_utc(utc_time(written));
    report.readable = scan_errors(path, report);
    return report;
}

// --- certificates -------------------------------------------------------------------

CertificateReport describe(PCCERT_CONTEXT certificate, const std::string& container, const FILETIME& now_ticks,
                           const UtcTime& now)
{
    const CERT_INFO& info = *certificate->pCertInfo;
    CertificateReport report;
    report.subject_cn = crypt_utils::common_name_utf8(certificate, false);
    report.issuer_cn = crypt_utils::common_name_utf8(certificate, true);
    report.serial = crypt_utils::serial_text(certificate);
    report.thumbprint = crypt_utils::thumbprint_text(certificate);
    report.container = container;
    SYSTEMTIME not_after = {};
    if (FileTimeToSystemTime(&info.NotAfter, &not_after)) {
        report.not_after = iso_utc(utc_time(not_after));
        report.expired = ticks(now_ticks) >= ticks(info.NotAfter);
        report.days_left = days_left(now, utc_time(not_after), report.expired);
    }
    return report;
}

std::vector<CertificateReport> probe_certificates(bool all)
{
    std::vector<CertificateReport> found;
    SYSTEMTIME now = {};
    FILETIME now_ticks = {};
    GetSystemTime(&now);
    if (!SystemTimeToFileTime(&now, &now_ticks))
        return found;
    // Read-only and only if it is there: the store is not created for us.
    crypt_utils::CertStore store(CertOpenStore(crypt_utils::system_store, 0, 0,
                                               crypt_utils::current_user | CERT_STORE_READONLY_FLAG |
                                                   CERT_STORE_OPEN_EXISTING_FLAG,
                                               L"My"));
    if (!store.held())
        return found;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store.get(), certificate)) != nullptr) {
        crypt_utils::CertificateKeyLink link;
        const bool linked = crypt_utils::read_key_link(certificate, link);
        if (all || (linked && link.provider_type == crypt_utils::provider_type))
            found.push_back(describe(certificate, linked ? link.container : std::string(), now_ticks, utc_time(now)));
    }
    return found;
}

}  // namespace

StatusReport gather_status(const Options& options)
{
    StatusReport report;
    report.warn_days = options.warn_days;
    report.removed_days = options.removed_days;
    report.provider = probe_provider();
    report.agent = probe_agent();
    const std::string folder = existing_data_directory();
    report.settings = probe_settings(folder);
    report.log = probe_log(folder);
    report.certificates = probe_certificates(options.all);
    report.removed = probe_removed(options.removed_days);
    return report;
}

}  // namespace status
