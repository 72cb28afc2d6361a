// Deterministic argument lists for the quoting round trips: quotes, runs of backslashes before
// quotes and at the end, empty texts, tabs, every White_Space character and non-ASCII text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ArgumentGenerator {
public:
    explicit ArgumentGenerator(std::uint32_t seed) : state_(seed) {}

    std::vector<std::string> arguments() {
        static const std::vector<std::string> PIECES = {
            "a", "Bc", " ", "\t", "\"", "\\", "\\\\", "\\\\\\", "\\\"", "\"\"", "C:\\my dir\\",
            "\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80", "=", "%PATH%",
            // White_Space beyond space and tab: U+000A..U+000D, U+0085, U+00A0, U+1680,
            // U+2000, U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
            "\n", "\v", "\f", "\r", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80",
            "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
            "\xE3\x80\x80"};
        std::vector<std::string> list(next() % 5);
        for (auto& text : list) {
            for (auto count = next() % 6; count > 0; --count) {
                text += PIECES[next() % PIECES.size()];
            }
        }
        return list;
    }

private:
    std::uint32_t next() { return (state_ = state_ * 1664525U + 1013904223U) >> 8; }
    std::uint32_t state_;
};
