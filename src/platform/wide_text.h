#pragma once
// UTF-8 from and to Windows' wide characters, for texts that must come out
// right whatever the code page for non-Unicode programs is.

#include <string>

namespace keyhaven {

std::string utf8_from_wide(const wchar_t* text);
std::wstring wide_from_utf8(const std::string& text);
// The ANSI code page's text in wide characters; empty when it cannot be.
std::wstring wide_from_ansi(const std::string& text);

}  // namespace keyhaven
