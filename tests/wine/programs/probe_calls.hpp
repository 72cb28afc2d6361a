// What both the probe child (probe_child.cpp) and the isolation probes' test call.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

inline std::string refused(DWORD error) {
    return "refused " + std::to_string(error);
}

inline bool is_link(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Puts `text` on the clipboard, owned by a message-only window: the clipboard takes data only from
// an owner that emptied it. Gives "allowed" or "refused <error>".
inline std::string set_clipboard_text(const std::wstring& text) {
    const HWND owner = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       nullptr, nullptr);
    const SIZE_T size = (text.size() + 1) * sizeof(WCHAR);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    std::memcpy(GlobalLock(memory), text.c_str(), size);
    GlobalUnlock(memory);
    const bool open = owner != nullptr && OpenClipboard(owner) != FALSE;
    const bool set =
        open && EmptyClipboard() != FALSE && SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    const DWORD error = GetLastError();
    if (!set) {
        GlobalFree(memory);
    }
    if (open) {
        CloseClipboard();
    }
    DestroyWindow(owner);
    return set ? "allowed" : refused(error);
}
