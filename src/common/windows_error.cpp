#include "common/windows_error.hpp"

#include "common/text.hpp"
#include "encoding/hex.hpp"

#include <cstdint>
#include <iterator>

SandboxFailure win32_failure(std::string_view what) {
    return win32_failure(what, GetLastError());
}

SandboxFailure win32_failure(std::string_view what, DWORD code) {
    return {std::string(what) + ": Win32 " + std::to_string(code),
            WindowsCode{WindowsCode::Kind::Win32, code}};
}

SandboxFailure hresult_failure(std::string_view what, HRESULT result) {
    return {std::string(what) + ": HRESULT " + hex(static_cast<std::uint32_t>(result)),
            WindowsCode{WindowsCode::Kind::Hresult, static_cast<std::uint32_t>(result)}};
}

SandboxFailure os_error_failure(std::string_view what, DWORD code) {
    return {std::string(what) + ": " + os_error_text(code),
            WindowsCode{WindowsCode::Kind::Win32, code}};
}

std::string os_error_text(DWORD code) {
    return system_message(code) + " (os error " + std::to_string(code) + ")";
}

std::string system_message(DWORD code) {
    WCHAR buffer[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, // the system's message table
                                  code,
                                  0, // the user's language
                                  buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    while (length > 0 && (buffer[length - 1] == WCHAR('\r') || buffer[length - 1] == WCHAR('\n') ||
                          buffer[length - 1] == WCHAR(' '))) {
        --length;
    }
    return length > 0 ? to_utf8(WideStringView(buffer, length))
                      : "unknown error " + std::to_string(code);
}
