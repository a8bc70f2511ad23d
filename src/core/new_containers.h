#pragma once
// Which containers of an enumeration were not there at the previous one.

#include <string>
#include <vector>

namespace keyhaven {

// Names of current not present in known, in the order of current; names are
// equal only byte for byte (case counts), and a new name listed twice in
// current is new twice.
std::vector<std::string> new_containers(const std::vector<std::string>& current,
                                        const std::vector<std::string>& known);

}  // namespace keyhaven
