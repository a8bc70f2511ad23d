// load_settings_file() for the native builds: no security to judge, and
// UTF-16 converted for ASCII only (anything else becomes "?").
#include "settings/settings.h"
#include "settings/settings_parser.h"
#include "settings/settings_text.h"

#include <fstream>
#include <iterator>

namespace keyhaven {

namespace {

bool ascii_from_utf16(const std::u16string& units, std::string& text)
{
    text.clear();
    for (char16_t unit : units)
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    return true;
}

}  // namespace

SettingsRead load_settings_file(const std::string& path, Settings& target, std::string& reason)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return SettingsRead::not_opened;
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string text;
    if (!settings_text_of(bytes, ascii_from_utf16, text, reason))
        return SettingsRead::not_parsed;
    return parse_settings_text(text, target, reason);
}

}  // namespace keyhaven
