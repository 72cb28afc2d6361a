#include "common/text.hpp"

#include "encoding/unicode.hpp"

WideString to_wide(std::string_view text) {
    return unicode::utf16_from_utf8<WCHAR>(text).text;
}

std::string to_utf8(WideStringView text) {
    return unicode::utf8_from_utf16(text).text;
}

std::optional<std::string> to_utf8_exact(WideStringView text) {
    auto converted = unicode::utf8_from_utf16(text);
    if (converted.first_invalid) {
        return std::nullopt;
    }
    return std::move(converted.text);
}

bool starts_with_ascii(WideStringView text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] != static_cast<WCHAR>(prefix[i])) {
            return false;
        }
    }
    return true;
}
