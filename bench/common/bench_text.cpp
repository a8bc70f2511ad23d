#include "bench_text.h"

#include "bench_files.h"

#include <cstring>

namespace bench {

std::string utf8(const wchar_t* text)
{
    return text ? utf8(std::wstring(text)) : std::string();
}

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, &out[0], size, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::string hex_or_dash(const std::string& bytes)
{
    return bytes.empty() ? std::string("-") : to_hex(bytes);
}

}  // namespace bench
