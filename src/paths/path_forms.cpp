#include "paths/path_forms.hpp"

#include "common/resource.hpp"
#include "paths/path_elements.hpp"

namespace {

// Paths shorter than this that are already absolute open as they are; everything else goes
// through the "\\?\" form so that long paths open too.
constexpr std::size_t LEGACY_MAX_PATH = 248;

bool is_any_separator(WCHAR c) {
    return c == WCHAR('\\') || c == WCHAR('/');
}

bool opens_as_typed(WideStringView path) {
    if (starts_with_ascii(path, "\\\\?\\")) {
        return true;
    }
    if (path.size() >= LEGACY_MAX_PATH) {
        return false;
    }
    const bool drive_absolute = path.size() >= 3 && !is_any_separator(path[0]) &&
                                path[1] == WCHAR(':') && is_any_separator(path[2]);
    const bool two_separators =
        path.size() >= 2 && is_any_separator(path[0]) && is_any_separator(path[1]);
    return drive_absolute || two_separators;
}

[[nodiscard]] Win32Result<WideString> full_path(const WideString& path) {
    const auto full = grown_text([&path](LPWSTR buffer, DWORD size) {
        // An empty path fails without setting an error of its own.
        SetLastError(ERROR_SUCCESS);
        return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
    if (!full && full.error() == ERROR_SUCCESS) {
        return std::unexpected(ERROR_INVALID_NAME);
    }
    return full;
}

[[nodiscard]] Win32Result<UniqueFile> open_existing(const WideString& path) {
    UniqueFile file(CreateFileW(path.c_str(),
                                0, // no access: only the name and attributes are wanted
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, // no security attributes
                                OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, // lets directories open too
                                nullptr));                  // no template file
    if (!file) {
        return std::unexpected(GetLastError());
    }
    return file;
}

} // namespace

Win32Result<WideString> path_to_open(WideStringView path) {
    WideString typed(path);
    if (opens_as_typed(typed)) {
        return typed;
    }
    auto absolute = full_path(typed);
    if (!absolute) {
        return absolute;
    }
    if (starts_with_ascii(*absolute, "\\\\?\\")) {
        return absolute;
    }
    if (starts_with_ascii(*absolute, "\\\\.\\")) {
        return to_wide("\\\\?\\") + absolute->substr(4);
    }
    if (absolute->size() >= 2 && is_any_separator((*absolute)[0]) &&
        is_any_separator((*absolute)[1])) {
        return to_wide("\\\\?\\UNC\\") + absolute->substr(2);
    }
    return to_wide("\\\\?\\") + *absolute;
}

std::string display_path(WideStringView path) {
    if (starts_with_ascii(path, "\\\\?\\UNC\\")) {
        return "\\\\" + to_utf8(path.substr(8));
    }
    if (starts_with_ascii(path, "\\\\?\\")) {
        return to_utf8(path.substr(4));
    }
    return to_utf8(path);
}

Win32Result<WideString> canonical_path(WideStringView path) {
    const auto target = path_to_open(path);
    if (!target) {
        return std::unexpected(target.error());
    }
    const auto file = open_existing(*target);
    if (!file) {
        return std::unexpected(file.error());
    }
    return final_path(file->get());
}

Win32Result<WideString> final_path(HANDLE file) {
    return grown_text([file](LPWSTR buffer, DWORD size) {
        return GetFinalPathNameByHandleW(file, buffer, size,
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
}

Win32Result<WideString> canonical_path_as_named(WideStringView path) {
    const auto target = path_to_open(path);
    if (!target) {
        return target;
    }
    const auto elements = path_elements(*target);
    if (elements.size() < 2 || elements.back().kind != PathElement::Kind::Name) {
        return canonical_path(*target);
    }
    const auto folder = canonical_path(WideStringView(*target).substr(0, elements.back().offset));
    if (!folder) {
        return folder;
    }
    return join_path(*folder, elements.back().text(*target));
}

Win32Result<DWORD> file_attributes(const WideString& path) {
    const auto file = open_existing(path);
    if (file) {
        BY_HANDLE_FILE_INFORMATION information{};
        if (GetFileInformationByHandle(file->get(), &information) == FALSE) {
            return std::unexpected(GetLastError());
        }
        return information.dwFileAttributes;
    }
    if (file.error() != ERROR_SHARING_VIOLATION) {
        return std::unexpected(file.error());
    }
    // A file held open without sharing (a paging file, say) still lists in its directory.
    WIN32_FIND_DATAW found{};
    const UniqueFind search(
        FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) {
        return std::unexpected(GetLastError());
    }
    return found.dwFileAttributes;
}
