// What the userenv double keeps, shared with the tests that read it back: the drive letters it
// defines through Wine's mount manager, and their table.
// A letter defined with Wine's DefineDosDeviceW is only a name in the object namespace:
// files cannot be reached through it. A drive of the mount manager can be, and outlives the
// process that made it (a symlink in $WINEPREFIX/dosdevices), so the table of what each letter
// stands for lives in the prefix's registry, where every process of the prefix sees it.
#pragma once

#include <windows.h>

#include <winioctl.h>

#include <cstring>
#include <string>

namespace userenv_double {

// The table's key and the mount manager are opened once per process and left for its end to
// close: a run looks letters up several times, and each open of the mount manager is a request
// to the process that serves it.
inline HKEY table() {
    static HKEY key = nullptr;
    if (key == nullptr) {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Norix\\UserenvDoubleDrives", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    }
    return key;
}

// The raw target ("\??\C:\dir") that the double defined `letter` onto, or "" when none.
inline std::wstring target_of(wchar_t letter) {
    const wchar_t name[] = {static_cast<wchar_t>(towupper(letter)), L':', L'\0'};
    wchar_t target[1024];
    DWORD size = sizeof(target);
    const LSTATUS read =
        RegGetValueW(table(), nullptr, name, RRF_RT_REG_SZ, nullptr, target, &size);
    return read == ERROR_SUCCESS ? std::wstring(target) : std::wstring();
}

// Wine's IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE with its input; the Unix path follows the structure.
inline bool mount_manager_drive(wchar_t letter, UINT type, const char* unix_path) {
    struct Request {
        ULONG size, type, fs_type;
        DWORD serial;
        ULONGLONG unix_dev;
        WCHAR letter;
        USHORT mount_point_offset, device_offset, label_offset;
    };
    struct {
        Request request;
        char path[4096];
    } input{};
    input.request.type = type;
    input.request.letter = static_cast<WCHAR>(towlower(letter));
    if (unix_path != nullptr) {
        input.request.mount_point_offset = sizeof(Request);
        std::strncpy(input.path, unix_path, sizeof(input.path) - 1);
    }
    input.request.size = static_cast<ULONG>(sizeof(Request) + std::strlen(input.path) + 1);
    static const HANDLE manager =
        CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD returned = 0;
    return DeviceIoControl(manager,
                           CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS),
                           &input, input.request.size, nullptr, 0, &returned, nullptr) != FALSE;
}

// Removes the drive and its entry in the table.
inline bool remove(wchar_t letter) {
    const wchar_t name[] = {static_cast<wchar_t>(towupper(letter)), L':', L'\0'};
    return mount_manager_drive(letter, DRIVE_NO_ROOT_DIR, nullptr) &&
           RegDeleteValueW(table(), name) == ERROR_SUCCESS;
}

} // namespace userenv_double
