// A shorter way to make one simulated call fail.
#pragma once

#include "platform/simulated/control.hpp"

#include <string>

// Makes the next call of `function` (for `argument`, when given) fail with `error`, returning
// `result`.
inline void fail_next(std::string function, sim::Dword error, std::string argument = {},
                      std::uint64_t result = 0) {
    sim::inject(sim::Fault{std::move(function), 1, std::move(argument), result, error});
}
