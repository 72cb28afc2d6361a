// The launcher's own environment, prepared for the child that inherits it: host paths of the
// project and scratch directories become their drive letters.
#pragma once

#include "paths/host_path_rewrite.hpp"

#include <string>
#include <string_view>

// `text` with every backslash doubled, the form in which some tools write paths into variables.
std::string escape_backslashes(std::string_view text);

// Rewrites every variable of the launcher whose value names the project or scratch directory, in
// escaped form and then in plain form, the project before the scratch directory. Values holding
// an unpaired surrogate and values that do not change are left as they are. Throws FatalStop when
// the environment cannot be read or a variable cannot be set.
void rewrite_environment(const SandboxMounts& mounts);

// Sets one variable of the launcher; throws FatalStop naming the variable, the value and the
// system's error text when Windows refuses.
void set_environment_variable(std::string_view name, std::string_view value);
