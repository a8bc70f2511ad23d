#include "core/new_containers.h"

#include <algorithm>

namespace keyhaven {

std::vector<std::string> new_containers(const std::vector<std::string>& current,
                                        const std::vector<std::string>& known)
{
    if (current.empty())
        return {};
    if (known.empty())
        return current;
    std::vector<std::string> fresh;
    for (const auto& name : current) {
        if (std::find(known.begin(), known.end(), name) == known.end())
            fresh.push_back(name);
    }
    return fresh;
}

}  // namespace keyhaven
