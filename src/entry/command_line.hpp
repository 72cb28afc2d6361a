// The launcher's own command line: the sandbox options, "--", the program and its arguments.
#pragma once

#include "common/failure.hpp"
#include "common/sandbox_request.hpp"

#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view USAGE =
    "usage: norix-native-sandbox --project <path> --scratch <path> --profile <name> --network "
    "deny -- <program> [args...]";

// `arguments` is the command line without the launcher's own name.
Result<SandboxRequest> parse_command_line(const std::vector<std::string>& arguments);

bool is_valid_profile_name(std::string_view name);
