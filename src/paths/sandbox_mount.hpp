// The project and scratch directories as the command line names them, made canonical.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"

// The canonical form of an existing directory named by an option's value.
[[nodiscard]] Result<WideString> resolve_sandbox_mount(const WideString& value);
