#include "paths/program_resolution.hpp"

#include "common/windows_error.hpp"
#include "paths/path_elements.hpp"
#include "paths/path_forms.hpp"

#include <optional>

namespace {

constexpr const char* TRUSTED_ROOT_VARIABLES[] = {"SystemRoot", "ProgramFiles",
                                                  "ProgramFiles(x86)"};

// The value of a variable of the launcher, or nothing when it is unset or empty.
std::optional<WideString> environment_value(const char* name) {
    const WideString wide_name = to_wide(name);
    auto value = grown_text([&wide_name](LPWSTR buffer, DWORD size) {
        return GetEnvironmentVariableW(wide_name.c_str(), buffer, size);
    });
    return value ? std::optional(std::move(*value)) : std::nullopt;
}

// `canonical` in the mount form of `mount` when it lies inside its directory.
std::optional<std::string> in_mount(const WideString& canonical, const HostMount& mount) {
    const auto remainder = remainder_under(canonical, mount.directory);
    if (!remainder) {
        return std::nullopt;
    }
    return to_utf8(join_path(to_wide(mount.root), *remainder));
}

} // namespace

std::vector<WideString> trusted_runtime_roots() {
    std::vector<WideString> roots;
    for (const char* name : TRUSTED_ROOT_VARIABLES) {
        const auto value = environment_value(name);
        if (!value) {
            continue;
        }
        if (auto root = canonical_path(*value)) {
            roots.push_back(std::move(*root));
        }
    }
    return roots;
}

Result<std::string> resolve_program(const SandboxRequest& request, const SandboxMounts& mounts) {
    const WideString program = to_wide(request.program);
    const bool absolute = is_absolute_path(program);
    if (!absolute && path_elements(program).size() == 1) {
        return request.program;
    }
    const WideString candidate = absolute ? program : join_path(request.project, program);
    const auto canonical = canonical_path(candidate);
    if (!canonical) {
        return std::unexpected(os_error_failure(
            "cannot resolve sandbox program " + to_utf8(candidate), canonical.error()));
    }
    if (auto mounted = in_mount(*canonical, mounts.project)) {
        return std::move(*mounted);
    }
    if (auto mounted = in_mount(*canonical, mounts.scratch)) {
        return std::move(*mounted);
    }
    if (!absolute) {
        return failure("relative sandbox program escaped the project mount");
    }
    for (const auto& root : trusted_runtime_roots()) {
        if (remainder_under(*canonical, root)) {
            return display_path(*canonical);
        }
    }
    return failure("absolute sandbox program is outside trusted system runtime roots");
}
