#pragma once
// The current user's personal store "My" as an in-process test sees it.

#include <windows.h>

#include <string>
#include <vector>

namespace personal_store {

struct Entry {
    std::string serial;      // hex, as the certificate holds it (big-endian)
    std::string subject_cn;  // ANSI code page
    std::string issuer_cn;
    bool key_link = false;
    std::wstring container;
    std::wstring provider;
    DWORD provider_type = 0;
    DWORD key_spec = 0;
};

std::vector<Entry> list();
std::vector<std::string> serials();

// Adds DER bytes as they are, without a key link (a certificate the user
// already has); true on success.
bool add(const std::string& der);
// Deletes everything and commits it.
void clear();
// Certificates written to the registry backing of "My": what survives the process.
size_t persisted_count();

}  // namespace personal_store
