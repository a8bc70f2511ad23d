#include "platform/wide_text.h"

#include <windows.h>

namespace keyhaven {

std::string utf8_from_wide(const wchar_t* text)
{
    if (!text)
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string utf8(static_cast<std::size_t>(size), '\0');
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr))
        return std::string();
    utf8.resize(static_cast<std::size_t>(size) - 1);
    return utf8;
}

namespace {

std::wstring wide_from(const std::string& text, unsigned code_page)
{
    if (text.empty())
        return std::wstring();
    const int count = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(code_page, 0, text.data(), count, nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    if (MultiByteToWideChar(code_page, 0, text.data(), count, &wide[0], size) != size)
        return std::wstring();
    return wide;
}

}  // namespace

std::wstring wide_from_utf8(const std::string& text)
{
    return wide_from(text, CP_UTF8);
}

std::wstring wide_from_ansi(const std::string& text)
{
    return wide_from(text, CP_ACP);
}

}  // namespace keyhaven
