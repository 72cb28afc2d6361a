// The folders of the system and of the calling user that no sandbox mount may cover: a grant on
// a mount lasts, is inherited by everything below it, and allows every later process of the
// profile to read, write and delete there.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"

// Refuses `project` or `scratch` (canonical directories) when one is, or holds, the system
// volume's root, the Windows directory, a Program Files directory, ProgramData, the folder that
// holds the user profiles or the calling user's profile, or lies inside the Windows directory or a
// Program Files directory. The folders come from the system (never from the environment), each
// made canonical as the mounts are; one the system does not have is none to protect.
[[nodiscard]] Result<void> check_unprotected_mounts(const WideString& project,
                                                    const WideString& scratch);
