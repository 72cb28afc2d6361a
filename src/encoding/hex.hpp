// Numbers in hexadecimal, as the failure lines, the journal and JSON's escapes write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The lower-case hexadecimal digits of `value`, without leading zeros beyond `width` digits.
std::string hex_digits(std::uint64_t value, std::size_t width = 1);

// "0x" and the digits: 0x1f.
inline std::string hex(std::uint64_t value) {
    return "0x" + hex_digits(value);
}
