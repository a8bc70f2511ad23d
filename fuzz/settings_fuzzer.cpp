// The settings reader, Boost.Program_options included, on arbitrary file
// contents: one of its three codes and never an exception; a failed read
// changes no field; a successful one reads the same the second time. The
// guard against "[]" lines changes nothing but such lines. The same holds
// for the bytes of a file turned into text first.
#include "fuzz_check.h"
#include "settings/settings_parser.h"
#include "settings/settings_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace keyhaven;

namespace {

// Lines as std::getline gives them: split at "\n", a final empty piece dropped.
std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        const std::string::size_type end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void check_reader(const std::string& text)
{
    // Values no file gives by default, so a read of defaults shows as a change.
    const Settings before = {7, -1, 5, 2};
    Settings target = before;
    std::string error;
    const SettingsRead code = parse_settings_text(text, target, error);
    switch (code) {
    case SettingsRead::not_parsed:
        FUZZ_CHECK(target == before);
        FUZZ_CHECK(!error.empty());
        return;
    case SettingsRead::changed:
        FUZZ_CHECK(target != before);
        break;
    case SettingsRead::unchanged:
        FUZZ_CHECK(target == before);
        break;
    default:
        FUZZ_CHECK(!"an unknown result code");
    }
    Settings again = target;
    FUZZ_CHECK(parse_settings_text(text, again, error) == SettingsRead::unchanged);
    FUZZ_CHECK(again == target);
}

void check_guard(const std::string& text)
{
    const std::string guarded = guard_empty_sections(text);
    FUZZ_CHECK(guard_empty_sections(guarded) == guarded);
    const std::vector<std::string> before = lines_of(text);
    const std::vector<std::string> after = lines_of(guarded);
    FUZZ_CHECK(before.size() == after.size());
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
        FUZZ_CHECK(before[i] == after[i] || (after[i] == "[.]" && before[i].find("[]") != std::string::npos));
}

bool ascii_units(const std::u16string& units, std::string& text)
{
    for (char16_t unit : units)
        text += static_cast<char>(unit < 0x80 ? unit : '?');
    return true;
}

// The file's bytes as the reader takes them: 8-bit text ends at the first
// Ctrl-Z, whatever follows it.
void check_file_text(const std::string& bytes)
{
    std::string text, reason;
    if (!settings_text_of(bytes, ascii_units, text, reason))
        return;
    const SettingsEncoding encoding = settings_encoding(bytes);
    if (encoding == SettingsEncoding::ansi || encoding == SettingsEncoding::utf8_with_mark) {
        FUZZ_CHECK(text.find('\x1A') == std::string::npos);
        FUZZ_CHECK(bytes.find(text) != std::string::npos);
    }
    check_reader(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    check_reader(text);
    check_guard(text);
    check_file_text(text);
    return 0;
}
