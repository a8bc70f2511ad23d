#pragma once
// Whether a GOST provider of type 75 is installed, found as CryptoAPI finds
// it, without loading it.

#include "status/status_rules.h"

namespace keyhaven {

namespace status {

ProviderReport probe_provider();

}  // namespace status

}  // namespace keyhaven
