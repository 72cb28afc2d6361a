// The cross-built tests run under Wine here and natively on Windows elsewhere.
#pragma once

#include "common/text.hpp"

#include <windows.h>

#include <string>

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool running_on_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The directory of the running test binary, where the test programs sit.
inline std::string module_directory() {
    WCHAR buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    const std::string path = to_utf8(WideStringView(buffer, length));
    return path.substr(0, path.find_last_of('\\'));
}
