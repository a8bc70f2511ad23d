#include "status/pending_contracts.h"

#include "settings/settings_parser.h"

#include <windows.h>

#include <fstream>
#include <iterator>

std::string existing_data_directory()
{
    const DWORD attributes = GetFileAttributesA("c:\\nivra");
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::string();
    return "c:\\nivra\\";
}

int load_settings_file(const std::string& path, Settings& target, std::string& reason)
{
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return settings_not_opened;
    std::ifstream file(path);
    if (!file) {
        reason = "the file cannot be opened";
        return settings_not_parsed;
    }
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return parse_settings_text(text, target, reason);
}

bool settings_taken(int code)
{
    return code == settings_unchanged || code == settings_changed;
}
