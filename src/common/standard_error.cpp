#include "common/standard_error.hpp"

#include "common/text.hpp"

#include <algorithm>
#include <limits>

namespace {

// Both writers may take less than they were given; a call that takes nothing without reporting
// an error would loop forever, so it counts as a failure, with ERROR_WRITE_FAULT in place of
// whatever stale last-error value the call left.
template <class Unit, class Write>
bool write_all(const Unit* data, std::size_t count, Write write) {
    while (count > 0) {
        const auto chunk =
            static_cast<DWORD>(std::min<std::size_t>(count, std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!write(data, chunk, &written)) {
            return false;
        }
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += written;
        count -= written;
    }
    return true;
}

} // namespace

bool write_file_all(HANDLE file, std::string_view bytes) {
    return write_all(bytes.data(), bytes.size(), [&](const char* data, DWORD count, DWORD* done) {
        return WriteFile(file, data, count, done, nullptr) != FALSE; // not overlapped
    });
}

StderrWrite write_standard_error(std::string_view utf8_text) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return StderrWrite::NoStandardError;
    }
    DWORD mode = 0;
    bool written = false;
    // WriteFile bytes on a console are read in the console's code page, not as UTF-8.
    if (GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode)) {
        const WideString wide = to_wide(utf8_text);
        written =
            write_all(wide.data(), wide.size(), [&](const WCHAR* data, DWORD count, DWORD* done) {
                return WriteConsoleW(handle, data, count, done, nullptr) != FALSE;
            });
    } else {
        written = write_file_all(handle, utf8_text);
    }
    return written ? StderrWrite::Written : StderrWrite::Failed;
}
