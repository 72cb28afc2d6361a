// The program's arguments with the host paths of the project and scratch directories rewritten
// onto their drive letters. The program itself is resolved separately (program_resolution.hpp).
#pragma once

#include "common/sandbox_request.hpp"
#include "paths/host_path_rewrite.hpp"

#include <string>
#include <string_view>
#include <vector>

// One translated text per argument of `request`, in order. Never fails.
std::vector<std::string> translate_arguments(const SandboxRequest& request,
                                             const SandboxMounts& mounts);

// `argument` with the project directory rewritten first, then the scratch directory.
std::string translate_argument(std::string_view argument, const SandboxMounts& mounts);
