// Lasting access for the AppContainer to a mount directory.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"

// Merges one inheritable access-allowed entry for `sid` (read, write, execute and delete, but not
// delete-child, write-DAC or write-owner) into the DACL of `directory`, a canonical path. The
// entry stays after the run. `sid` is borrowed.
[[nodiscard]] Result<void> grant_mount_access(const WideString& directory, PSID sid);
