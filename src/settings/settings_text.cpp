#include "settings/settings_text.h"

namespace keyhaven {

namespace {

bool starts_with(const std::string& bytes, const char* mark, std::string::size_type length)
{
    return bytes.size() >= length && bytes.compare(0, length, mark, length) == 0;
}

// A text-mode read stops at Ctrl-Z, which "copy /a" and other DOS-era tools
// put at the end of a text file; neither code page has a character there.
std::string up_to_end_of_file_mark(const std::string& bytes, std::string::size_type start)
{
    const std::string::size_type mark = bytes.find('\x1A', start);
    return bytes.substr(start, mark == std::string::npos ? std::string::npos : mark - start);
}

}  // namespace

SettingsEncoding settings_encoding(const std::string& bytes)
{
    if (starts_with(bytes, "\xEF\xBB\xBF", 3))
        return SettingsEncoding::utf8_with_mark;
    if (starts_with(bytes, "\xFF\xFE", 2))
        return SettingsEncoding::utf16_little_endian;
    if (starts_with(bytes, "\xFE\xFF", 2))
        return SettingsEncoding::utf16_big_endian;
    return SettingsEncoding::ansi;
}

bool settings_text_of(const std::string& bytes, Utf16ToAnsi to_ansi, std::string& text, std::string& reason)
{
    const SettingsEncoding encoding = settings_encoding(bytes);
    if (encoding == SettingsEncoding::ansi || encoding == SettingsEncoding::utf8_with_mark) {
        text = up_to_end_of_file_mark(bytes, encoding == SettingsEncoding::ansi ? 0 : 3);
        return true;
    }
    if (bytes.size() % 2 != 0) {
        reason = "the UTF-16 text ends in half a character";
        return false;
    }
    const bool big_endian = encoding == SettingsEncoding::utf16_big_endian;
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::string::size_type i = 2; i < bytes.size(); i += 2) {
        const unsigned char first = static_cast<unsigned char>(bytes[i]);
        const unsigned char second = static_cast<unsigned char>(bytes[i + 1]);
        units += static_cast<char16_t>(big_endian ? (first << 8 | second) : (second << 8 | first));
    }
    if (!to_ansi(units, text)) {
        reason = "the UTF-16 text cannot be converted to the ANSI code page";
        return false;
    }
    return true;
}

}  // namespace keyhaven
