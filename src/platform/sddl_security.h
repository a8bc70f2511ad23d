#pragma once
// A security descriptor written as SDDL, made once and kept for the
// process, as the attributes a new file or folder is created with.

#include "platform/owned.h"

#include <windows.h>

namespace keyhaven {

class SddlSecurity {
public:
    explicit SddlSecurity(const char* sddl);
    SddlSecurity(const SddlSecurity&) = delete;
    SddlSecurity& operator=(const SddlSecurity&) = delete;

    // Null when the descriptor could not be made: then nothing is created
    // with a security other than the one meant.
    SECURITY_ATTRIBUTES* attributes();

private:
    LocalMemory descriptor_;
    SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace keyhaven
