#pragma once
// Which container names the agent leaves alone. No Windows header here.

#include <string>

namespace keyhaven {

namespace crypt_utils {

// Containers kept in the registry: "REGISTRY" anywhere in the fully
// qualified name, upper case only.
bool is_registry_container(const std::string& name);

}  // namespace crypt_utils

}  // namespace keyhaven
