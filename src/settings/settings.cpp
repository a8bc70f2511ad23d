#include "settings/settings.h"

#include "platform/data_directory.h"
#include "diag/log.h"

#include <chrono>

namespace keyhaven {

namespace {

bool failing(SettingsRead code)
{
    return code == SettingsRead::not_parsed || code == SettingsRead::not_trusted || code == SettingsRead::not_readable;
}

unsigned long long steady_ms()
{
    using namespace std::chrono;
    return static_cast<unsigned long long>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// A file that stays broken, untrusted or unreadable is read on every turn;
// its line is written as the repeated-failure rule says, not every time.
void log_failure(SettingsRead code, const std::string& path, const std::string& reason, unsigned long reminder_ms)
{
    static RepeatedFailure last;
    const std::string text = code == SettingsRead::not_parsed ? reason : path + '\n' + reason;
    const std::string key = std::to_string(static_cast<int>(code)) + '\n' + text;
    switch (follow_failure(last, failing(code), key, steady_ms(), reminder_ms)) {
    case FailureStep::write:
        if (code == SettingsRead::not_parsed)
            log_write(LogLevel::error, "settings file exception: %s\n", reason.c_str());
        else
            log_write(LogLevel::warning, "settings file %s is not taken: %s", path.c_str(), reason.c_str());
        break;
    case FailureStep::ended:
        log_write(LogLevel::info, "settings file failure has ended (code=%d)", static_cast<int>(code));
        break;
    case FailureStep::quiet:
    case FailureStep::none:
        break;
    }
}

}  // namespace

bool settings_taken(SettingsRead code)
{
    return code == SettingsRead::unchanged || code == SettingsRead::changed;
}

SettingsRead read_settings(const std::string& file_name, Settings& target, unsigned long reminder_ms)
{
    const std::string folder = data_directory();
    const std::string path = folder + file_name;
    std::string reason;
    const SettingsRead code = load_settings_file(path, target, reason);
    log_failure(code, path, reason, reminder_ms);
    // A file or a link standing at the data folder's place may hide a
    // settings file; a folder that simply cannot be made holds none.
    if (code == SettingsRead::not_opened && folder.empty() && something_stands_at_data_directory())
        return SettingsRead::no_data_folder;
    return code;
}

}  // namespace keyhaven
