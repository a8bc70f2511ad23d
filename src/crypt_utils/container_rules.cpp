#include "crypt_utils/container_rules.h"

namespace keyhaven {

namespace crypt_utils {

bool is_registry_container(const std::string& name)
{
    return name.find("REGISTRY") != std::string::npos;
}

}  // namespace crypt_utils

}  // namespace keyhaven
