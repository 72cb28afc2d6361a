#include "cleanup/recorded_letters.hpp"

#include "common/resource.hpp"
#include "common/windows_error.hpp"
#include "mounts/drive_allocation_lock.hpp"
#include "mounts/drive_mapping.hpp"
#include "mounts/mount_record.hpp"
#include "paths/path_forms.hpp"

#include <algorithm>
#include <expected>
#include <ranges>
#include <string_view>
#include <vector>

namespace {

// Far beyond any stack of definitions on one letter: a QueryDosDeviceW that still asks for more
// is a failure, not a reason to grow without end.
constexpr DWORD MAX_LISTING = 1U << 20;

// The record named by the argument: a file is the record itself, a directory is a scratch
// directory with its record beside it, under the name the launcher gives it.
Result<WideString> record_path_of(const WideString& argument) {
    const auto canonical = canonical_path(argument);
    const auto attributes =
        canonical ? file_attributes(*canonical) : std::unexpected(canonical.error());
    if (!attributes) {
        return std::unexpected(
            os_error_failure("cannot resolve " + to_utf8(argument), attributes.error()));
    }
    if ((*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return *canonical;
    }
    return MountRecord::path_for_scratch(*canonical);
}

// The whole file, or the Win32 error of the call that failed.
Win32Result<std::string> read_file(const WideString& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, // default security
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                      nullptr)); // no template file
    if (!file) {
        return std::unexpected(GetLastError());
    }
    std::string content;
    char chunk[4096];
    // A read at the end of the file succeeds with no bytes.
    for (DWORD read = 1; read != 0;) {
        if (ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) == FALSE) { // not overlapped
            return std::unexpected(GetLastError());
        }
        content.append(chunk, read);
    }
    return content;
}

// Every target defined on `drive`, newest first; none when the letter is not defined.
Result<std::vector<std::string>> drive_targets(const std::string& drive) {
    const WideString name = to_wide(drive);
    for (DWORD size = MAX_PATH;; size *= 2) {
        WideString listing(size, WCHAR(0));
        const DWORD length = QueryDosDeviceW(name.c_str(), listing.data(), size);
        if (length != 0) {
            // Each target ends with a NUL, and one more NUL ends the list.
            std::vector<std::string> targets;
            for (const auto target : std::views::split(listing.substr(0, length), WCHAR(0))) {
                if (!target.empty()) {
                    targets.push_back(to_utf8(WideStringView(target.begin(), target.end())));
                }
            }
            return targets;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return {};
        }
        if (error != ERROR_INSUFFICIENT_BUFFER || size >= MAX_LISTING) {
            return std::unexpected(win32_failure("cannot query the " + drive + " definitions"));
        }
    }
}

// Removes the recorded definition if the letter still holds it, beneath others or not; says
// what became of the letter.
Result<std::string_view> remove_if_still_defined(const RecordedMount& mount) {
    const auto targets = drive_targets(mount.drive);
    if (!targets) {
        return std::unexpected(targets.error());
    }
    if (targets->empty()) {
        return "left, the letter is no longer defined";
    }
    if (std::ranges::find(*targets, mount.target) == targets->end()) {
        return "left, the letter now maps elsewhere";
    }
    if (!remove_drive_definition(mount.drive, mount.target)) {
        return std::unexpected(win32_failure("cannot remove the " + mount.drive + " definition"));
    }
    return "removed";
}

} // namespace

Result<void> remove_recorded_letters(const WideString& argument, std::string& report) {
    const auto record = record_path_of(argument);
    if (!record) {
        return std::unexpected(record.error());
    }
    // Held until the record is gone: a launcher that starts meanwhile on the same scratch
    // directory writes its own record at this path, which must not be the one deleted.
    const auto lock = DriveAllocationLock::acquire();
    if (!lock) {
        return std::unexpected(lock.error());
    }
    const std::string shown = display_path(*record);
    const auto bytes = read_file(*record);
    if (!bytes) {
        return std::unexpected(
            os_error_failure("cannot read mount record " + shown, bytes.error()));
    }
    const auto mounts = parse_mount_record(*bytes);
    if (!mounts) {
        return failure(mounts.error().message + ": " + shown);
    }
    for (const RecordedMount& mount : *mounts) {
        const auto outcome = remove_if_still_defined(mount);
        if (!outcome) {
            return std::unexpected(outcome.error());
        }
        report += mount.drive + " " + mount.target + ": " + std::string(*outcome) + "\n";
    }
    if (DeleteFileW(record->c_str()) == FALSE) {
        return std::unexpected(
            os_error_failure("cannot delete mount record " + shown, GetLastError()));
    }
    return {};
}
