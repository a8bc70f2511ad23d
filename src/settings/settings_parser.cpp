#include "settings/settings_parser.h"

#include <boost/program_options.hpp>

#include <exception>
#include <sstream>

namespace keyhaven {

namespace po = boost::program_options;

namespace {

// The same trimming the library applies to a line before reading it.
std::string trimmed_without_comment(const std::string& line)
{
    std::string s = line.substr(0, line.find('#'));
    const char* blanks = " \t\r\n";
    std::string::size_type first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// Boost 1.74 fills its message placeholders ("%value%", "%canonical_option%",
// "%invalid_line%", ...) by replacing until none is left, so a name, value or
// line that itself holds a placeholder makes what() loop for ever. Every "%"
// goes to the library escaped, as escape + 'p' (an escape byte of the file as
// escape + 'e'): no line changes its meaning, since neither byte is a blank,
// "#", "=", a bracket, a dot or a digit, and the message is restored after.
// A NUL byte goes as escape + 'z' and comes back as the two characters "\0":
// what() is a C string, so a raw NUL would cut the message short of the
// option it names.
const char escape = '\x01';

std::string escape_percent_signs(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '%' || c == escape || c == '\0') {
            out += escape;
            out += c == '%' ? 'p' : c == escape ? 'e' : 'z';
        } else {
            out += c;
        }
    }
    return out;
}

std::string restore_percent_signs(const std::string& message)
{
    std::string out;
    out.reserve(message.size());
    for (std::string::size_type i = 0; i < message.size(); ++i) {
        const char next = i + 1 < message.size() ? message[i + 1] : '\0';
        if (message[i] != escape || (next != 'p' && next != 'e' && next != 'z')) {
            out += message[i];
            continue;
        }
        ++i;
        if (next == 'z')
            out += "\\0";
        else
            out += next == 'p' ? '%' : escape;
    }
    return out;
}

}  // namespace

std::string guard_empty_sections(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 8);
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        std::string::size_type stop = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, stop - start);
        out += trimmed_without_comment(line) == "[]" ? std::string("[.]") : line;
        if (end == std::string::npos)
            break;
        out += '\n';
        start = end + 1;
    }
    return out;
}

SettingsRead parse_settings_text(const std::string& text, Settings& target, std::string& error)
{
    // Bound to a scratch copy so that a failing read leaves target untouched
    // even if the library were to notify part of the options.
    Settings read = target;
    // A key the file leaves out takes its default, not the value it had.
    const Settings defaults;
    po::options_description allowed("AllowedOptions");
    allowed.add_options()
        ("properties.clean_storage", po::value<int>(&read.clean_storage)->default_value(defaults.clean_storage),
         "Is clean certificate storage")
        ("properties.mark_default", po::value<int>(&read.mark_default)->default_value(defaults.mark_default),
         "Is set default mark to container")
        ("properties.ignore_cards", po::value<int>(&read.ignore_cards)->default_value(defaults.ignore_cards),
         "Is ignore smart cards")
        ("properties.init_plugin", po::value<int>(&read.init_plugin)->default_value(defaults.init_plugin),
         "Is call portal plugin init functions");

    const Settings before = target;
    try {
        std::istringstream stream(escape_percent_signs(guard_empty_sections(text)));
        po::variables_map values;
        po::store(po::parse_config_file(stream, allowed, false), values);
        po::notify(values);
    } catch (const std::exception& e) {
        error = restore_percent_signs(e.what());
        return SettingsRead::not_parsed;
    }
    target = read;
    return before == target ? SettingsRead::unchanged : SettingsRead::changed;
}

}  // namespace keyhaven
