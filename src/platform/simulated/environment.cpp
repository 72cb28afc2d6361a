// The environment block, the command line and the standard handles of a simulated process.
#include "platform/simulated/world.hpp"

#include <algorithm>
#include <cstring>

namespace sim::detail {
namespace {

// The name of an entry: up to the first "=" found from its second character.
std::u16string_view entry_name(std::u16string_view entry) {
    const auto equals = entry.find(u'=', 1);
    return equals == std::u16string_view::npos ? entry : entry.substr(0, equals);
}

// Orders two names as the block is sorted: unit by unit, without regard to case. Every lookup
// walks the whole block, so the names are compared in place, not copied.
int compare_names(std::u16string_view a, std::u16string_view b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] == b[i]) {
            continue;
        }
        const char16_t x = fold_unit(a[i]);
        const char16_t y = fold_unit(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Whether two names of the same length are equal without regard to case. Names often share a
// prefix ("NORIX_", "PROCESSOR_"), so the comparison starts at their ends.
bool same_name(std::u16string_view a, std::u16string_view b) {
    for (std::size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i] && fold_unit(a[i]) != fold_unit(b[i])) {
            return false;
        }
    }
    return true;
}

std::vector<std::u16string>::iterator find_entry(std::vector<std::u16string>& environment,
                                                 std::u16string_view name) {
    if (name.empty() || name.find(u'=', 1) != std::u16string_view::npos) {
        return environment.end(); // no entry has such a name
    }
    // An entry has this name when its "=" stands right after it; only then are the names
    // compared, so a lookup costs one unit per entry for most of the block.
    return std::ranges::find_if(environment, [&](const std::u16string& entry) {
        return entry.size() > name.size() && entry[name.size()] == u'=' &&
               same_name(std::u16string_view(entry).substr(0, name.size()), name);
    });
}

} // namespace

void reset_environment() {
    auto& process = current_process();
    process.environment = {u"=C:=C:\\", u"ProgramFiles=C:\\Program Files",
                           u"ProgramFiles(x86)=C:\\Program Files (x86)", u"SystemRoot=C:\\Windows"};
    process.command_line = u"norix-native-sandbox.exe";
}

} // namespace sim::detail

using namespace sim::detail;

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    const std::u16string_view wanted(name);
    const Call call("GetEnvironmentVariableW", utf8(wanted), wanted);
    if (const auto failed = call.failed<DWORD>()) {
        return *failed;
    }
    auto& environment = current_process().environment;
    const auto found = find_entry(environment, wanted);
    if (found == environment.end()) {
        set_last_error(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const std::u16string_view value =
        std::u16string_view(*found).substr(entry_name(*found).size() + 1);
    const DWORD copied = copy_out(value, buffer, size);
    if (copied == value.size()) {
        set_last_error(0);
    }
    return copied;
}

BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
    const std::u16string_view key(name);
    const Call call("SetEnvironmentVariableW",
                    utf8(key) + "=" + (value == nullptr ? "(removed)" : utf8(value)), key);
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    if (key.empty() || key.find(u'=', 1) != std::u16string_view::npos) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& environment = current_process().environment;
    const auto found = find_entry(environment, key);
    if (value == nullptr) {
        if (found != environment.end()) {
            environment.erase(found);
        }
        return TRUE;
    }
    std::u16string entry = std::u16string(key) + u"=" + std::u16string(value);
    if (found != environment.end()) {
        *found = std::move(entry);
        return TRUE;
    }
    // Windows keeps the block sorted by name, without regard to case.
    const auto position = std::ranges::find_if(environment, [&](const std::u16string& other) {
        return compare_names(entry_name(other), key) > 0;
    });
    environment.insert(position, std::move(entry));
    return TRUE;
}

LPWSTR GetEnvironmentStringsW() {
    const Call call("GetEnvironmentStringsW");
    if (call.failed<LPWSTR>()) {
        return nullptr;
    }
    std::u16string block;
    for (const auto& entry : current_process().environment) {
        block += entry;
        block.push_back(0);
    }
    block.push_back(0);
    auto* copy = new WCHAR[block.size()];
    std::ranges::copy(block, copy);
    world().local_allocations[copy] = "environment block";
    return copy;
}

BOOL FreeEnvironmentStringsW(LPWSTR block) {
    const Call call("FreeEnvironmentStringsW");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    auto& blocks = world().local_allocations;
    const auto found = blocks.find(block);
    if (found == blocks.end() || found->second != "environment block") {
        not_modelled("FreeEnvironmentStringsW of a block that GetEnvironmentStringsW did not give");
    }
    blocks.erase(found);
    delete[] block;
    return TRUE;
}

LPWSTR GetCommandLineW() {
    Guard guard;
    return current_process().command_line.data();
}

HANDLE GetStdHandle(DWORD std_handle) {
    Guard guard;
    const DWORD index = STD_INPUT_HANDLE - std_handle; // input 0, output 1, error 2
    if (index > 2) {
        not_modelled("GetStdHandle of " + hex(std_handle));
    }
    return current_process().std_handles[index];
}

BOOL SetStdHandle(DWORD std_handle, HANDLE handle) {
    Guard guard;
    const DWORD index = STD_INPUT_HANDLE - std_handle;
    if (index > 2) {
        not_modelled("SetStdHandle of " + hex(std_handle));
    }
    Process& process = current_process();
    process.std_handles[index] = handle;
    process.std_streams[index] = object_as<Stream>(handle);
    return TRUE;
}

DWORD GetFileType(HANDLE file) {
    Guard guard;
    const auto object = object_of(file);
    if (!object) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    set_last_error(0);
    return object->file_type();
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
    Guard guard;
    const auto stream = object_as<Stream>(console);
    if (!stream || stream->type != sim::StreamKind::Console) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *mode = 0x3; // processed and line-wrapped output
    return TRUE;
}

BOOL WriteConsoleW(HANDLE console, const void* buffer, DWORD chars_to_write, LPDWORD chars_written,
                   LPVOID /*reserved*/) {
    const Call call("WriteConsoleW", std::to_string(chars_to_write));
    if (chars_written != nullptr) {
        *chars_written = 0;
    }
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto stream = object_as<Stream>(console);
    if (!stream || stream->type != sim::StreamKind::Console) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::u16string_view text(static_cast<const char16_t*>(buffer), chars_to_write);
    if (const DWORD error = stream->write(utf8(text)); error != 0) {
        set_last_error(error);
        return FALSE;
    }
    if (chars_written != nullptr) {
        *chars_written = chars_to_write;
    }
    return TRUE;
}

namespace sim {

void set_environment(const std::vector<std::string>& entries) {
    Guard guard;
    auto& environment = current_process().environment;
    environment.clear();
    for (const auto& entry : entries) {
        environment.push_back(utf16(entry));
    }
}

std::vector<std::string> environment() {
    Guard guard;
    std::vector<std::string> entries;
    for (const auto& entry : current_process().environment) {
        entries.push_back(utf8(entry));
    }
    return entries;
}

} // namespace sim
