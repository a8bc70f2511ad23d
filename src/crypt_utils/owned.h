#pragma once
// Handles and buffers a crypt_utils routine owns, each with the label its
// clean-up line shows. CallTrace::clean_up() releases them in the routine's
// order; the destructor releases whatever is still held (without a line).

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstring>
#include <new>

namespace crypt_utils {

template <typename T, void (*Free)(T)>
class Owned {
public:
    explicit Owned(const char* label) : label_(label) {}
    ~Owned() { free_now(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    T get() const { return value_; }
    // For out-parameters of the platform calls: releases what is held, so
    // the slot handed out is empty.
    T* put()
    {
        free_now();
        return &value_;
    }
    void reset(T value)
    {
        free_now();
        value_ = value;
    }
    // Gives the value to the caller, who then owns it.
    T detach()
    {
        T value = value_;
        value_ = T{};
        return value;
    }

    const char* label() const { return label_; }
    bool held() const { return value_ != T{}; }
    void free_now()
    {
        if (held())
            Free(value_);
        value_ = T{};
    }

private:
    const char* label_;
    T value_{};
};

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
    using Owned::Owned;
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
