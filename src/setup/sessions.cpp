// Ending the agents before their file changes, and starting them again in
// the users' sessions afterwards, as the Run value starts them at logon.

#include "platform/owned.h"
#include "platform/package_names.h"
#include "platform/wide_text.h"
#include "setup/custom_actions.h"

#include <windows.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <string>
#include <vector>

namespace keyhaven {

namespace {

// The programs of the package that may be running when it changes their
// files. keyhaven-status.exe is a short-lived reader: ending it loses
// nothing, and a file in use would make the install ask for a reboot.
const char* const packaged_programs[] = {package_names::agent_program, package_names::status_program};
const DWORD end_wait_ms = 10000;

void free_wts_memory(PWTS_SESSION_INFOA memory)
{
    WTSFreeMemory(memory);
}
void free_wts_text(LPSTR memory)
{
    WTSFreeMemory(memory);
}
void destroy_environment(LPVOID block)
{
    DestroyEnvironmentBlock(block);
}
using SessionList = Owned<PWTS_SESSION_INFOA, free_wts_memory>;
using WtsText = Owned<LPSTR, free_wts_text>;
using EnvironmentBlock = Owned<LPVOID, destroy_environment>;

bool is_packaged_program(const char* name)
{
    for (const char* program : packaged_programs)
        if (lstrcmpiA(name, program) == 0)
            return true;
    return false;
}

std::string number(DWORD value)
{
    return std::to_string(value);
}

// The image a process runs, as the system loaded it: its full path, which
// another user cannot choose the way they choose a file name.
bool image_path(HANDLE process, std::wstring& path)
{
    wchar_t buffer[MAX_PATH * 4];
    DWORD size = sizeof buffer / sizeof buffer[0];
    if (!QueryFullProcessImageNameW(process, 0, buffer, &size) || size == 0)
        return false;
    path.assign(buffer, size);
    return true;
}

bool same_path(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// Only the installed programs: another program of the same name (a copy in
// a user's folder, a program that happens to share it) is none of ours.
void end_process(MSIHANDLE install, const PROCESSENTRY32& entry, const std::wstring& installed_folder)
{
    std::string which = std::string(entry.szExeFile) + " (process " + number(entry.th32ProcessID) + ")";
    KernelHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process.held()) {
        const DWORD error = GetLastError();
        install_log(install, which + " cannot be opened (error " + number(error) + "), not ended");
        return;
    }
    std::wstring image;
    if (!image_path(process.get(), image)) {
        install_log(install, which + ": its image cannot be read (error " + number(GetLastError()) + "), not ended");
        return;
    }
    std::wstring name(entry.szExeFile, entry.szExeFile + lstrlenA(entry.szExeFile));
    if (installed_folder.empty() || !same_path(image, installed_folder + name)) {
        install_log(install, which + " runs from another folder, not ended");
        return;
    }
    if (!TerminateProcess(process.get(), 1)) {
        const DWORD error = GetLastError();
        install_log(install, which + " cannot be ended (error " + number(error) + ")");
        return;
    }
    if (WaitForSingleObject(process.get(), end_wait_ms) != WAIT_OBJECT_0) {
        install_log(install, which + " did not end within " + number(end_wait_ms / 1000) + " s");
        return;
    }
    install_log(install, which + " ended");
}

// Not LocalSystem: the agent is never started with the installer's own rights.
bool token_of_a_user(HANDLE token)
{
    union {
        TOKEN_USER user;
        BYTE space[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } data;
    DWORD size = 0;
    return GetTokenInformation(token, TokenUser, &data, sizeof data, &size) &&
           !IsWellKnownSid(data.user.User.Sid, WinLocalSystemSid);
}

void start_in_session(MSIHANDLE install, DWORD session, const std::string& program)
{
    std::string where = "session " + number(session);
    KernelHandle token;
    if (!WTSQueryUserToken(session, token.put())) {
        const DWORD error = GetLastError();
        install_log(install, "no user token for " + where + " (error " + number(error) +
                              "): agent not started there, it starts at the user's next logon");
        return;
    }
    if (!token_of_a_user(token.get())) {
        install_log(install, "the token for " + where + " is not a user's: agent not started there");
        return;
    }
    EnvironmentBlock environment;
    if (!CreateEnvironmentBlock(environment.put(), token.get(), FALSE)) {
        const DWORD error = GetLastError();
        install_log(install, "no environment for the user of " + where + " (error " + number(error) +
                              "): agent not started there");
        return;
    }
    std::string command = "\"" + program + "\"";
    std::vector<char> command_line(command.begin(), command.end());
    command_line.push_back('\0');
    char desktop[] = "winsta0\\default";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION started{};
    if (!CreateProcessAsUserA(token.get(), program.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                              CREATE_UNICODE_ENVIRONMENT, environment.get(), nullptr, &startup, &started)) {
        const DWORD error = GetLastError();
        install_log(install, "agent not started in " + where + " (error " + number(error) + ")");
        return;
    }
    KernelHandle process(started.hProcess), thread(started.hThread);
    install_log(install, "agent started in " + where + " (process " + number(started.dwProcessId) + ")");
}

// The sessions with a logged-on user; false when the system lists none at
// all (Wine's stub does so), which no Windows does: session 0 is always there.
bool user_sessions(MSIHANDLE install, std::vector<DWORD>& sessions)
{
    SessionList list;
    DWORD count = 0;
    if (!WTSEnumerateSessionsA(WTS_CURRENT_SERVER_HANDLE, 0, 1, list.put(), &count)) {
        const DWORD error = GetLastError();
        install_log(install, "sessions cannot be listed (error " + number(error) + ")");
        return false;
    }
    for (DWORD i = 0; i < count; ++i) {
        WtsText user;
        DWORD size = 0;
        if (WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, list.get()[i].SessionId, WTSUserName, user.put(),
                                        &size) &&
            user.get()[0] != '\0')
            sessions.push_back(list.get()[i].SessionId);
    }
    return count > 0;
}

}  // namespace

extern "C" UINT __stdcall StopAgents(MSIHANDLE install)
{
    // The installed programs' folder, with its trailing backslash, in the
    // characters the process's image path is read in.
    const std::string given = custom_action_data(install);
    std::wstring folder = wide_from_ansi(given);
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.held()) {
        const DWORD error = GetLastError();
        install_log(install, "running agents cannot be listed (error " + number(error) + ")");
        return ERROR_SUCCESS;
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry))
        if (is_packaged_program(entry.szExeFile))
            end_process(install, entry, folder);
    return ERROR_SUCCESS;
}

// A failure here is logged and never fails the install: the Run value
// starts the agent at the next logon in any case.
extern "C" UINT __stdcall StartAgents(MSIHANDLE install)
{
    std::string program = custom_action_data(install);
    if (program.empty()) {
        install_log(install, "no program to start");
        return ERROR_SUCCESS;
    }
    std::vector<DWORD> sessions;
    if (!user_sessions(install, sessions)) {
        // Only the session this install runs in can be known then.
        DWORD own = 0;
        if (!ProcessIdToSessionId(GetCurrentProcessId(), &own)) {
            const DWORD error = GetLastError();
            install_log(install, "no session listed and the own one unknown (error " + number(error) +
                                  "): agent not started");
            return ERROR_SUCCESS;
        }
        install_log(install, "no session listed: starting the agent in this install's session " + number(own));
        sessions.push_back(own);
    }
    if (sessions.empty())
        install_log(install, "no user is logged on: the agent starts at each user's logon");
    for (DWORD session : sessions)
        start_in_session(install, session, program);
    return ERROR_SUCCESS;
}

}  // namespace keyhaven
