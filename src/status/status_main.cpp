// keyhaven-status.exe: the agent's health and the user's expiring
// certificates, for a person at a console or a fleet tool collecting the
// output and the exit status of a run in each user's session.

#include "status/status_output.h"
#include "status/status_probe.h"
#include "status/status_rules.h"
#include "platform/wide_text.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace keyhaven {

namespace {

// UTF-8 bytes to a pipe or file; a console gets the same text as UTF-16,
// which shows right whatever its code page.
void write_output(const std::string& text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        const std::wstring wide = wide_from_utf8(text);
        DWORD written = 0;
        if (!wide.empty())
            WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &written, nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

}  // namespace

}  // namespace keyhaven

int main(int argc, char** argv)
{
    using namespace keyhaven;
    status::Options options;
    std::string error;
    if (!status::parse_options(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "keyhaven-status: %s\n", error.c_str());
        return status::exit_bad_option;
    }
    if (options.help) {
        write_output(status::help_text());
        return status::exit_healthy;
    }
    // Session 0 holds services, and no user's agent: whatever runs there, or
    // whatever mutex any service made, says nothing about a user's agent.
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0) {
        std::fprintf(stderr, "keyhaven-status: run it as the logged-on user, in that user's session: it reports "
                             "the agent and certificates of the session it runs in, and this is session 0 "
                             "(or one it cannot name)\n");
        return status::exit_no_agent;
    }
    const status::StatusReport report = status::gather_status(options);
    write_output(options.json ? status::json_text(report) : status::table_text(report));
    return status::exit_status(report);
}
