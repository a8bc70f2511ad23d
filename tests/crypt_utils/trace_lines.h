#pragma once
// The agent's log as the crypt_utils tests compare it: the source line
// number of an ERROR line ("line: 75,") shows as "line: N," so that the
// expected lines do not move with the code.

#include "support/agent_log.h"

#include <string>
#include <vector>

namespace trace_lines {

inline std::vector<std::string> entries(bool minimal = false)
{
    std::vector<std::string> lines = agent_log::entries(minimal);
    for (auto& line : lines) {
        const std::string::size_type at = line.find(", line: ");
        const std::string::size_type end = line.find(',', at + 1);
        if (at != std::string::npos && end != std::string::npos)
            line.replace(at, end - at, ", line: N");
    }
    return lines;
}

}  // namespace trace_lines
