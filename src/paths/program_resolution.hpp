// The program the child runs, confined to the project mount, the scratch mount or the trusted
// system runtime roots.
#pragma once

#include "common/failure.hpp"
#include "common/sandbox_request.hpp"
#include "paths/host_path_rewrite.hpp"

#include <string>
#include <vector>

// The canonical forms of "SystemRoot", "ProgramFiles" and "ProgramFiles(x86)", in that order, read
// from the launcher's environment as it stands; a variable that is unset or names nothing that
// exists is left out.
std::vector<WideString> trusted_runtime_roots();

// The text that starts the child: a bare name unchanged (the child's creation searches for it),
// a program in the project or scratch directory in its mount form ("X:\bin\tool.exe"), an absolute
// program under a trusted root in its host form.
[[nodiscard]] Result<std::string> resolve_program(const SandboxRequest& request,
                                                  const SandboxMounts& mounts);
