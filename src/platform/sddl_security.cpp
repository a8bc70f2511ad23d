#include "platform/sddl_security.h"

#include <sddl.h>

namespace keyhaven {

SddlSecurity::SddlSecurity(const char* sddl)
{
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, descriptor_.put(), nullptr))
        attributes_ = SECURITY_ATTRIBUTES{sizeof attributes_, descriptor_.get(), FALSE};
}

SECURITY_ATTRIBUTES* SddlSecurity::attributes()
{
    return attributes_.nLength ? &attributes_ : nullptr;
}

}  // namespace keyhaven
