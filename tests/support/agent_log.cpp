#include "support/agent_log.h"

#include "diag/log_line.h"

#include <windows.h>

#include <ctime>
#include <fstream>
#include <iterator>

using namespace keyhaven;

namespace agent_log {

std::string path(bool minimal)
{
    std::time_t now = std::time(nullptr);
    std::tm when = {};
    localtime_s(&when, &now);
    return "c:\\nivra\\" + log_line::file_name(when, minimal);
}

std::string read(bool minimal)
{
    std::ifstream file(path(minimal), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::vector<std::string> entries(bool minimal)
{
    std::vector<std::string> lines;
    std::string text = read(minimal);
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        lines.push_back(line.size() >= log_line::stamp_length ? line.substr(log_line::stamp_length) : line);
        start = end + 2;
    }
    return lines;
}

void clear()
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("c:\\nivra\\Keyhaven*.log", &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        DeleteFileA((std::string("c:\\nivra\\") + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace agent_log
