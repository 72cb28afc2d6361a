// The forms of Win32 paths: full paths as GetFullPathNameW makes them, from the current
// directory and the drives' remembered ones, and the NT paths that they open as.
#include "platform/simulated/file_system.hpp"

namespace sim::detail {
namespace {

std::u16string current_drive_root() {
    const auto& cwd = current_process().current_directory;
    if (cwd.size() >= 2 && cwd[1] == u':') {
        return cwd.substr(0, 2);
    }
    // A share: "\\server\share".
    const auto parts = split(cwd.substr(2), false);
    return u"\\\\" + parts[0] + u"\\" + (parts.size() > 1 ? parts[1] : u"");
}

std::u16string variable_value(std::u16string_view name) {
    const std::u16string wanted = fold_case(name) + u"=";
    for (const auto& entry : current_process().environment) {
        if (fold_case(entry.substr(0, wanted.size())) == wanted) {
            return entry.substr(wanted.size());
        }
    }
    return {};
}

// The root of a path whose separators are all "\" ("C:", "\\server\share", "\\.\device"), and the
// rest below it: a path without a root, or a drive-relative one, is put below the current
// directory that it goes by.
std::pair<std::u16string, std::u16string> root_and_rest(const std::u16string& text) {
    if (text.starts_with(u"\\\\.\\") || text.starts_with(u"\\\\?\\")) {
        const auto end = text.find(u'\\', 4);
        return {text.substr(0, end == std::u16string::npos ? text.size() : end),
                end == std::u16string::npos ? u"" : text.substr(end)};
    }
    if (text.starts_with(u"\\\\")) {
        const auto parts = split(std::u16string_view(text).substr(2), true);
        const std::u16string root =
            u"\\\\" + parts[0] + (parts.size() > 1 ? u"\\" + parts[1] : u"");
        return {root, root.size() < text.size() ? text.substr(root.size()) : u""};
    }
    const auto& cwd = current_process().current_directory;
    if (text.size() >= 2 && text[1] == u':') {
        std::u16string root = text.substr(0, 2);
        root[0] = fold_case(root.substr(0, 1))[0];
        std::u16string rest = text.substr(2);
        if (rest.empty() || rest[0] != u'\\') {
            // Drive-relative: that drive's current directory.
            std::u16string base = variable_value(u"=" + root);
            if (fold_case(cwd.substr(0, 2)) == root) {
                base = cwd;
            } else if (base.empty()) {
                base = root + u"\\";
            }
            rest = base.substr(2) + u"\\" + rest;
        }
        return {root, rest};
    }
    const std::u16string root = current_drive_root();
    return {root, text[0] == u'\\' ? text : cwd.substr(root.size()) + u"\\" + text};
}

// The names of a path's rest with "." and ".." applied; without a trailing separator the last
// one loses its trailing dots and spaces.
std::vector<std::u16string> normal_names(const std::u16string& rest, bool trailing_separator) {
    std::vector<std::u16string> names;
    for (auto& name : split(rest, true)) {
        if (name == u"..") {
            if (!names.empty()) {
                names.pop_back();
            }
        } else if (!name.empty() && name != u".") {
            names.push_back(name);
        }
    }
    if (!trailing_separator && !names.empty()) {
        auto& last = names.back();
        while (!last.empty() && (last.back() == u'.' || last.back() == u' ')) {
            last.pop_back();
        }
        if (last.empty()) {
            names.pop_back();
        }
    }
    return names;
}

} // namespace

bool is_separator(char16_t c) {
    return c == u'\\' || c == u'/';
}

std::vector<std::u16string> split(std::u16string_view text, bool verbatim) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (const char16_t c : text) {
        if (verbatim ? c == u'\\' : is_separator(c)) {
            parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    parts.push_back(current);
    return parts;
}

std::u16string join(const std::vector<std::u16string>& names, std::u16string_view separator) {
    std::u16string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out.append(separator);
        }
        out.append(names[i]);
    }
    return out;
}

std::optional<std::u16string> full_path_of(std::u16string_view path, DWORD& error) {
    if (path.starts_with(u"\\\\?\\")) {
        return std::u16string(path);
    }
    if (path.empty()) {
        error = ERROR_INVALID_NAME;
        return std::nullopt;
    }
    std::u16string text(path);
    std::ranges::replace(text, u'/', u'\\');
    const auto [root, rest] = root_and_rest(text);
    const bool trailing_separator = text.ends_with(u'\\');
    const auto names = normal_names(rest, trailing_separator);
    std::u16string full = root + u"\\" + join(names, u"\\");
    if (trailing_separator && !names.empty()) {
        full.push_back(u'\\');
    }
    return full;
}

std::u16string nt_from_full(std::u16string_view full) {
    if (full.starts_with(u"\\\\.\\")) {
        return u"\\??\\" + std::u16string(full.substr(4));
    }
    if (full.size() >= 2 && is_separator(full[0]) && is_separator(full[1])) {
        return u"\\??\\UNC\\" + std::u16string(full.substr(2));
    }
    return u"\\??\\" + std::u16string(full);
}

std::optional<std::u16string> nt_path_for(std::u16string_view path, DWORD& error) {
    if (path.starts_with(u"\\\\?\\")) {
        return u"\\??\\" + std::u16string(path.substr(4));
    }
    const auto full = full_path_of(path, error);
    if (!full) {
        return std::nullopt;
    }
    // Long paths are not enabled (LongPathsEnabled, and a manifest that opts in): only "\\?\"
    // paths may reach MAX_PATH units.
    if (full->size() >= MAX_PATH) {
        error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    return nt_from_full(*full);
}

} // namespace sim::detail

using namespace sim::detail;

DWORD GetFullPathNameW(LPCWSTR file_name, DWORD buffer_length, LPWSTR buffer, LPWSTR* file_part) {
    const std::u16string_view path(file_name);
    const Call call("GetFullPathNameW", utf8(path), path);
    if (const auto failed = call.failed<DWORD>()) {
        return *failed;
    }
    if (path.empty()) {
        return 0; // with the last error left as it was
    }
    DWORD error = 0;
    const auto full = full_path_of(path, error);
    if (!full) {
        set_last_error(error);
        return 0;
    }
    const DWORD copied = copy_out(*full, buffer, buffer_length);
    if (copied == full->size() && file_part != nullptr) {
        const auto last = full->find_last_of(u'\\');
        *file_part = last + 1 < full->size() ? buffer + last + 1 : nullptr;
    }
    return copied;
}

DWORD GetCurrentDirectoryW(DWORD buffer_length, LPWSTR buffer) {
    Guard guard;
    const auto& cwd = current_process().current_directory;
    return copy_out(cwd.size() == 2 ? cwd + u"\\" : cwd, buffer, buffer_length);
}

namespace sim {

void set_current_directory(std::string_view path) {
    Guard guard;
    DWORD error = 0;
    auto resolved = full_path_of(utf16(path), error);
    if (!resolved) {
        throw std::logic_error("sim: not a path: " + std::string(path));
    }
    std::u16string full = std::move(*resolved);
    if (full.size() > 3 && full.ends_with(u'\\')) {
        full.pop_back();
    }
    current_process().current_directory = full;
}

} // namespace sim
