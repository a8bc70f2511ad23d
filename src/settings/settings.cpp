#include "settings/settings.h"

#include "diag/data_directory.h"
#include "diag/log.h"

Settings settings = {0, 0, 1, 0};

namespace {

// A file that stays untrusted or unreadable is read on every turn; one line
// says so until the reason changes or a read gets past it.
void warn_once_about_untaken(int code, const std::string& path, const std::string& reason)
{
    static std::string last_warning;
    if (code != settings_not_trusted && code != settings_not_readable) {
        last_warning.clear();
        return;
    }
    const std::string warning = path + '\n' + reason;
    if (warning == last_warning)
        return;
    last_warning = warning;
    log_write(WARNING, "settings file %s is not taken: %s", path.c_str(), reason.c_str());
}

}  // namespace

bool settings_taken(int code)
{
    return code == settings_unchanged || code == settings_changed;
}

int read_settings(std::string file_name)
{
    const std::string folder = data_directory();
    const std::string path = folder + file_name;
    std::string reason;
    const int code = load_settings_file(path, settings, reason);
    if (code == settings_not_parsed)
        log_write(ERROR, "settings file exception: %s\n", reason.c_str());
    warn_once_about_untaken(code, path, reason);
    // A file or a link standing at the data folder's place may hide a
    // settings file; a folder that simply cannot be made holds none.
    if (code == settings_not_opened && folder.empty() && something_stands_at_data_directory())
        return settings_no_data_folder;
    return code;
}
