#include "platform/whole_file.h"

namespace keyhaven {

WholeFile read_whole_file(HANDLE file, unsigned long long limit, std::string& bytes, DWORD& error)
{
    bytes.clear();
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        error = GetLastError();
        return WholeFile::size_unknown;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > limit)
        return WholeFile::too_large;
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t total = 0;
    while (total < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file, &bytes[total], static_cast<DWORD>(bytes.size() - total), &got, nullptr)) {
            error = GetLastError();
            bytes.clear();
            return WholeFile::not_read;
        }
        if (got == 0)
            break;
        total += got;
    }
    bytes.resize(total);
    return WholeFile::read;
}

}  // namespace keyhaven
