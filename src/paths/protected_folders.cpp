#include "paths/protected_folders.hpp"

#include "common/windows_error.hpp"
#include "paths/path_elements.hpp"
#include "paths/path_forms.hpp"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* CURRENT_VERSION = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* PROFILE_LIST = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr const char* SYSTEM_DRIVE = "%SystemDrive%";

// A folder no mount may cover, in canonical form, with the words that name it in a refusal.
struct ProtectedFolder {
    std::string name;
    WideString canonical;
    bool inside_refused; // a directory inside it is refused too
};

using Folders = std::vector<ProtectedFolder>;

[[nodiscard]] Win32Result<WideString> windows_directory() {
    return grown_text([](LPWSTR buffer, DWORD size) {
        return GetSystemWindowsDirectoryW(buffer, static_cast<UINT>(size));
    });
}

// The folder a userenv call writes. Given a buffer too small, such a call fails with
// ERROR_INSUFFICIENT_BUFFER and gives the size needed, with the NUL.
template <class Call>
[[nodiscard]] Win32Result<std::optional<WideString>> userenv_folder(Call call) {
    WideString buffer(MAX_PATH, WCHAR{});
    for (;;) {
        auto size = static_cast<DWORD>(buffer.size());
        if (call(buffer.data(), &size) != FALSE) {
            buffer.resize(std::min(buffer.find(WCHAR{}), buffer.size()));
            return buffer;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size()) {
            return std::unexpected(error);
        }
        buffer.assign(size, WCHAR{});
    }
}

// `value` with each "%SystemDrive%", whatever its case, replaced by `drive`.
WideString expand_system_drive(WideStringView value, WideStringView drive) {
    const WideString variable = to_wide(SYSTEM_DRIVE);
    const auto length = static_cast<int>(variable.size());
    WideString expanded;
    for (std::size_t at = 0; at < value.size();) {
        if (value.size() - at >= variable.size() &&
            CompareStringOrdinal(value.data() + at, length, variable.data(), length, TRUE) ==
                CSTR_EQUAL) {
            expanded += drive;
            at += variable.size();
        } else {
            expanded.push_back(value[at++]);
        }
    }
    return expanded;
}

// A documented text value under HKEY_LOCAL_MACHINE, or nothing when the system has none. The call
// is kept from expanding a REG_EXPAND_SZ itself, which it would do from the environment the host
// passed: "%SystemDrive%" is the drive of the Windows directory, `system_drive`.
[[nodiscard]] Win32Result<std::optional<WideString>>
machine_value(const char* key, const char* name, WideStringView system_drive) {
    const WideString wide_key = to_wide(key);
    const WideString wide_name = to_wide(name);
    WideString buffer(MAX_PATH, WCHAR{});
    DWORD type = 0;
    for (;;) {
        auto size = static_cast<DWORD>(buffer.size() * sizeof(WCHAR));
        const LSTATUS read = RegGetValueW(HKEY_LOCAL_MACHINE, wide_key.c_str(), wide_name.c_str(),
                                          RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                          &type, buffer.data(), &size);
        if (read == ERROR_FILE_NOT_FOUND) {
            return std::nullopt;
        }
        if (read == ERROR_MORE_DATA && size > buffer.size() * sizeof(WCHAR)) {
            buffer.assign(size / sizeof(WCHAR) + 1, WCHAR{});
            continue;
        }
        if (read != ERROR_SUCCESS) {
            return std::unexpected(static_cast<DWORD>(read));
        }
        buffer.resize(std::min<std::size_t>(buffer.find(WCHAR{}), size / sizeof(WCHAR)));
        return type == REG_EXPAND_SZ ? expand_system_drive(buffer, system_drive) : buffer;
    }
}

// Adds the folder that `located` names, made canonical. A folder the system does not have (no
// such value, no such directory) protects nothing; any other failure ends the check, as a root
// left unread could be granted.
[[nodiscard]] Result<void> add_folder(Folders& folders, const std::string& name,
                                      const Win32Result<std::optional<WideString>>& located,
                                      bool inside_refused) {
    if (!located) {
        return std::unexpected(win32_failure("cannot locate " + name, located.error()));
    }
    const std::optional<WideString>& found = *located;
    if (!found.has_value()) {
        return {};
    }
    const WideString& folder = found.value();
    // A relative value would be taken against the launcher's current directory.
    if (!is_absolute_path(folder)) {
        return std::unexpected(win32_failure("cannot locate " + name, ERROR_BAD_PATHNAME));
    }
    auto canonical = canonical_path(folder);
    if (!canonical) {
        if (canonical.error() == ERROR_FILE_NOT_FOUND ||
            canonical.error() == ERROR_PATH_NOT_FOUND) {
            return {};
        }
        return std::unexpected(os_error_failure(
            "cannot resolve " + name + " " + display_path(folder), canonical.error()));
    }
    folders.push_back({name, std::move(*canonical), inside_refused});
    return {};
}

// A folder named by the registry or by userenv: where the system says it is, if anywhere.
struct NamedFolder {
    const char* name;
    std::function<Win32Result<std::optional<WideString>>()> locate;
    bool inside_refused;
};

// The Windows directory must be known: its volume's root is protected too, and its drive is the
// one "%SystemDrive%" names.
[[nodiscard]] Result<Folders> read_protected_folders() {
    const std::string windows_name = "the Windows directory";
    const auto windows = windows_directory();
    if (!windows) {
        return std::unexpected(win32_failure("cannot locate " + windows_name, windows.error()));
    }
    auto windows_canonical = canonical_path(*windows);
    if (!windows_canonical) {
        return std::unexpected(
            os_error_failure("cannot resolve " + windows_name + " " + display_path(*windows),
                             windows_canonical.error()));
    }
    // A final path begins with its prefix ("\\?\C:") and its root.
    const auto parts = path_elements(*windows_canonical);
    const WideString drive = to_wide(display_path(parts[0].text(*windows_canonical)));
    const WideString root = windows_canonical->substr(0, parts[1].offset + parts[1].length);
    Folders folders{{"the system volume's root", root, false},
                    {windows_name, std::move(*windows_canonical), true}};

    const auto program_files = [&drive](const char* value) {
        return [&drive, value] { return machine_value(CURRENT_VERSION, value, drive); };
    };
    const NamedFolder named[] = {
        {"a Program Files directory", program_files("ProgramFilesDir"), true},
        {"a Program Files directory", program_files("ProgramFilesDir (x86)"), true},
        {"a Program Files directory", program_files("ProgramW6432Dir"), true},
        {"the ProgramData directory",
         [&drive] { return machine_value(PROFILE_LIST, "ProgramData", drive); }, false},
        {"the user profiles folder",
         [] {
             return userenv_folder(
                 [](LPWSTR buffer, LPDWORD size) { return GetProfilesDirectoryW(buffer, size); });
         },
         false},
        {"the calling user's profile",
         [] {
             return userenv_folder([](LPWSTR buffer, LPDWORD size) {
                 return GetUserProfileDirectoryW(GetCurrentProcessToken(), buffer, size);
             });
         },
         false},
    };
    for (const auto& folder : named) {
        if (auto added = add_folder(folders, folder.name, folder.locate(), folder.inside_refused);
            !added) {
            return std::unexpected(added.error());
        }
    }
    return folders;
}

// Why `directory` may not be a mount, or nothing: being a protected folder comes first, then lying
// inside one, then holding one.
std::optional<std::string> refusal(const WideString& directory, const Folders& folders) {
    for (const auto& folder : folders) {
        if (lies_within(directory, folder.canonical) && lies_within(folder.canonical, directory)) {
            return folder.name;
        }
    }
    for (const auto& folder : folders) {
        if (folder.inside_refused && lies_within(directory, folder.canonical)) {
            return "inside " + folder.name;
        }
    }
    for (const auto& folder : folders) {
        if (lies_within(folder.canonical, directory)) {
            return "holds " + folder.name;
        }
    }
    return std::nullopt;
}

} // namespace

Result<void> check_unprotected_mounts(const WideString& project, const WideString& scratch) {
    const auto folders = read_protected_folders();
    if (!folders) {
        return std::unexpected(folders.error());
    }
    for (const WideString* directory : {&project, &scratch}) {
        if (const auto why = refusal(*directory, *folders)) {
            return failure("sandbox mount covers a protected system or profile folder: " +
                           display_path(*directory) + " (" + *why + ")");
        }
    }
    return {};
}
