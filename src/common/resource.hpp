// Move-only owners of Windows resources, one alias per kind, named for what releases them.
// Releasing never changes the thread's last-error value, so a failure text read after a cleanup
// still reports the call that failed.
#pragma once

#include "platform/win32.hpp"

#include <utility>

template <class T, class Release> class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueResource() { reset(); }

    [[nodiscard]] T get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }

    // For out-parameters: releases what is held and hands out the slot.
    T* put() {
        reset();
        return &value_;
    }

    T release() { return std::exchange(value_, T{}); }

    void reset(T value = T{}) {
        if (value_ != T{}) {
            const DWORD error = GetLastError();
            Release{}(value_);
            SetLastError(error);
        }
        value_ = value;
    }

private:
    T value_{};
};

struct CloseHandleRelease {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct FreeSidRelease {
    void operator()(PSID sid) const { FreeSid(sid); }
};
struct LocalFreeRelease {
    void operator()(void* memory) const { LocalFree(memory); }
};

// A handle that is closed with CloseHandle; never holds INVALID_HANDLE_VALUE.
using UniqueHandle = UniqueResource<HANDLE, CloseHandleRelease>;
using UniqueSid = UniqueResource<PSID, FreeSidRelease>;
template <class T> using UniqueLocal = UniqueResource<T, LocalFreeRelease>;
