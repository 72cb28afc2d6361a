#include "common/standard_error.hpp"

#include "common/text.hpp"

#include <algorithm>
#include <limits>
#include <optional>

namespace {

// Whether the last write to standard error stopped inside a line: a failed write may have taken
// part of its line, and the next text (the fatal diagnostic) must not be glued to it.
bool stopped_mid_line = false;

// Both writers may take less than they were given; a call that takes nothing without reporting
// an error would loop forever, so it counts as a failure, with ERROR_WRITE_FAULT in place of
// whatever stale last-error value the call left. Gives how many units were taken, all of them on
// success.
template <class Unit, class Write>
std::size_t write_all(const Unit* data, std::size_t count, Write write) {
    std::size_t taken = 0;
    while (taken < count) {
        const auto chunk = static_cast<DWORD>(
            std::min<std::size_t>(count - taken, std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!write(data + taken, chunk, &written)) {
            break;
        }
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            break;
        }
        taken += written;
    }
    return taken;
}

std::size_t write_bytes(HANDLE file, std::string_view bytes) {
    return write_all(bytes.data(), bytes.size(), [&](const char* data, DWORD count, DWORD* done) {
        return WriteFile(file, data, count, done, nullptr) != FALSE; // not overlapped
    });
}

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
    return taken_of(text, write_bytes(handle, text));
}

bool is_handle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

} // namespace

bool write_file_all(HANDLE file, std::string_view bytes) {
    return write_bytes(file, bytes) == bytes.size();
}

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
