// A fault on the `call`-th call of `function`, whatever its argument.
#pragma once

#include "platform/simulated/control.hpp"

#include <string>

inline sim::Fault fault_on(std::string function, std::uint64_t result, sim::Dword error = 0,
                           unsigned call = 1) {
    return sim::Fault{std::move(function), call, {}, result, error};
}
