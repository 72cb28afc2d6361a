// The launcher's own command line: the sandbox options, "--", the program and its arguments.
#pragma once

#include "common/failure.hpp"
#include "common/sandbox_request.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view USAGE =
    "usage: norix-native-sandbox --project <path> --scratch <path> --profile <name> --network "
    "deny -- <program> [args...]";

// The longest --timeout: its milliseconds stay below INFINITE (0xFFFFFFFF), about 49.7 days.
inline constexpr std::uint32_t MAX_TIMEOUT_SECONDS = 4294967;

// `arguments` is the command line without the launcher's own name.
[[nodiscard]] Result<SandboxRequest> parse_command_line(const std::vector<std::string>& arguments);

bool is_valid_profile_name(std::string_view name);
