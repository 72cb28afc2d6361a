// The launcher's standard error, written without buffering of our own.
#pragma once

#include <string_view>

enum class StderrWrite { Written, NoStandardError, Failed };

// Writes `utf8_text` to standard error: as UTF-16 through WriteConsoleW when it is a console,
// else as the UTF-8 bytes through WriteFile. A launcher started without standard error (a null
// or invalid handle) gets NoStandardError; Failed leaves the failing call's last-error value.
StderrWrite write_standard_error(std::string_view utf8_text);
