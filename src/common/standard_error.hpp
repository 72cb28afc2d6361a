// The launcher's standard error and standard output, written without buffering of our own, and
// the whole-buffer file write it shares with the mount record and the run's report.
#pragma once

#include "platform/win32.hpp"

#include <string_view>

// Writes all of `bytes` to `file` through WriteFile, in as many calls as it takes. False leaves
// the failing call's last-error value, or ERROR_WRITE_FAULT for a call that took nothing.
bool write_file_all(HANDLE file, std::string_view bytes);

enum class StderrWrite { Written, NoStandardError, Failed };

// Writes `utf8_text` to standard error: as UTF-16 through WriteConsoleW when it is a console,
// else as the UTF-8 bytes through WriteFile. A launcher started without standard error (a null
// or invalid handle) gets NoStandardError; Failed leaves the failing call's last-error value. A
// text starts on a line of its own: after a write that stopped inside a line, a line feed goes
// first.
StderrWrite write_standard_error(std::string_view utf8_text);

// Writes `utf8_text` to standard output as write_standard_error writes: false when the write
// failed (without standard output there is nothing to fail).
bool write_standard_output(std::string_view utf8_text);
