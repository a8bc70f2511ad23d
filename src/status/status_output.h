#pragma once
// keyhaven-status's two outputs of one report: the table a person reads and
// the JSON document the fleet tools collect. Both UTF-8, lines ending "\n".

#include "status/status_rules.h"

#include <string>

namespace keyhaven {

namespace status {

std::string json_text(const StatusReport& report);
std::string table_text(const StatusReport& report);

}  // namespace status

}  // namespace keyhaven
