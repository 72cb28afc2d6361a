// The three forms of a Windows path: as typed, canonical ("\\?\" form of the opened file after
// every link is resolved) and display (the canonical form without its prefix).
#pragma once

#include "common/text.hpp"
#include "common/windows_error.hpp"

#include <string>

// The canonical form without "\\?\", a share as "\\server\share\..."; UTF-8, an unpaired
// surrogate becoming U+FFFD.
std::string display_path(WideStringView path);

// The final path of the existing file or directory `path` names, in "\\?\" form, or the Win32
// error code of the step that failed.
[[nodiscard]] Win32Result<WideString> canonical_path(WideStringView path);

// The canonical path of the folder that holds what `path` names, joined with the last name of
// `path` (the full path's, as Windows forms it): a link at that name is not followed. The
// canonical path itself when `path` ends in no name.
[[nodiscard]] Win32Result<WideString> canonical_path_as_named(WideStringView path);

// The final path of the open file or directory `file`, in "\\?\" form, or a Win32 error code.
[[nodiscard]] Win32Result<WideString> final_path(HANDLE file);

// The form in which `path` opens: as typed when it is verbatim, or absolute and short enough;
// else its full path in "\\?\" form, so that long paths open too.
[[nodiscard]] Win32Result<WideString> path_to_open(WideStringView path);

// The attributes of the file or directory at `path`, following links, or a Win32 error code.
[[nodiscard]] Win32Result<DWORD> file_attributes(const WideString& path);
