#include "diag/append_file.h"

#include "diag/log_line.h"
#include "diag/owned.h"

#include <windows.h>

bool append_line_to_file(const std::string& path, const char* line)
{
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end
    // of the file as it then is, whoever else appends meanwhile.
    const FileHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.held())
        return false;
    // What a text-mode stream writes on Windows: CR LF for every line feed.
    const std::string text = log_line::with_crlf(line);
    DWORD written = 0;
    return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}
