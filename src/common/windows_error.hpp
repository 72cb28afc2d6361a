// The texts of Windows errors, and the failures built from them: every "Win32 <code>", HRESULT
// and system-message text of the system comes from here.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"
#include "platform/win32.hpp"

#include <string>
#include <string_view>

// A Win32 error code, for the calls whose failures callers word themselves.
template <class T> using Win32Result = std::expected<T, DWORD>;

// The text that `call(buffer, size)` writes, for the calls that give the length written (without
// the NUL) when the buffer holds it, the size needed (with the NUL) when it does not, and 0 on
// failure, which gives the thread's last error. The buffer grows until the text fits.
template <class Call> [[nodiscard]] Win32Result<WideString> grown_text(Call call) {
    WideString buffer(MAX_PATH, WCHAR{});
    for (;;) {
        const std::size_t length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::unexpected(GetLastError());
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length); // too small: the size needed, with the NUL
    }
}

// Each failure built here carries its code as well, for the run's report.

// "<what>: Win32 <last-error value>", the value read before anything else can change it: call it
// right after the call that failed.
SandboxFailure win32_failure(std::string_view what);

// "<what>: Win32 <code>", for the calls that return their error code.
SandboxFailure win32_failure(std::string_view what, DWORD code);

// "<what>: HRESULT 0x<hex>".
SandboxFailure hresult_failure(std::string_view what, HRESULT result);

// "<what>: <the system's message> (os error <code>)".
SandboxFailure os_error_failure(std::string_view what, DWORD code);

// The system's message for `code` without its line break, then " (os error <code>)".
std::string os_error_text(DWORD code);

// The system's message for `code` without its line break ("unknown error <code>" when there is
// none).
std::string system_message(DWORD code);
