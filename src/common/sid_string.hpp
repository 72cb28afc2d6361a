// A SID in its text form, in a file of its own: what links it imports advapi32, which the cleanup
// program, linking the rest of common, must not.
#pragma once

#include "common/windows_error.hpp"

#include <string>

// "S-1-15-2-..." for an AppContainer, "S-1-5-21-..." for a user; or the Win32 error of the
// conversion.
[[nodiscard]] Win32Result<std::string> sid_string(PSID sid);
