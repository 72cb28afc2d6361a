#pragma once

#include <string>
#include <string_view>

// Every occurrence of `pattern`, found left to right by exact byte comparison without overlap,
// replaced by `replacement`; the inserted text is never searched again. An empty pattern
// matches nothing.
std::string replace_all(std::string_view text, std::string_view pattern,
                        std::string_view replacement);
