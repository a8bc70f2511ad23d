#pragma once
// What a crypt_utils routine owns through diag/owned.h: provider, key,
// certificate and store handles, and byte buffers, each given the label its
// clean-up line shows.

#include "platform/owned.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstring>
#include <new>

namespace keyhaven {

namespace crypt_utils {

inline void release_provider(HCRYPTPROV provider)
{
    CryptReleaseContext(provider, 0);
}
inline void destroy_key(HCRYPTKEY key)
{
    CryptDestroyKey(key);
}
inline void free_certificate(PCCERT_CONTEXT certificate)
{
    CertFreeCertificateContext(certificate);
}
inline void close_store(HCERTSTORE store)
{
    CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
}
inline void free_bytes(BYTE* bytes)
{
    delete[] bytes;
}

using ProviderHandle = Owned<HCRYPTPROV, release_provider>;
using KeyHandle = Owned<HCRYPTKEY, destroy_key>;
using CertContext = Owned<PCCERT_CONTEXT, free_certificate>;
using CertStore = Owned<HCERTSTORE, close_store>;

// A walk over a store's certificates that owns the context it stands on:
// each step hands that context back to the store, which frees it, and
// leaving the walk anywhere frees it too.
class StoreWalk {
public:
    explicit StoreWalk(HCERTSTORE store) : store_(store), current_(CertEnumCertificatesInStore(store, nullptr)) {}
    bool held() const { return current_.held(); }
    PCCERT_CONTEXT get() const { return current_.get(); }
    void next() { current_.reset(CertEnumCertificatesInStore(store_, current_.detach())); }
    // From the first certificate again, after the store changed.
    void restart() { current_.reset(CertEnumCertificatesInStore(store_, nullptr)); }
    // For a call that frees the context itself (CertDeleteCertificateFromStore).
    [[nodiscard]] PCCERT_CONTEXT detach() { return current_.detach(); }

private:
    HCERTSTORE store_;
    CertContext current_;
};

// A zero-filled byte buffer whose allocation may fail (rc 200). Its bytes and
// their count are one thing: nothing can replace the one and leave the other.
class Buffer {
public:
    explicit Buffer(const char* label) : bytes_(label) {}
    bool allocate(std::size_t size)
    {
        bytes_.reset(new (std::nothrow) BYTE[size ? size : 1]());
        size_ = bytes_.held() ? size : 0;
        return bytes_.held();
    }
    BYTE* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    void zero() const
    {
        if (bytes_.held())
            std::memset(bytes_.get(), 0, size_);
    }

    // What CallTrace::clean_up() asks of a resource.
    const char* label() const { return bytes_.label(); }
    bool held() const { return bytes_.held(); }
    void free_now()
    {
        bytes_.free_now();
        size_ = 0;
    }

private:
    Owned<BYTE*, free_bytes> bytes_;
    std::size_t size_ = 0;
};

}  // namespace crypt_utils

}  // namespace keyhaven
