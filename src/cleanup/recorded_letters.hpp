// Removing the drive letters that a killed launcher left behind, as its mount record names them.
#pragma once

#include "common/failure.hpp"
#include "common/text.hpp"

#include <string>

// `argument` names the killed run's scratch directory, whose record sits beside it, or the record
// file itself. Under the DriveAllocationLock, reads the record, removes each recorded definition
// only where its letter still holds it, and deletes the record. Appends one line per letter to
// `report`, in the record's order, as it goes: "<drive> <target>: removed", or ": left, the letter
// now maps elsewhere", or ": left, the letter is no longer defined". A record that cannot be read
// or is malformed fails before any letter is touched, and stays where it is; so does one whose
// letter cannot be queried or removed, after the letters before it.
[[nodiscard]] Result<void> remove_recorded_letters(const WideString& argument, std::string& report);
