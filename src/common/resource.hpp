// Move-only owners of Windows resources, one alias per kind, named for what releases them.
// Releasing never changes the thread's last-error value, so a failure text read after a cleanup
// still reports the call that failed.
#pragma once

#include "platform/win32.hpp"

#include <utility>

// Keeps the thread's last-error value across a release: restored when the guard goes.
class LastErrorKept {
public:
    LastErrorKept() : error_(GetLastError()) {}
    LastErrorKept(const LastErrorKept&) = delete;
    LastErrorKept& operator=(const LastErrorKept&) = delete;
    ~LastErrorKept() { SetLastError(error_); }

private:
    DWORD error_;
};

// `Traits` gives the raw type, the value that stands for none, and the release.
template <class Traits> class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(std::move(value)) {}
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

    [[nodiscard]] const Type& get() const { return value_; }
    explicit operator bool() const { return Traits::valid(value_); }

    // For out-parameters: releases what is held and hands out the slot.
    Type* put() {
        reset();
        return &value_;
    }

    Type release() { return std::exchange(value_, Traits::none()); }

    // Releases what is held and takes `value`; given what it already holds, it keeps it.
    void reset(Type value = Traits::none()) {
        if (value == value_) {
            return;
        }
        if (Traits::valid(value_)) {
            const LastErrorKept kept;
            Traits::release(value_);
        }
        value_ = std::move(value);
    }

private:
    Type value_ = Traits::none();
};

// A resource whose none is the null value, released by `Release`.
template <class T, auto Release> struct NullIsNone {
    using Type = T;
    static constexpr T none() { return T{}; }
    static bool valid(T value) { return value != T{}; }
    static void release(T value) { Release(value); }
};

// A kernel handle. Neither null nor INVALID_HANDLE_VALUE is ever a handle to close: calls that
// create handles fail with one or the other.
struct HandleTraits {
    using Type = HANDLE;
    static HANDLE none() { return nullptr; }
    static bool valid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void release(HANDLE handle) { CloseHandle(handle); }
};

// A file handle, whose none is the INVALID_HANDLE_VALUE that CreateFileW fails with.
struct FileTraits : HandleTraits {
    static HANDLE none() { return INVALID_HANDLE_VALUE; }
};

// A directory search of FindFirstFileExW, which fails with INVALID_HANDLE_VALUE too.
struct FindTraits : FileTraits {
    static void release(HANDLE search) { FindClose(search); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFile = UniqueResource<FileTraits>;
using UniqueFind = UniqueResource<FindTraits>;
using UniqueSid = UniqueResource<NullIsNone<PSID, FreeSid>>;
template <class T> using UniqueLocal = UniqueResource<NullIsNone<T, LocalFree>>;
using UniqueEnvironmentBlock =
    UniqueResource<NullIsNone<decltype(GetEnvironmentStringsW()), FreeEnvironmentStringsW>>;
