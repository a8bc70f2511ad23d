#include "crypt_utils/removed_copies.h"

#include "crypt_utils/certificate_names.h"
#include "crypt_utils/crypt_handles.h"
#include "crypt_utils/personal_store.h"
#include "crypt_utils/provider_constants.h"
#include "platform/owned.h"
#include "platform/package_names.h"
#include "platform/text.h"
#include "platform/whole_file.h"
#include "platform/wide_text.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>

namespace keyhaven {

namespace crypt_utils {

namespace {

const wchar_t index_name[] = L"index.txt";

inline void free_task_memory(wchar_t* memory)
{
    CoTaskMemFree(memory);
}
using ShellPath = Owned<wchar_t*, free_task_memory>;

std::string with_code(const char* text, DWORD error)
{
    return std::string(text) + ", code: " + hex_code(error);
}

// A folder that is there as a folder, not a link to somewhere else.
bool plain_folder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The whole file, or nothing when it is missing, larger than limit or unreadable.
bool read_small_file(const std::wstring& path, std::size_t limit, std::string& bytes)
{
    bytes.clear();
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD error = 0;
    return file.held() && read_whole_file(file.get(), limit, bytes, error) == WholeFile::read;
}

// Written beside the target and moved over it, so a reader never meets half a file.
bool replace_file(const std::wstring& path, const std::string& bytes, std::string& failure)
{
    const std::wstring temporary = path + L".new";
    {
        FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.held()) {
            failure = with_code("CreateFileW", GetLastError());
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size()) {
            failure = with_code("WriteFile", GetLastError());
            file.free_now();
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        failure = with_code("MoveFileExW", GetLastError());
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

std::string serialized(PCCERT_CONTEXT certificate, std::string& failure)
{
    // A memory store holding this one certificate: adding copies its properties, the key link among them.
    CertStore memory(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!memory.held()) {
        failure = with_code("CertOpenStore(CERT_STORE_PROV_MEMORY)", GetLastError());
        return std::string();
    }
    if (!CertAddCertificateContextToStore(memory.get(), certificate, CERT_STORE_ADD_ALWAYS, nullptr)) {
        failure = with_code("CertAddCertificateContextToStore", GetLastError());
        return std::string();
    }
    CRYPT_DATA_BLOB blob = {0, nullptr};
    if (!CertSaveStore(memory.get(), certificate_encoding, CERT_STORE_SAVE_AS_STORE, CERT_STORE_SAVE_TO_MEMORY,
                       &blob, 0) ||
        blob.cbData == 0) {
        failure = with_code("CertSaveStore", GetLastError());
        return std::string();
    }
    std::string bytes(blob.cbData, '\0');
    blob.pbData = reinterpret_cast<BYTE*>(&bytes[0]);
    if (!CertSaveStore(memory.get(), certificate_encoding, CERT_STORE_SAVE_AS_STORE, CERT_STORE_SAVE_TO_MEMORY,
                       &blob, 0)) {
        failure = with_code("CertSaveStore", GetLastError());
        return std::string();
    }
    bytes.resize(blob.cbData);
    return bytes;
}

std::string now_utc(expiry::CalendarDate& today)
{
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    today = {now.wYear, now.wMonth, now.wDay};
    char text[32] = {};
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

// As the log writes names (the ANSI code page), without a trace of its own
// between a deletion's two lines.
std::string issuer_in_ansi(PCCERT_CONTEXT certificate)
{
    void* oid = const_cast<char*>(szOID_COMMON_NAME);
    char name[512] = {};
    const DWORD size = CertGetNameStringA(certificate, CERT_NAME_ATTR_TYPE, CERT_NAME_ISSUER_FLAG, oid, name, sizeof name);
    return size > 1 ? std::string(name) : std::string();
}

}  // namespace

std::wstring removed_copies_folder(bool create, std::string& failure)
{
    // The process's own user, also when a thread impersonates another.
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_IMPERSONATE, token.put())) {
        failure = with_code("OpenProcessToken", GetLastError());
        return std::wstring();
    }
    ShellPath base;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, token.get(), base.put());
    if (FAILED(result) || !base.get()) {
        failure = with_code("SHGetKnownFolderPath(FOLDERID_LocalAppData)", static_cast<DWORD>(result));
        return std::wstring();
    }
    std::wstring folder = base.get();
    for (const wchar_t* step : package_names::removed_copies_folders) {
        folder += L'\\';
        folder += step;
        if (create && !CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            failure = with_code("CreateDirectoryW", GetLastError());
            return std::wstring();
        }
        if (!plain_folder(folder)) {
            failure = create ? "a file or link stands where its folder belongs" : "no copies were kept";
            return std::wstring();
        }
    }
    return folder + L'\\';
}

std::vector<RemovedCopy> read_removed_index(const std::wstring& folder)
{
    std::string text;
    if (folder.empty() || !read_small_file(folder + index_name, removed_index_largest, text))
        return {};
    return parse_removed_index(text);
}

RemovedCertificate describe_removed(PCCERT_CONTEXT certificate)
{
    RemovedCertificate removed;
    RemovedCopy& entry = removed.entry;
    entry.thumbprint = thumbprint_text(certificate);
    entry.serial = serial_text(certificate);
    entry.subject_cn = common_name_utf8(certificate, false);
    entry.issuer_cn = common_name_utf8(certificate, true);
    CertificateKeyLink link;
    entry.gost_key_link = read_key_link(certificate, link) && link.provider_type == provider_type;
    removed.issuer_for_log = issuer_in_ansi(certificate);
    if (entry.thumbprint.empty()) {
        removed.failure = "its thumbprint cannot be read";
        return removed;
    }
    entry.file = removed_copy_file(entry.thumbprint);
    removed.store_bytes = serialized(certificate, removed.failure);
    return removed;
}

bool keep_removed_copy(const RemovedCertificate& removed, std::string& failure)
{
    if (removed.store_bytes.empty()) {
        failure = removed.failure;
        return false;
    }
    const std::wstring folder = removed_copies_folder(true, failure);
    if (folder.empty())
        return false;
    if (!replace_file(folder + wide_from_utf8(removed.entry.file), removed.store_bytes, failure))
        return false;
    RemovedCopy entry = removed.entry;
    expiry::CalendarDate today{};
    entry.removed_at = now_utc(today);
    const RemovedIndexUpdate update = record_removed_copy(read_removed_index(folder), entry, today);
    if (!replace_file(folder + index_name, removed_index_text(update.kept), failure))
        return false;
    // The copies the index let go of: a file that will not go is only a file too many.
    for (const std::string& file : update.files_to_delete)
        DeleteFileW((folder + wide_from_utf8(file)).c_str());
    return true;
}

}  // namespace crypt_utils

}  // namespace keyhaven
