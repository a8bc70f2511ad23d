#pragma once
// One way to own a Windows resource, for every area: Owned<T, Release>
// releases what it holds when it goes, exactly once, whatever path the code
// takes. Each handle kind names its release function and, where 0 or null is
// a valid value, its invalid value (INVALID_HANDLE_VALUE for device
// information sets); kernel handles take both null and INVALID_HANDLE_VALUE
// for empty.
//
// A label names the resource in a crypt_utils routine's clean-up lines
// (CallTrace::clean_up() releases labelled resources in the routine's order
// and logs them); without a call to clean_up() the release is silent.

#include <windows.h>

#include <utility>

namespace keyhaven {

template <typename T>
T zero_value()
{
    return T{};
}

inline HANDLE invalid_handle_value()
{
    return INVALID_HANDLE_VALUE;
}

// Whether value is a resource to release rather than the kind's empty value.
template <typename T, T (*Invalid)()>
bool differs_from_invalid(T value)
{
    return value != Invalid();
}

// Kernel calls answer failure with null (CreateMutexA, OpenProcessToken) or
// with INVALID_HANDLE_VALUE (CreateFileA, CreateToolhelp32Snapshot): a kernel
// handle holding either holds nothing.
inline bool real_handle(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// [[nodiscard]]: a routine that hands over a resource must not see it
// dropped unread; a deliberate discard is written as (void).
template <typename T, void (*Release)(T), T (*Invalid)() = zero_value<T>,
          bool (*Holds)(T) = differs_from_invalid<T, Invalid>>
class [[nodiscard]] Owned {
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
    [[nodiscard]] T detach()
    {
        T value = value_;
        value_ = Invalid();
        return value;
    }

    const char* label() const { return label_; }
    bool held() const { return Holds(value_); }
    // Keeps the thread's last-error value: a release on the way out of a
    // failed call must not change the code its caller is about to read.
    void free_now()
    {
        if (held()) {
            const DWORD error = GetLastError();
            Release(value_);
            SetLastError(error);
        }
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
inline void free_local(HLOCAL memory)
{
    LocalFree(memory);
}

using KernelHandle = Owned<HANDLE, close_handle, zero_value<HANDLE>, real_handle>;
using FileHandle = KernelHandle;
// Only closed: owning the mutex is a guard of its own, which alone releases it.
using MutexHandle = KernelHandle;
using LocalMemory = Owned<HLOCAL, free_local>;
inline void close_find(HANDLE search)
{
    FindClose(search);
}
// FindFirstFileA answers failure with INVALID_HANDLE_VALUE only.
using FindHandle = Owned<HANDLE, close_find, invalid_handle_value>;
inline void close_key(HKEY key)
{
    RegCloseKey(key);
}
using RegistryKey = Owned<HKEY, close_key>;

// Ownership of a mutex as a creation or a wait gave it, or did not: the
// mutex is released only when owned, then its handle is closed.
class [[nodiscard]] MutexOwnership {
public:
    MutexOwnership() = default;
    MutexOwnership(MutexHandle handle, bool owned) : handle_(std::move(handle)), owned_(owned && handle_.held()) {}
    ~MutexOwnership() { give_up(); }
    MutexOwnership(MutexOwnership&& other) noexcept
        : handle_(std::move(other.handle_)), owned_(std::exchange(other.owned_, false))
    {
    }
    MutexOwnership& operator=(MutexOwnership&& other) noexcept
    {
        if (this != &other) {
            give_up();
            handle_ = std::move(other.handle_);
            owned_ = std::exchange(other.owned_, false);
        }
        return *this;
    }

    bool held() const { return handle_.held(); }
    bool owned() const { return owned_; }
    HANDLE get() const { return handle_.get(); }
    // Releases the mutex if owned and closes the handle, keeping the
    // thread's last-error value as Owned does.
    void give_up()
    {
        if (owned_) {
            const DWORD error = GetLastError();
            ReleaseMutex(handle_.get());
            SetLastError(error);
            owned_ = false;
        }
        handle_.free_now();
    }

private:
    MutexHandle handle_;
    bool owned_ = false;
};

}  // namespace keyhaven
