#include "common/text.hpp"

#include <algorithm>
#include <cstdint>

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

void append_utf16(WideString& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<WCHAR>(0xD800 + (c >> 10)));
        out.push_back(static_cast<WCHAR>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<WCHAR>(c));
    }
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes the UTF-8 sequence at text[i], advancing i; an invalid sequence yields U+FFFD for its
// first byte.
char32_t decode_utf8(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        ++i;
        return REPLACEMENT;
    }
    if (i + length > text.size()) {
        ++i;
        return REPLACEMENT;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return REPLACEMENT;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return REPLACEMENT;
    }
    i += length;
    return c;
}

// Walks UTF-16 text; calls `emit` with each scalar value, or with nothing for an unpaired
// surrogate.
template <class Emit> void decode_utf16(WideStringView text, Emit emit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = static_cast<char16_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
            const char32_t next = static_cast<char16_t>(text[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                emit(std::optional<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00)));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            emit(std::optional<char32_t>());
        } else {
            emit(std::optional<char32_t>(unit));
        }
    }
}

// The texts converted are mostly ASCII (paths, variables, arguments), which stands for itself in
// both forms: the leading ASCII run is copied in one go, and only the rest is decoded.
template <class To, class From> std::size_t copy_ascii_run(To& out, From text) {
    const auto end = std::ranges::find_if(
        text, [](auto unit) { return static_cast<std::uint32_t>(unit) >= 0x80; });
    out.assign(text.begin(), end);
    return static_cast<std::size_t>(end - text.begin());
}

} // namespace

WideString to_wide(std::string_view text) {
    WideString out;
    out.reserve(text.size());
    for (std::size_t i = copy_ascii_run(out, text); i < text.size();) {
        append_utf16(out, decode_utf8(text, i));
    }
    return out;
}

std::string to_utf8(WideStringView text) {
    std::string out;
    out.reserve(text.size());
    const std::size_t ascii = copy_ascii_run(out, text);
    decode_utf16(text.substr(ascii),
                 [&](std::optional<char32_t> c) { append_utf8(out, c.value_or(REPLACEMENT)); });
    return out;
}

std::optional<std::string> to_utf8_exact(WideStringView text) {
    std::string out;
    out.reserve(text.size());
    const std::size_t ascii = copy_ascii_run(out, text);
    bool valid = true;
    decode_utf16(text.substr(ascii), [&](std::optional<char32_t> c) {
        if (c) {
            append_utf8(out, *c);
        } else {
            valid = false;
        }
    });
    if (!valid) {
        return std::nullopt;
    }
    return out;
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
