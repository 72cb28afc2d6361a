// The element view of a Windows path, on which containment and joining rest: text alone, no call
// on the file system.
#pragma once

#include "common/text.hpp"

#include <optional>
#include <vector>

enum class PrefixKind { VerbatimUnc, VerbatimDisk, Verbatim, Device, Unc, Disk };

struct PathElement {
    enum class Kind { Prefix, Root, CurrentDir, ParentDir, Name };
    Kind kind;
    PrefixKind prefix = PrefixKind::Disk; // meaningful for Kind::Prefix only
    std::size_t offset = 0;               // where the element's text starts
    std::size_t length = 0;

    WideStringView text(WideStringView path) const { return path.substr(offset, length); }
};

std::vector<PathElement> path_elements(WideStringView path);

// A path is absolute when it has both a prefix and a root.
bool is_absolute_path(WideStringView path);

// The text of `path` below `base`, compared element by element, or nothing when `path` does not
// lie under `base`. Separators at either end of the remainder are removed.
std::optional<WideString> remainder_under(WideStringView path, WideStringView base);

// Whether `path` is `base` or lies below it, element by element, names compared without regard
// to case as file systems compare them.
bool lies_within(WideStringView path, WideStringView base);

// `appended` joined onto `base`. A canonical base settles "." and ".." of the appended text
// element by element and never climbs above its root; a mount root ("X:\") is simply followed by
// the appended remainder.
WideString join_path(WideStringView base, WideStringView appended);
