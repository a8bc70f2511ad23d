#pragma once
// The encodings administrators' tools write a settings file in, turned into
// the 8-bit text the parser reads. No Windows header: the conversion of
// UTF-16 to the ANSI code page is handed in.

#include <string>

namespace keyhaven {

enum class SettingsEncoding { ansi, utf8_with_mark, utf16_little_endian, utf16_big_endian };

// Which byte-order mark the file starts with (ansi: none).
SettingsEncoding settings_encoding(const std::string& bytes);

// UTF-16 code units to 8-bit text; false when they cannot be converted.
typedef bool (*Utf16ToAnsi)(const std::u16string& units, std::string& text);

// The file's bytes as the parser's text: as they are without a mark, without
// the mark for UTF-8, both up to the first 0x1A (end of file for a
// text-mode read), converted by to_ansi for UTF-16 (the mark dropped).
// False with a reason when a UTF-16 file ends in half a unit or cannot be
// converted.
bool settings_text_of(const std::string& bytes, Utf16ToAnsi to_ansi, std::string& text, std::string& reason);

}  // namespace keyhaven
