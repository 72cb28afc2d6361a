#include "common/standard_error.hpp"

#include "common/text.hpp"

#include <algorithm>
#include <limits>

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

// Notes whether a write of `text` that took `taken` units stopped inside a line; whether it took
// all of them.
template <class Text> bool note_where_stopped(const Text& text, std::size_t taken) {
    if (taken > 0) {
        stopped_mid_line = text[taken - 1] != '\n';
    }
    return taken == text.size();
}

} // namespace

bool write_file_all(HANDLE file, std::string_view bytes) {
    return write_bytes(file, bytes) == bytes.size();
}

StderrWrite write_standard_error(std::string_view utf8_text) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return StderrWrite::NoStandardError;
    }
    std::string text(stopped_mid_line ? 1 : 0, '\n');
    text.append(utf8_text);
    DWORD mode = 0;
    bool written = false;
    // WriteFile bytes on a console are read in the console's code page, not as UTF-8.
    if (GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode)) {
        const WideString wide = to_wide(text);
        written = note_where_stopped(
            wide,
            write_all(wide.data(), wide.size(), [&](const WCHAR* data, DWORD count, DWORD* done) {
                return WriteConsoleW(handle, data, count, done, nullptr) != FALSE;
            }));
    } else {
        written = note_where_stopped(text, write_bytes(handle, text));
    }
    return written ? StderrWrite::Written : StderrWrite::Failed;
}
