#include "common/standard_error.hpp"

#include "common/text.hpp"
#include "common/write_all.hpp"

#include <optional>

namespace {

// Whether the last write to standard error stopped inside a line: a failed write may have taken
// part of its line, and the next text (the fatal diagnostic) must not be glued to it.
bool stopped_mid_line = false;

// What a write to a standard handle took: all of the text or not, and, when it took some, whether
// it stopped inside a line.
struct StandardWrite {
    bool complete = false;
    std::optional<bool> mid_line;
};

template <class Unit> StandardWrite taken_of(std::basic_string_view<Unit> text, std::size_t taken) {
    return {taken == text.size(),
            taken == 0 ? std::nullopt : std::optional(text[taken - 1] != Unit('\n'))};
}

// Writes `text` to a standard handle: as UTF-16 through WriteConsoleW to a console, else as UTF-8
// bytes.
StandardWrite write_standard(HANDLE handle, std::string_view text) {
    DWORD mode = 0;
    // WriteFile bytes on a console are read in the console's code page, not as UTF-8.
    if (GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode)) {
        const WideString wide = to_wide(text);
        return taken_of(
            WideStringView(wide),
            write_all(wide.data(), wide.size(), [&](const WCHAR* data, DWORD count, DWORD* done) {
                return WriteConsoleW(handle, data, count, done, nullptr) != FALSE;
            }));
    }
    return taken_of(text, write_file_bytes(handle, text));
}

bool is_handle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

} // namespace

StderrWrite write_standard_error(std::string_view utf8_text) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (!is_handle(handle)) {
        return StderrWrite::NoStandardError;
    }
    std::string text(stopped_mid_line ? 1 : 0, '\n');
    text.append(utf8_text);
    const StandardWrite written = write_standard(handle, text);
    stopped_mid_line = written.mid_line.value_or(stopped_mid_line);
    return written.complete ? StderrWrite::Written : StderrWrite::Failed;
}

bool write_standard_output(std::string_view utf8_text) {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!is_handle(handle)) {
        return true;
    }
    return write_standard(handle, utf8_text).complete;
}
