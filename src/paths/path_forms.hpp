// The three forms of a Windows path: as typed, canonical ("\\?\" form of the opened file after
// every link is resolved) and display (the canonical form without its prefix), and the element
// view of a path on which containment and joining rest.
#pragma once

#include "common/text.hpp"

#include <expected>
#include <optional>
#include <string>
#include <vector>

// The canonical form without "\\?\", a share as "\\server\share\..."; UTF-8, an unpaired
// surrogate becoming U+FFFD.
std::string display_path(WideStringView path);

// The final path of the existing file or directory `path` names, in "\\?\" form, or the Win32
// error code of the step that failed.
std::expected<WideString, DWORD> canonical_path(WideStringView path);

// The system's message for `code` without its line break, then " (os error <code>)".
std::string os_error_text(DWORD code);

// The attributes of the file or directory at `path`, following links, or a Win32 error code.
std::expected<DWORD, DWORD> file_attributes(const WideString& path);

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

// `appended` joined onto `base`. A canonical base settles "." and ".." of the appended text
// element by element and never climbs above its root; a mount root ("X:\") is simply followed by
// the appended remainder.
WideString join_path(WideStringView base, WideStringView appended);
