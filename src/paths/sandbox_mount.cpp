#include "paths/sandbox_mount.hpp"

#include "paths/path_forms.hpp"

Result<WideString> resolve_sandbox_mount(const WideString& value) {
    const auto canonical = canonical_path(value);
    if (!canonical) {
        return std::unexpected(
            os_error_failure("cannot resolve " + to_utf8(value), canonical.error()));
    }
    const auto attributes = file_attributes(*canonical);
    if (!attributes || (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return failure("sandbox mount is not a directory: " + to_utf8(*canonical));
    }
    // A final path with an unpaired surrogate (reached through a link or the current directory)
    // would be granted under its own name but rewritten and mapped under its text, where the
    // surrogate has become U+FFFD.
    if (!to_utf8_exact(*canonical)) {
        return failure("sandbox mount path is not valid Unicode: " + display_path(value));
    }
    return *canonical;
}
