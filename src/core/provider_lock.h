#pragma once
// The provider is shared with the maker's security library libKestrel; the
// two keep out of each other's way through a named mutex of the session
// (package_names::provider_mutex).

#include "platform/owned.h"
#include "platform/package_names.h"

#include <windows.h>

namespace keyhaven {

// The provider mutex as one working turn holds it. The wait for another
// holder can end without ownership (time-out, failure) while the handle is
// open all the same: the turn goes on either way, and owned() says which it
// was. Released only when owned, and closed, when the turn ends.
using ProviderLock = MutexOwnership;

// Creates (or, if another process holds it, waits up to 30 s for) the
// provider mutex. The handle is empty only when creation failed.
[[nodiscard]] ProviderLock acquire_provider_lock();

}  // namespace keyhaven
