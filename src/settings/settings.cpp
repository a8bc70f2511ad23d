#include "settings/settings.h"

#include "diag/log.h"
#include "settings/settings_parser.h"

#include <fstream>
#include <iterator>

Settings settings = {0, 0, 1, 0};

int read_settings(std::string file_name)
{
    std::ifstream file(data_directory() + file_name);
    if (!file)
        return settings_not_opened;

    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string error;
    int code = parse_settings_text(text, settings, error);
    if (code == settings_not_parsed)
        log_write(ERROR, "settings file exception: %s\n", error.c_str());
    return code;
}
