// The folders Windows names for the system and for the user (kernel32, userenv) and the text
// values of the registry under HKEY_LOCAL_MACHINE that name more of them (advapi32).
#include "platform/simulated/world.hpp"

#include <map>
#include <utility>

namespace sim::detail {
namespace {

struct SystemState {
    SystemFolders folders;
    // Keys and names compare without regard to case: both are kept folded.
    std::map<std::pair<std::u16string, std::u16string>, RegistryText> registry;
};

SystemState& system_state() {
    static SystemState instance;
    return instance;
}

constexpr const char* CURRENT_VERSION = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr const char* PROFILE_LIST = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

std::pair<std::u16string, std::u16string> registry_key(std::u16string_view key,
                                                       std::u16string_view name) {
    return {fold_case(key), fold_case(name)};
}

// The size protocol of the userenv folder calls: the size in characters with the NUL, asked for
// and given back; too small (or no buffer) fails with ERROR_INSUFFICIENT_BUFFER.
BOOL give_folder(const std::string& folder, LPWSTR buffer, LPDWORD size) {
    if (size == nullptr) {
        set_last_error(ERROR_INVALID_PARAMETER); // the size is asked for and given back
        return FALSE;
    }
    const std::u16string text = utf16(folder);
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    const bool fits = buffer != nullptr && *size >= needed;
    *size = needed;
    if (!fits) {
        set_last_error(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    put_text(text, buffer);
    return TRUE;
}

} // namespace

void reset_system_folders() {
    auto& state = system_state();
    state = SystemState{};
    const RegistryText program_files{REG_SZ, "C:\\Program Files"};
    state.registry[registry_key(utf16(CURRENT_VERSION), u"ProgramFilesDir")] = program_files;
    state.registry[registry_key(utf16(CURRENT_VERSION), u"ProgramW6432Dir")] = program_files;
    state.registry[registry_key(utf16(CURRENT_VERSION), u"ProgramFilesDir (x86)")] = {
        REG_SZ, "C:\\Program Files (x86)"};
    state.registry[registry_key(utf16(PROFILE_LIST), u"ProgramData")] = {
        REG_EXPAND_SZ, "%SystemDrive%\\ProgramData"};
}

} // namespace sim::detail

using namespace sim::detail;

UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size) {
    const Call call("GetSystemWindowsDirectoryW");
    if (const auto failed = call.failed<UINT>()) {
        return *failed;
    }
    return copy_out(utf16(system_state().folders.windows), buffer, size);
}

BOOL GetProfilesDirectoryW(LPWSTR profiles_directory, LPDWORD size) {
    const Call call("GetProfilesDirectoryW");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    return give_folder(system_state().folders.profiles, profiles_directory, size);
}

// Only the token of the calling process, by its pseudo-handle, is modelled.
BOOL GetUserProfileDirectoryW(HANDLE token, LPWSTR profile_directory, LPDWORD size) {
    const bool own_token = token == GetCurrentProcessToken();
    const Call call("GetUserProfileDirectoryW", own_token ? "process-token" : "?");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    if (!own_token) {
        not_modelled("GetUserProfileDirectoryW of another token than the caller's");
    }
    return give_folder(system_state().folders.user_profile, profile_directory, size);
}

// Text values of HKEY_LOCAL_MACHINE only. A REG_EXPAND_SZ is given as stored: Windows expands it
// from the environment unless RRF_NOEXPAND is set, and that expansion is not modelled.
LSTATUS RegGetValueW(HKEY key, LPCWSTR sub_key, LPCWSTR value, DWORD flags, LPDWORD type,
                     PVOID data, LPDWORD data_size) {
    const std::u16string_view key_name(sub_key == nullptr ? u"" : sub_key);
    const std::u16string_view value_name(value == nullptr ? u"" : value);
    const Call call("RegGetValueW", utf8(key_name) + " " + utf8(value_name), value_name);
    if (const auto& fault = call.fault()) {
        return static_cast<LSTATUS>(fault->result);
    }
    if (key != HKEY_LOCAL_MACHINE) {
        not_modelled("RegGetValueW under another key than HKEY_LOCAL_MACHINE");
    }
    // Windows refuses RRF_RT_REG_EXPAND_SZ without RRF_NOEXPAND.
    const bool no_expand = (flags & RRF_NOEXPAND) != 0;
    if ((flags & RRF_RT_REG_EXPAND_SZ) != 0 && !no_expand) {
        return ERROR_INVALID_PARAMETER;
    }
    const auto& registry = system_state().registry;
    const auto found = registry.find(registry_key(key_name, value_name));
    if (found == registry.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const sim::RegistryText& stored = found->second;
    const DWORD wanted = stored.type == REG_SZ ? RRF_RT_REG_SZ : RRF_RT_REG_EXPAND_SZ;
    if ((flags & wanted) == 0) {
        return ERROR_UNSUPPORTED_TYPE;
    }
    if (stored.type == REG_EXPAND_SZ && !no_expand) {
        not_modelled("RegGetValueW expanding " + utf8(value_name));
    }
    if (type != nullptr) {
        *type = stored.type;
    }
    const std::u16string text = utf16(stored.text);
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    if (data_size == nullptr) {
        return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    const DWORD given = *data_size;
    *data_size = needed;
    if (data == nullptr) {
        return ERROR_SUCCESS;
    }
    if (given < needed) {
        return ERROR_MORE_DATA;
    }
    auto* out = static_cast<WCHAR*>(data);
    put_text(text, out);
    return ERROR_SUCCESS;
}

namespace sim {

void set_system_folders(const SystemFolders& folders) {
    Guard guard;
    system_state().folders = folders;
}

void set_registry_value(std::string_view key, std::string_view name,
                        std::optional<RegistryText> value) {
    Guard guard;
    auto& registry = system_state().registry;
    const auto at = registry_key(utf16(key), utf16(name));
    if (value) {
        registry[at] = std::move(*value);
    } else {
        registry.erase(at);
    }
}

} // namespace sim
