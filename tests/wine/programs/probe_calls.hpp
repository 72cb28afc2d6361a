// What the isolation probes try, from inside the AppContainer (probe_child.cpp) and from the test:
// each returns "allowed" or "refused <last error>".
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

inline std::string refused(DWORD error) {
    return "refused " + std::to_string(error);
}

// A junction at `link`, a new directory, onto the directory `target`.
inline std::string make_junction(const std::wstring& link, const std::wstring& target) {
    if (CreateDirectoryW(link.c_str(), nullptr) == FALSE) {
        return refused(GetLastError());
    }
    // The driver kit's REPARSE_DATA_BUFFER for a mount point: the NT path that the junction
    // substitutes, then the name it prints, each followed by a NUL.
    const std::wstring names = L"\\??\\" + target + L'\0' + target + L'\0';
    const auto name_bytes = static_cast<WORD>(names.size() * sizeof(WCHAR));
    const WORD fields[] = {static_cast<WORD>(8 + name_bytes),
                           0,
                           0,
                           static_cast<WORD>((target.size() + 4) * sizeof(WCHAR)),
                           static_cast<WORD>((target.size() + 5) * sizeof(WCHAR)),
                           static_cast<WORD>(target.size() * sizeof(WCHAR))};
    std::vector<char> data(sizeof(DWORD) + sizeof(fields) + name_bytes);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(data.data(), &tag, sizeof(tag));
    std::memcpy(data.data() + sizeof(tag), fields, sizeof(fields));
    std::memcpy(data.data() + sizeof(tag) + sizeof(fields), names.data(), name_bytes);
    const HANDLE directory =
        CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    const bool made =
        directory != INVALID_HANDLE_VALUE &&
        DeviceIoControl(directory, FSCTL_SET_REPARSE_POINT, data.data(),
                        static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr) != FALSE;
    const DWORD error = GetLastError();
    CloseHandle(directory);
    if (!made) {
        RemoveDirectoryW(link.c_str());
    }
    return made ? "allowed" : refused(error);
}

// Puts `text` on the clipboard, owned by a message-only window: the clipboard takes data only from
// an owner that emptied it.
inline std::string set_clipboard_text(const std::wstring& text) {
    const HWND owner = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       nullptr, nullptr);
    if (owner == nullptr || OpenClipboard(owner) == FALSE) {
        const DWORD error = GetLastError();
        DestroyWindow(owner);
        return refused(error);
    }
    const SIZE_T size = (text.size() + 1) * sizeof(WCHAR);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    std::memcpy(GlobalLock(memory), text.c_str(), size);
    GlobalUnlock(memory);
    const bool set =
        EmptyClipboard() != FALSE && SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    const DWORD error = GetLastError();
    if (!set) {
        GlobalFree(memory);
    }
    CloseClipboard();
    DestroyWindow(owner);
    return set ? "allowed" : refused(error);
}
