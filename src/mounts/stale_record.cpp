#include "mounts/stale_record.hpp"

#include "common/windows_error.hpp"
#include "mounts/drive_mapping.hpp"
#include "paths/path_forms.hpp"

#include <algorithm>
#include <expected>
#include <ranges>
#include <string>

namespace {

// Far beyond any stack of definitions on one letter: a QueryDosDeviceW that still asks for more
// is a failure, not a reason to grow without end.
constexpr DWORD MAX_LISTING = 1U << 20;

// The rest of the open file, or the Win32 error of the read that failed.
[[nodiscard]] Win32Result<std::string> read_all(HANDLE file) {
    std::string content;
    char chunk[4096];
    // A read at the end of the file succeeds with no bytes.
    for (DWORD read = 1; read != 0;) {
        if (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) == FALSE) { // not overlapped
            return std::unexpected(GetLastError());
        }
        content.append(chunk, read);
    }
    return content;
}

// Every target defined on `drive`, newest first; none when the letter is not defined.
[[nodiscard]] Result<std::vector<std::string>> drive_targets(const std::string& drive) {
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

// Removes the recorded definition if the letter still holds it, beneath others or not.
[[nodiscard]] Result<LetterFate> remove_if_still_defined(const RecordedMount& mount) {
    const auto targets = drive_targets(mount.drive);
    if (!targets) {
        return std::unexpected(targets.error());
    }
    if (targets->empty()) {
        return LetterFate::NoLongerDefined;
    }
    if (std::ranges::find(*targets, mount.target) == targets->end()) {
        return LetterFate::MapsElsewhere;
    }
    if (!remove_drive_definition(mount.drive, mount.target)) {
        return std::unexpected(win32_failure("cannot remove the " + mount.drive + " definition"));
    }
    return LetterFate::Removed;
}

} // namespace

std::string_view fate_text(LetterFate fate) {
    switch (fate) {
    case LetterFate::Removed:
        return "removed";
    case LetterFate::MapsElsewhere:
        return "left, the letter now maps elsewhere";
    case LetterFate::NoLongerDefined:
        break;
    }
    return "left, the letter is no longer defined";
}

Result<StandingRecord> StandingRecord::open(const WideString& path) {
    std::string shown = display_path(path);
    const auto unreadable = [&shown](DWORD error) {
        return std::unexpected(os_error_failure("cannot read mount record " + shown, error));
    };
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                nullptr, // no security attributes
                                OPEN_EXISTING,
                                // The link itself, and a directory link too.
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                nullptr)); // no template file
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return StandingRecord(State::Absent, std::move(shown), {}, {});
        }
        if (error == ERROR_SHARING_VIOLATION) {
            return StandingRecord(State::Held, std::move(shown), {}, {});
        }
        return unreadable(error);
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(file.get(), &information) == FALSE) {
        return unreadable(GetLastError());
    }
    State state = State::Record;
    RecordedMounts mounts;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        state = State::Link;
    } else if (information.nNumberOfLinks > 1) {
        state = State::MoreNames;
    } else {
        const auto bytes = read_all(file.get());
        if (!bytes) {
            return unreadable(bytes.error());
        }
        const auto parsed = parse_mount_record(*bytes);
        if (parsed) {
            mounts = *parsed;
        } else {
            state = State::Malformed;
        }
    }
    return StandingRecord(state, std::move(shown), std::move(file), std::move(mounts));
}

Result<void> StandingRecord::remove_letters(std::vector<LetterOutcome>& outcomes) const {
    for (const RecordedMount& mount : mounts_) {
        const auto fate = remove_if_still_defined(mount);
        if (!fate) {
            return std::unexpected(fate.error());
        }
        outcomes.push_back({mount, *fate});
    }
    return {};
}

Result<bool> StandingRecord::still_mounts_scratch(const std::string& scratch_target) const {
    const RecordedMount& scratch = mounts_[1];
    if (scratch.target != scratch_target) {
        return false;
    }
    const auto targets = drive_targets(scratch.drive);
    if (!targets) {
        return std::unexpected(targets.error());
    }
    return std::ranges::find(*targets, scratch_target) != targets->end();
}

Result<void> StandingRecord::remove() {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition,
                                   sizeof(disposition)) == FALSE) {
        return std::unexpected(
            os_error_failure("cannot delete mount record " + shown_, GetLastError()));
    }
    // The name goes as the handle closes.
    file_.reset();
    return {};
}
