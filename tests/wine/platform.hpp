// The cross-built tests run under Wine here and natively on Windows elsewhere.
#pragma once

#include <windows.h>

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool running_on_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
