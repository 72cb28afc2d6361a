// The DOS device table: drive letters and other device names, each with its definitions, newest
// last, as DefineDosDeviceW stacks them.
#include "platform/simulated/file_system.hpp"

namespace sim::detail {
namespace {

struct DosDevices {
    std::map<std::u16string, std::vector<std::u16string>> definitions; // by folded name
    std::vector<std::u16string> protected_devices;                     // defined at system start
};

DosDevices& dos_devices() {
    static DosDevices instance;
    return instance;
}

constexpr FlagName DEFINITION_FLAGS[] = {
    {DDD_RAW_TARGET_PATH, "DDD_RAW_TARGET_PATH"},
    {DDD_REMOVE_DEFINITION, "DDD_REMOVE_DEFINITION"},
    {DDD_EXACT_MATCH_ON_REMOVE, "DDD_EXACT_MATCH_ON_REMOVE"},
    {DDD_NO_BROADCAST_SYSTEM, "DDD_NO_BROADCAST_SYSTEM"},
};

bool is_protected(const std::u16string& device) {
    return std::ranges::find(dos_devices().protected_devices, device) !=
           dos_devices().protected_devices.end();
}

// What QueryDosDeviceW gives: the definitions newest first, each NUL-terminated, then one more
// NUL.
std::u16string listing_of(const std::vector<std::u16string>& definitions) {
    std::u16string listing;
    for (auto it = definitions.rbegin(); it != definitions.rend(); ++it) {
        listing += *it;
        listing.push_back(0);
    }
    listing.push_back(0);
    return listing;
}

// Removes the newest definition that `raw` names (every one matches an empty `raw`): the one
// equal to it with DDD_EXACT_MATCH_ON_REMOVE, else one that starts with it.
bool remove_definition(std::vector<std::u16string>& definitions, const std::u16string& raw,
                       DWORD flags) {
    for (auto it = definitions.rbegin(); it != definitions.rend(); ++it) {
        const bool matches =
            raw.empty() ||
            ((flags & DDD_EXACT_MATCH_ON_REMOVE) != 0 ? *it == raw : it->starts_with(raw));
        if (matches) {
            definitions.erase(std::next(it).base());
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::u16string> dos_device_target(std::u16string_view device) {
    const auto& table = dos_devices().definitions;
    const auto found = table.find(std::u16string(device));
    if (found == table.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second.back();
}

void define_volume_letter(std::u16string device, std::u16string target) {
    dos_devices().definitions[device] = {std::move(target)};
    dos_devices().protected_devices.push_back(std::move(device));
}

void reset_dos_devices() {
    dos_devices() = DosDevices{};
}

} // namespace sim::detail

using namespace sim::detail;

DWORD QueryDosDeviceW(LPCWSTR device_name, LPWSTR target_path, DWORD max) {
    if (device_name == nullptr) {
        not_modelled("QueryDosDeviceW of every device");
    }
    const std::u16string_view name(device_name);
    const Call call("QueryDosDeviceW", utf8(name) + " " + std::to_string(max), name);
    if (const auto failed = call.failed<DWORD>()) {
        return *failed;
    }
    const auto& table = dos_devices().definitions;
    const auto found = table.find(fold_case(name));
    if (found == table.end() || found->second.empty()) {
        set_last_error(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    const std::u16string listing = listing_of(found->second);
    if (listing.size() > max) {
        set_last_error(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::ranges::copy(listing, target_path);
    return static_cast<DWORD>(listing.size());
}

BOOL DefineDosDeviceW(DWORD flags, LPCWSTR device_name, LPCWSTR target_path) {
    const std::u16string_view name(device_name);
    const std::u16string target = target_path == nullptr ? u"" : std::u16string(target_path);
    const Call call("DefineDosDeviceW",
                    flag_names(flags, DEFINITION_FLAGS) + " " + utf8(name) + " " + utf8(target),
                    name);
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const std::u16string key = fold_case(name);
    if (is_protected(key)) {
        set_last_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::u16string raw =
        (flags & DDD_RAW_TARGET_PATH) != 0 || target.empty() ? target : u"\\??\\" + target;
    auto& definitions = dos_devices().definitions[key];
    if ((flags & DDD_REMOVE_DEFINITION) == 0) {
        definitions.push_back(raw);
        return TRUE;
    }
    if (!remove_definition(definitions, raw, flags)) {
        set_last_error(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

namespace sim {

void define_dos_device(std::string_view device, std::string_view target) {
    Guard guard;
    dos_devices().definitions[fold_case(utf16(device))].push_back(utf16(target));
}

std::vector<std::string> dos_device_targets(std::string_view device) {
    Guard guard;
    std::vector<std::string> targets;
    const auto& table = dos_devices().definitions;
    const auto found = table.find(fold_case(utf16(device)));
    if (found != table.end()) {
        for (auto it = found->second.rbegin(); it != found->second.rend(); ++it) {
            targets.push_back(utf8(*it));
        }
    }
    return targets;
}

std::vector<std::string> defined_letters() {
    Guard guard;
    std::vector<std::string> letters;
    for (const auto& [device, targets] : dos_devices().definitions) {
        if (!targets.empty() && !is_protected(device)) {
            letters.push_back(utf8(device));
        }
    }
    return letters;
}

} // namespace sim
