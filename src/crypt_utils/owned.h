#pragma once
// The kinds of handle and buffer a crypt_utils routine owns (diag/owned.h),
// each given the label its clean-up line shows.

#include "diag/owned.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstring>
#include <new>

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

// A zero-filled byte buffer whose allocation may fail (rc 200).
class Buffer : public Owned<BYTE*, free_bytes> {
public:
    explicit Buffer(const char* label) : Owned(label) {}
    bool allocate(std::size_t size)
    {
        reset(new (std::nothrow) BYTE[size ? size : 1]());
        size_ = held() ? size : 0;
        return held();
    }
    BYTE* data() const { return get(); }
    std::size_t size() const { return size_; }
    void zero() const
    {
        if (held())
            std::memset(get(), 0, size_);
    }

private:
    std::size_t size_ = 0;
};

}  // namespace crypt_utils
