// Text forms: UTF-8 std::string for texts, UTF-16 WideString for what goes to Windows.
#pragma once

#include "platform/win32.hpp"

#include <optional>
#include <string>
#include <string_view>

using WideString = std::basic_string<WCHAR>;
using WideStringView = std::basic_string_view<WCHAR>;

// UTF-8 to UTF-16. The result's c_str() is the NUL-terminated form the Windows calls take.
// Bytes that are not valid UTF-8 become U+FFFD.
WideString to_wide(std::string_view text);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string to_utf8(WideStringView text);

// UTF-16 to UTF-8, or nothing when the text holds an unpaired surrogate.
std::optional<std::string> to_utf8_exact(WideStringView text);

// Whether `text` begins with the ASCII text `prefix`, unit for unit.
bool starts_with_ascii(WideStringView text, std::string_view prefix);
