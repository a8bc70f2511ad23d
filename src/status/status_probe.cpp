#include "status/status_probe.h"

#include "core/cleaning_hold.h"
#include "crypt_utils/certificate_names.h"
#include "crypt_utils/expiry_check.h"
#include "crypt_utils/store_cleaning.h"
#include "crypt_utils/crypt_handles.h"
#include "crypt_utils/personal_store.h"
#include "crypt_utils/provider_constants.h"
#include "platform/data_directory.h"
#include "platform/file_security.h"
#include "platform/text.h"
#include "diag/log_line.h"
#include "platform/owned.h"
#include "diag/versions.h"
#include "platform/wide_text.h"
#include "settings/settings.h"
#include "status/provider_probe.h"
#include "status/removed_probe.h"
#include "platform/package_names.h"

#include <windows.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <algorithm>
#include <ctime>
#include <vector>

namespace keyhaven {

namespace status {

namespace {

const char run_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const DWORD read_chunk = 64 * 1024;
// Far more than a day's lines of a healthy agent; a log grown past it (a
// user appending, an agent failing on every turn) is judged by its end.
const unsigned long long log_tail_bytes = log_tail_mib * 1024 * 1024;

// The agent's texts (names, paths, log lines) are in the ANSI code page.
std::string utf8_from_ansi(const std::string& text)
{
    return text.empty() ? text : utf8_from_wide(wide_from_ansi(text).c_str());
}

UtcTime utc_time(const SYSTEMTIME& time)
{
    return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

// --- agent ----------------------------------------------------------------------

// The program the package's Run value starts at every logon.
std::string installed_agent_path()
{
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, run_key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return std::string();
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.get(), package_names::run_value, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
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

// Volume and file index: one file however its path is spelt (case, short
// names, a second route to the same folder).
bool same_file(const std::string& first, const std::string& second)
{
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    FileHandle one(CreateFileA(first.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, 0, nullptr));
    FileHandle two(CreateFileA(second.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!one.held() || !two.held() || !GetFileInformationByHandle(one.get(), &a) ||
        !GetFileInformationByHandle(two.get(), &b))
        return lstrcmpiA(first.c_str(), second.c_str()) == 0;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// The image of a keyhaven.exe process of this session: the installed
// program's when installed is given, else any of that name. A mutex or a
// process name any user can take proves nothing; an image path a process
// cannot choose does. Empty when none runs.
std::string running_agent_path(const std::string& installed)
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
        if (lstrcmpiA(entry.szExeFile, package_names::agent_program) != 0 ||
            !ProcessIdToSessionId(entry.th32ProcessID, &session) || session != own_session)
            continue;
        KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        char path[MAX_PATH + 1] = {};
        DWORD size = MAX_PATH;
        if (!process.held() || !QueryFullProcessImageNameA(process.get(), 0, path, &size))
            continue;
        const std::string image(path, size);
        if (installed.empty() || same_file(image, installed))
            return image;
    }
    return std::string();
}

AgentReport probe_agent()
{
    AgentReport agent;
    const std::string installed = installed_agent_path();
    const std::string running = running_agent_path(installed);
    agent.running = !running.empty();
    const std::string path = installed.empty() ? running : installed;
    agent.source = installed.empty() ? (running.empty() ? "" : "running") : "installed";
    std::string version;
    if (!path.empty() && get_file_version(path, version))
        agent.version = printable(version);
    agent.path = printable(utf8_from_ansi(path));
    return agent;
}

// --- settings and log -------------------------------------------------------------

SettingsReport probe_settings(const std::string& folder)
{
    SettingsReport report;
    const std::string path =
        (folder.empty() ? std::string(package_names::data_folder) + "\\" : folder) + package_names::settings_file;
    report.file = utf8_from_ansi(path);
    if (folder.empty())
        return report;  // no folder, no file
    Settings values = report.values;
    std::string reason;
    report.code = load_settings_file(path, values, reason);
    report.taken = settings_taken(report.code);
    report.reason = printable(utf8_from_ansi(reason));
    if (report.taken)
        report.values = values;
    // As an agent starting now would: one that took an earlier file keeps
    // those values instead.
    CleaningHold fresh;
    report.holds_cleaning = follow_settings_read(fresh, report.code) == HoldChange::started;
    return report;
}

// Counts the ERROR lines of the file's last log_tail_bytes, reading in pieces
// and sharing the file with the agents that append to it. The handle is the
// file's own: a link is opened itself, never followed, and a file with a
// second name is not read (any user may link a file of their choosing to
// today's name). False with the reason when the file is not read.
bool scan_errors(const std::string& path, LogReport& report)
{
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.held()) {
        report.reason = with_error("this user may not read it", GetLastError());
        return false;
    }
    const FileShape shape = shape_of(file.get());
    if (!shape.read) {
        report.reason = with_error("its kind cannot be read", GetLastError());
        return false;
    }
    if (shape.reparse_point) {
        report.reason = "it is a reparse point, not the agent's file";
        return false;
    }
    if (shape.links != 1) {
        report.reason = "it has " + std::to_string(shape.links) + " names, not the agent's file alone";
        return false;
    }
    const unsigned long long size = shape.size;
    ErrorLines errors;
    if (size > log_tail_bytes) {
        LARGE_INTEGER start;
        start.QuadPart = static_cast<LONGLONG>(size - log_tail_bytes);
        if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) {
            report.reason = with_error("it cannot be read", GetLastError());
            return false;
        }
        // The piece of a line the tail starts in is not counted.
        errors.skip_to_next_line();
        report.tail_only = true;
    }
    std::vector<char> chunk(read_chunk);
    unsigned long long left = std::min<unsigned long long>(size, log_tail_bytes);
    while (left > 0) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(std::min<unsigned long long>(left, read_chunk)),
                      &got, nullptr)) {
            report.reason = with_error("it cannot be read", GetLastError());
            return false;
        }
        if (got == 0)
            break;
        errors.feed(chunk.data(), got);
        left -= got;
    }
    errors.finish();
    report.errors = errors.count();
    report.last_error = printable(utf8_from_ansi(errors.last()));
    return true;
}

LogReport probe_log(const std::string& folder)
{
    LogReport report;
    if (folder.empty())
        return report;
    const std::string path = folder + log_line::file_name(log_line::local_time(std::time(nullptr)), false);
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
    report.subject_cn = printable(crypt_utils::common_name_utf8(certificate, false));
    report.issuer_cn = printable(crypt_utils::common_name_utf8(certificate, true));
    report.serial = crypt_utils::serial_text(certificate);
    report.thumbprint = crypt_utils::thumbprint_text(certificate);
    report.container = printable(container);
    SYSTEMTIME not_after = {};
    if (FileTimeToSystemTime(&info.NotAfter, &not_after)) {
        report.not_after = iso_utc(utc_time(not_after));
        report.expired = crypt_utils::ticks(now_ticks) >= crypt_utils::ticks(info.NotAfter);
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
    for (crypt_utils::StoreWalk walk(store.get()); walk.held(); walk.next()) {
        crypt_utils::CertificateKeyLink link;
        const bool linked = crypt_utils::read_key_link(walk.get(), link);
        if (all || (linked && link.provider_type == crypt_utils::provider_type))
            found.push_back(describe(walk.get(), linked ? link.container : std::string(), now_ticks, utc_time(now)));
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
    report.keeper = probe_keeper(folder);
    report.certificates = probe_certificates(options.all);
    report.removed = probe_removed(options.removed_days);
    return report;
}

}  // namespace status

}  // namespace keyhaven
