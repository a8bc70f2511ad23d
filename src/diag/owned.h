#pragma once
// One way to own a Windows resource, for every area: Owned<T, Release>
// releases what it holds when it goes, exactly once, whatever path the code
// takes. Each handle kind names its release function and, where 0 or null is
// a valid value, its invalid value (INVALID_HANDLE_VALUE for files and
// device information sets).
//
// A label names the resource in a crypt_utils routine's clean-up lines
// (CallTrace::clean_up() releases labelled resources in the routine's order
// and logs them); without a call to clean_up() the release is silent.

#include <windows.h>

#include <utility>

template <typename T>
T zero_value()
{
    return T{};
}

inline HANDLE invalid_handle_value()
{
    return INVALID_HANDLE_VALUE;
}

template <typename T, void (*Release)(T), T (*Invalid)() = zero_value<T>>
class Owned {
public:
    Owned() = default;
    explicit Owned(const char* label) : label_(label) {}
    explicit Owned(T value, const char* label = nullptr) : label_(label), value_(value) {}
    ~Owned() { free_now(); }

    Owned(Owned&& other) noexcept : label_(other.label_), value_(other.detach()) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other) {
            reset(other.detach());
            label_ = other.label_;
        }
        return *this;
    }
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
        value_ = Invalid();
        return value;
    }

    const char* label() const { return label_; }
    bool held() const { return value_ != Invalid(); }
    void free_now()
    {
        if (held())
            Release(value_);
        value_ = Invalid();
    }

private:
    const char* label_ = nullptr;
    T value_ = Invalid();
};

// Handle kinds of the kernel and of memory the system allocates.
inline void close_handle(HANDLE handle)
{
    CloseHandle(handle);
}
// A mutex this thread may own: released, then closed.
inline void release_and_close_mutex(HANDLE mutex)
{
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
inline void free_local(HLOCAL memory)
{
    LocalFree(memory);
}

using KernelHandle = Owned<HANDLE, close_handle>;                       // null when invalid
using FileHandle = Owned<HANDLE, close_handle, invalid_handle_value>;  // INVALID_HANDLE_VALUE when invalid
using HeldMutex = Owned<HANDLE, release_and_close_mutex>;
using LocalMemory = Owned<HLOCAL, free_local>;
