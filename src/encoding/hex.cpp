#include "encoding/hex.hpp"

std::string hex_digits(std::uint64_t value, std::size_t width) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), DIGITS[value % 16]);
        value /= 16;
    } while (value != 0 || digits.size() < width);
    return digits;
}
