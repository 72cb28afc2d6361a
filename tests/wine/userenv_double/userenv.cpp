// A stand-in for userenv.dll under Wine, loaded in place of Wine's own with
// WINEDLLOVERRIDES="userenv=n,b" from the directory of the program under test. On Windows it is
// never loaded.
//
// Profiles: Wine's CreateAppContainerProfile is not implemented. The double keeps no profiles:
// every one is created afresh, with one SID for every name (a profile that exists already, and its
// derived SID, are the simulated Windows' to show).
//
// The profile folders: replacing the whole DLL, the double also gives GetProfilesDirectoryW and
// GetUserProfileDirectoryW, from the calling process's USERPROFILE (Wine's own userenv reads the
// registry of the prefix, which names the same folders).
//
// A whole run: when loaded under Wine, DllMain replaces four of the importing program's
// import-table slots (the loader has filled them before it runs), so the unchanged launcher runs
// its child to the end:
// - UpdateProcThreadAttribute accepts the AppContainer attribute, which Wine refuses with 50,
//   without applying it: the child runs unconfined. Every other attribute (the handle list)
//   reaches Wine's as it is, so Wine's own inheritance is what the child gets.
// - DefineDosDeviceW defines a drive through Wine's mount manager, through which files can be
//   reached (double_state.hpp). Like Windows it removes only the exact definition it is given. The
//   launcher defines only letters that QueryDosDeviceW shows free, so Wine's own drives stay.
// - QueryDosDeviceW lists such a drive by its raw target, as Windows does (Wine lists a volume), so
//   that a later run recovers the letters of a killed one.
// - GetFinalPathNameByHandleW: while such a drive exists, Wine names the files below its
//   directory through it ("\\?\Y:\sub"). On Windows a letter defined onto a directory is no
//   volume, so the stand-in names the directory again ("\\?\C:\dir\sub").
// The launcher calls them only as it does on Windows (drive letters onto raw NT paths, final paths
// in DOS form); the double models nothing else.
#include "double_state.hpp"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

// S-1-15-2 and seven sub-authorities: no test under Wine tells profiles apart (Wine stores no
// grant).
HRESULT give_sid(PSID* sid) {
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, 15}};
    return AllocateAndInitializeSid(&authority, 8, 2, 1, 2, 3, 4, 5, 6, 7, sid) != FALSE
               ? S_OK
               : HRESULT_FROM_WIN32(GetLastError());
}

// The double's own imports are Wine's: it patches only the program's.
BOOL WINAPI update_attribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
                             PVOID value, SIZE_T size, PVOID previous, PSIZE_T returned) {
    return attribute == PROC_THREAD_ATTRIBUTE_SECURITY_CAPABILITIES
               ? TRUE
               : UpdateProcThreadAttribute(list, flags, attribute, value, size, previous, returned);
}

BOOL WINAPI define_device(DWORD flags, LPCWSTR name, LPCWSTR target) {
    if ((flags & DDD_REMOVE_DEFINITION) != 0) {
        if (userenv_double::target_of(name[0]) != target) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        return userenv_double::remove(name[0]);
    }
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* const unix_path = unix_name(target + 4); // after "\??\"
    const bool defined = unix_path != nullptr &&
                         userenv_double::mount_manager_drive(name[0], DRIVE_FIXED, unix_path);
    HeapFree(GetProcessHeap(), 0, unix_path);
    if (!defined) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const wchar_t drive[] = {static_cast<wchar_t>(towupper(name[0])), L':', L'\0'};
    RegSetValueExW(userenv_double::table(), drive, 0, REG_SZ, reinterpret_cast<const BYTE*>(target),
                   static_cast<DWORD>((std::wcslen(target) + 1) * sizeof(wchar_t)));
    return TRUE;
}

DWORD WINAPI query_device(LPCWSTR name, LPWSTR buffer, DWORD size) {
    const std::wstring target = userenv_double::target_of(name[0]);
    if (target.empty()) {
        return QueryDosDeviceW(name, buffer, size);
    }
    const std::wstring listing = target + L'\0'; // then the list's NUL from c_str()
    if (listing.size() + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(buffer, listing.c_str(), listing.size() + 1);
    return static_cast<DWORD>(listing.size() + 1);
}

DWORD WINAPI final_path(HANDLE file, LPWSTR buffer, DWORD size, DWORD flags) {
    std::wstring path(32768, L'\0');
    path.resize(GetFinalPathNameByHandleW(file, path.data(), 32768, flags));
    if (path.empty()) {
        return 0; // with Wine's error
    }
    const std::wstring target = path[5] == L':' ? userenv_double::target_of(path[4]) : L"";
    if (!target.empty()) {
        // "\??\C:\dir" for "\\?\Y:" + rest; the drive's root is the directory itself.
        std::wstring rest = path.substr(6);
        if (target.back() == L'\\' || rest == L"\\") {
            rest.erase(0, 1);
        }
        path = L"\\\\?\\" + target.substr(4) + rest;
    }
    if (path.size() >= size) {
        return static_cast<DWORD>(path.size() + 1);
    }
    std::wmemcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

// Points the program's import-table slots that hold kernel32's `function` at `replacement`.
template <typename Function> void replace_import(const char* function, Function replacement) {
    const auto original =
        reinterpret_cast<ULONG_PTR>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), function));
    auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto& table = reinterpret_cast<const IMAGE_NT_HEADERS*>(
                            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew)
                            ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    auto* const slots = reinterpret_cast<ULONG_PTR*>(base + table.VirtualAddress);
    DWORD protection = 0;
    VirtualProtect(slots, table.Size, PAGE_READWRITE, &protection);
    for (std::size_t i = 0; i < table.Size / sizeof(ULONG_PTR); ++i) {
        slots[i] = slots[i] == original ? reinterpret_cast<ULONG_PTR>(replacement) : slots[i];
    }
    VirtualProtect(slots, table.Size, protection, &protection);
}

// USERPROFILE, or the folder that holds it, with the size protocol of both calls: the size in
// characters with the NUL, asked for and given back; a buffer too small fails with
// ERROR_INSUFFICIENT_BUFFER.
BOOL give_profile_folder(bool of_user, LPWSTR buffer, LPDWORD size) {
    const std::wstring profile = _wgetenv(L"USERPROFILE"); // Wine sets it for every process
    const std::wstring path = of_user ? profile : profile.substr(0, profile.rfind(L'\\'));
    const auto needed = static_cast<DWORD>(path.size() + 1);
    if (*size < needed) {
        *size = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::wmemcpy(buffer, path.c_str(), needed);
    return TRUE;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH &&
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
        replace_import("UpdateProcThreadAttribute", &update_attribute);
        replace_import("DefineDosDeviceW", &define_device);
        replace_import("QueryDosDeviceW", &query_device);
        replace_import("GetFinalPathNameByHandleW", &final_path);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI
    CreateAppContainerProfile(const wchar_t* /*name*/, const wchar_t* /*display_name*/,
                              const wchar_t* /*description*/, void* /*capabilities*/,
                              DWORD /*capability_count*/, PSID* sid) {
    return give_sid(sid);
}

// The launcher imports it; with every profile new, no run calls it.
extern "C" __declspec(dllexport) HRESULT WINAPI
    DeriveAppContainerSidFromAppContainerName(const wchar_t* /*name*/, PSID* sid) {
    return give_sid(sid);
}

extern "C" __declspec(dllexport) BOOL WINAPI GetProfilesDirectoryW(LPWSTR directory, LPDWORD size) {
    return give_profile_folder(false, directory, size);
}

extern "C" __declspec(dllexport) BOOL WINAPI
    GetUserProfileDirectoryW(HANDLE /*token*/, LPWSTR directory, LPDWORD size) {
    return give_profile_folder(true, directory, size);
}
