#include "setup/settings_edit.h"

#include <cstddef>

namespace keyhaven {

const SettingProperty setting_properties[4] = {
    {"CLEAN_STORAGE", "clean_storage"},
    {"MARK_DEFAULT", "mark_default"},
    {"IGNORE_CARDS", "ignore_cards"},
    {"INIT_PLUGIN", "init_plugin"},
};

namespace {

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

struct Line {
    std::string body;
    std::string ending;  // "\r\n", "\n" or, on the last line, ""
};

std::vector<Line> split_lines(const std::string& text)
{
    std::vector<Line> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            lines.push_back({text.substr(at), ""});
            break;
        }
        std::size_t body_end = end > at && text[end - 1] == '\r' ? end - 1 : end;
        lines.push_back({text.substr(at, body_end - at), text.substr(body_end, end + 1 - body_end)});
        at = end + 1;
    }
    return lines;
}

// What a line means to the reader: a section line gives the prefix of the
// names after it; an option line, its full dotted name.
struct LineMeaning {
    bool section = false;
    std::string name;  // the section's, or the option's with the section prefix
};

LineMeaning meaning_of(const std::string& body, const std::string& section)
{
    LineMeaning meaning;
    std::string text = trimmed(body.substr(0, body.find('#')));
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        meaning.section = true;
        // As the reader takes it: blanks inside the brackets are part of the name.
        meaning.name = text.substr(1, text.size() - 2);
        if (!meaning.name.empty() && meaning.name.back() == '.')
            meaning.name.pop_back();
        return meaning;
    }
    std::size_t equals = text.find('=');
    if (equals != std::string::npos) {
        std::string name = trimmed(text.substr(0, equals));
        meaning.name = section.empty() ? name : section + "." + name;
    }
    return meaning;
}

}  // namespace

bool setting_value_valid(const std::string& value)
{
    return value == "0" || value == "1";
}

std::string edit_settings_text(const std::string& text, const std::vector<SettingValue>& values)
{
    std::vector<Line> lines = split_lines(text);
    std::vector<bool> written(values.size(), false);
    std::vector<Line> edited;
    std::string section;
    std::size_t section_line = std::string::npos;  // index in edited of the "[properties]" line
    for (const Line& line : lines) {
        LineMeaning meaning = meaning_of(line.body, section);
        if (meaning.section) {
            section = meaning.name;
            if (section == "properties" && section_line == std::string::npos)
                section_line = edited.size();
            edited.push_back(line);
            continue;
        }
        std::size_t named = values.size();
        for (std::size_t i = 0; i < values.size(); ++i)
            if (meaning.name == "properties." + values[i].key)
                named = i;
        if (named == values.size()) {
            edited.push_back(line);
            continue;
        }
        if (written[named])
            continue;
        std::string name = trimmed(line.body.substr(0, line.body.find('=')));
        edited.push_back({name + " = " + values[named].value, line.ending});
        written[named] = true;
    }

    std::vector<Line> missing;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!written[i])
            missing.push_back({values[i].key + " = " + values[i].value, "\r\n"});
    if (!missing.empty() && section_line == std::string::npos) {
        if (!edited.empty() && edited.back().ending.empty())
            edited.back().ending = "\r\n";
        edited.push_back({"[properties]", "\r\n"});
        section_line = edited.size() - 1;
    }
    if (!missing.empty()) {
        if (edited[section_line].ending.empty())
            edited[section_line].ending = "\r\n";
        edited.insert(edited.begin() + static_cast<std::ptrdiff_t>(section_line) + 1, missing.begin(), missing.end());
    }

    std::string result;
    for (const Line& line : edited)
        result += line.body + line.ending;
    return result;
}

std::string encode_setting_values(const std::vector<SettingValue>& values)
{
    std::string text;
    for (const SettingValue& value : values)
        text += (text.empty() ? "" : ";") + value.key + "=" + value.value;
    return text;
}

bool decode_setting_values(const std::string& text, std::vector<SettingValue>& values)
{
    values.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(';', at);
        std::string item = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::size_t equals = item.find('=');
        if (equals == std::string::npos)
            return false;
        SettingValue value{item.substr(0, equals), item.substr(equals + 1)};
        bool known = false;
        for (const SettingProperty& property : setting_properties)
            known = known || value.key == property.key;
        if (!known || !setting_value_valid(value.value))
            return false;
        values.push_back(value);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return !values.empty();
}

}  // namespace keyhaven
