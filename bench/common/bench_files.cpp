#include "bench_files.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace bench {

std::string path(const std::string& name)
{
    return "C:\\bench\\" + name;
}

KeepLastError::KeepLastError() : saved_(GetLastError()) {}
KeepLastError::~KeepLastError()
{
    SetLastError(saved_);
}

std::string read_file(const std::string& file)
{
    KeepLastError keep;
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(h);
    return bytes;
}

std::vector<std::string> read_lines(const std::string& file)
{
    std::vector<std::string> lines;
    std::string text = read_file(file);
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void write_file(const std::string& file, const std::string& bytes)
{
    KeepLastError keep;
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

void append_line(const std::string& file, const std::string& line)
{
    KeepLastError keep;
    HANDLE h = CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

namespace {

std::map<std::string, long> parse_counters(const std::string& text)
{
    std::map<std::string, long> counters;
    std::istringstream in(text);
    std::string name;
    long value = 0;
    while (in >> name >> value)
        counters[name] = value;
    return counters;
}

}  // namespace

long adjust_counter(const std::string& file, const std::string& name, long delta)
{
    KeepLastError keep;
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    OVERLAPPED whole = {};
    LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);

    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    std::map<std::string, long> counters = parse_counters(text);
    long value = counters[name] += delta;

    std::string out;
    for (const auto& counter : counters)
        out += counter.first + " " + std::to_string(counter.second) + "\r\n";
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    DWORD written = 0;
    WriteFile(h, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    SetEndOfFile(h);

    UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(h);
    return value;
}

std::map<std::string, long> read_counters(const std::string& file)
{
    return parse_counters(read_file(file));
}

std::string to_hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

bool from_hex(const std::string& hex, std::string& bytes)
{
    bytes.clear();
    int high = -1;
    for (char c : hex) {
        if (c == ' ' || c == '\t')
            continue;
        int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (v < 0)
            return false;
        if (high < 0) {
            high = v;
        } else {
            bytes += static_cast<char>(high * 16 + v);
            high = -1;
        }
    }
    return high < 0;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type end = text.find(separator, start);
        fields.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

}  // namespace bench
