// A fault on the `call`-th call of `function`, whatever its argument.
#pragma once

#include "platform/simulated/control.hpp"

#include <string>

inline sim::Fault fault_on(std::string function, std::uint64_t result, sim::Dword error = 0,
                           unsigned call = 1) {
    return sim::Fault{std::move(function), call, {}, result, error};
}

// A fault on the next call of `function` whose key argument (the journal's) is `argument`.
inline sim::Fault fault_for(std::string function, std::string argument, std::uint64_t result,
                            sim::Dword error = 0) {
    return sim::Fault{std::move(function), 1, std::move(argument), result, error};
}
