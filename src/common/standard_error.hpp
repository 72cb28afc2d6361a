// The launcher's standard error and standard output, written without buffering of our own.
#pragma once

#include "platform/win32.hpp"

#include <string_view>

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
