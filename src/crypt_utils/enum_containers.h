#pragma once
// The key containers the GOST provider exposes now.

#include "settings/settings.h"

#include <string>
#include <vector>

namespace keyhaven {

namespace crypt_utils {

// Clears containers, then lists the provider's containers in its order,
// without the ones kept in the registry and, when settings.ignore_cards is 1,
// without the ones on a smart card that answers the card probe. 0 when the
// whole list was read (it may be empty); otherwise the Windows error code of
// the failing call, with the list empty: ERROR_NO_MORE_ITEMS (259) when the
// provider has no container or they are busy.
[[nodiscard]] int enum_containers(const Settings& settings, std::vector<std::string>& containers);

// True when the container's key sits on a card in a reader that passes
// CarrierCensus::probe_reader; false otherwise and on every failure. Logs nothing.
bool is_card_container(const std::string& container);

}  // namespace crypt_utils

}  // namespace keyhaven
