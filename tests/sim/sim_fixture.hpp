// Behaviour tests start on a fresh simulated machine; the helpers keep their tables short.
#pragma once

#include "common/text.hpp"
#include "platform/simulated/control.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <ranges>

using Strings = std::vector<std::string>;

class SimulatedWindows : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
    // Also at the end: a child's program that still runs may use the test it belongs to.
    void TearDown() override { sim::reset(); }
};

// A fault on the `call`-th call of `function`, whatever its argument.
inline sim::Fault fault_on(std::string function, std::uint64_t result, sim::Dword error = 0,
                           unsigned call = 1) {
    return sim::Fault{std::move(function), call, {}, result, error};
}

// A fault on the next call of `function` whose key argument (the journal's) is `argument`.
inline sim::Fault fault_for(std::string function, std::string argument, std::uint64_t result,
                            sim::Dword error = 0) {
    return sim::Fault{std::move(function), 1, std::move(argument), result, error};
}

// The journal without the lines of the functions named.
inline Strings journal_without(std::initializer_list<std::string_view> functions) {
    Strings lines;
    for (const auto& line : sim::journal()) {
        if (std::ranges::none_of(functions, [&](auto f) { return line.starts_with(f); })) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The pieces of a text between separators.
inline Strings split(std::string_view text, std::string_view separator = " ") {
    Strings pieces;
    for (const auto piece : std::views::split(text, separator)) {
        pieces.emplace_back(piece.begin(), piece.end());
    }
    return pieces;
}

// Journal lines in one text, "; " between them, so that tables can hold several to a line.
inline std::string joined(const Strings& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += (text.empty() ? "" : "; ") + line;
    }
    return text;
}

// The stage trace on, through the launcher's environment.
inline void trace_on() {
    SetEnvironmentVariableW(to_wide("NORIX_SANDBOX_TRACE").c_str(), to_wide("").c_str());
}
