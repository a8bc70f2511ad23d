#pragma once
// The provider is shared with the maker's security library libKestrel; the
// two keep out of each other's way through this named mutex of the session.

#include <windows.h>

constexpr char provider_mutex_name[] = "nivra_crypto_pro_mutex";

// Creates (or, if another process holds it, waits up to 30 s for) the
// provider mutex. Returns its handle whenever one was created or opened,
// also when the wait did not obtain ownership; null only when creation
// failed. The caller releases and closes a non-null handle.
HANDLE acquire_provider_lock();
