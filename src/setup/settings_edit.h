#pragma once
// How the package puts settings given as properties into Keyhaven.ini, and
// what it accepts from the command line: text rules only, so they build
// natively and are tested without Windows Installer.

#include <string>
#include <vector>

namespace keyhaven {

struct SettingValue {
    std::string key;    // as the file names it, e.g. "clean_storage"
    std::string value;  // as the administrator gave it
};

// The public properties an administrator may give, and the key each sets.
struct SettingProperty {
    const char* property;
    const char* key;
};
extern const SettingProperty setting_properties[4];

// What the package writes for a switch: "0" or "1". The agent takes any other
// integer as off, which an administrator who typed 2 never means.
bool setting_value_valid(const std::string& value);

// The settings file text with every named key set: the key's line in the
// [properties] section (or its "properties.key" line before any section)
// gets the new value and keeps its line ending; a later line of the same
// key is dropped, since the reader refuses a key given twice. A key the
// file lacks gets a line right after the section line, and a file without
// the section gets one at its end. Lines of keys not named stay as they are.
std::string edit_settings_text(const std::string& text, const std::vector<SettingValue>& values);

// The values as one property of the installer's script ("key=value;...")
// and back. decode_setting_values refuses anything encode would not write.
std::string encode_setting_values(const std::vector<SettingValue>& values);
bool decode_setting_values(const std::string& text, std::vector<SettingValue>& values);

}  // namespace keyhaven
