// Writes that Windows may cut short, repeated until everything is taken: the mount record's file
// and the launcher's standard output and error.
#pragma once

#include "platform/win32.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string_view>

// Calls `write(data, count, &written)` until all `count` units are taken. A call that takes
// nothing without reporting an error would loop forever, so it counts as a failure, with
// ERROR_WRITE_FAULT in place of whatever stale last-error value the call left. Gives how many
// units were taken, all of them on success.
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

// How many of `bytes` WriteFile took on `file`, all of them on success.
std::size_t write_file_bytes(HANDLE file, std::string_view bytes);

// Writes all of `bytes` to `file`. False leaves the failing call's last-error value, or
// ERROR_WRITE_FAULT for a call that took nothing.
[[nodiscard]] bool write_file_all(HANDLE file, std::string_view bytes);
