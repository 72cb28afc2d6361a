// The rewrite of host paths in the child's arguments and environment: never longer, and a second
// rewrite of its own output changes nothing when the host and mount texts cannot run into each
// other. The input split at NUL bytes: the project's and the scratch directory's names below
// their drives, then the texts to rewrite, as arguments and as environment values. The first
// byte picks the two drives.
#include "fuzz_input.hpp"
#include "paths/argument_translation.hpp"
#include "paths/environment_rewrite.hpp"
#include "paths/host_path_rewrite.hpp"
#include "platform/simulated/control.hpp"

#include <algorithm>

namespace {

constexpr std::string_view PROJECT_ROOT = "X:\\";
constexpr std::string_view SCRATCH_ROOT = "Y:\\";

// Whether `a` and `b` could run into each other: one holds the other, or an end of one is the
// start of the other. A rewrite that inserts a mount text can then complete a host text that was
// not there before.
bool overlap(std::string_view a, std::string_view b) {
    if (a.find(b) != std::string_view::npos || b.find(a) != std::string_view::npos) {
        return true;
    }
    for (std::size_t n = 1; n < std::min(a.size(), b.size()); ++n) {
        if (a.ends_with(b.substr(0, n)) || b.ends_with(a.substr(0, n))) {
            return true;
        }
    }
    return false;
}

bool rewrite_is_stable(const SandboxMounts& mounts) {
    for (const auto& host : {mounts.project, mounts.scratch}) {
        for (const auto& mount : {mounts.project, mounts.scratch}) {
            if (overlap(host.host, mount.mount) ||
                overlap(escape_backslashes(host.host), mount.mount)) {
                return false;
            }
        }
    }
    return true;
}

void check_arguments(const SandboxRequest& request, const SandboxMounts& mounts, bool stable) {
    const auto translated = translate_arguments(request, mounts);
    if (translated.size() != request.arguments.size()) {
        fuzz_failure("the number of arguments changed");
    }
    for (std::size_t i = 0; i < translated.size(); ++i) {
        if (translated[i].size() > request.arguments[i].size()) {
            fuzz_failure("a translated argument grew: " + translated[i]);
        }
    }
    if (!stable) {
        return;
    }
    SandboxRequest again = request;
    again.arguments = translated;
    if (translate_arguments(again, mounts) != translated) {
        fuzz_failure("translating a translated argument changed it");
    }
}

void check_environment(const SandboxRequest& request, const SandboxMounts& mounts, bool stable) {
    sim::reset();
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < request.arguments.size(); ++i) {
        // Values as the block holds them: valid UTF-16, so valid UTF-8 here.
        entries.push_back("V" + std::to_string(i) + "=" + to_utf8(to_wide(request.arguments[i])));
    }
    sim::set_environment(entries);
    rewrite_environment(mounts);
    const std::vector<std::string> rewritten = sim::environment();
    if (rewritten.size() != entries.size()) {
        fuzz_failure("the number of variables changed");
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (rewritten[i].size() > entries[i].size() ||
            to_wide(rewritten[i]).size() > to_wide(entries[i]).size()) {
            fuzz_failure("a rewritten variable grew: " + rewritten[i]);
        }
    }
    if (!stable) {
        return;
    }
    rewrite_environment(mounts);
    if (sim::environment() != rewritten) {
        fuzz_failure("rewriting a rewritten environment changed it");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> texts = split_at_nul(data, size);
    if (texts.size() < 2) {
        return 0;
    }
    // Canonical drive paths, as the command line gives them: the drive, its root, the names.
    const std::uint8_t drives = data[0];
    SandboxRequest request{
        .project = to_wide(std::string("\\\\?\\") + "CDE"[drives % 3] + ":\\" + texts[0]),
        .scratch = to_wide(std::string("\\\\?\\") + "CDE"[drives / 3 % 3] + ":\\" + texts[1]),
        .arguments = std::vector<std::string>(texts.begin() + 2, texts.end()),
    };
    const SandboxMounts mounts = sandbox_mounts(request, PROJECT_ROOT, SCRATCH_ROOT);
    const bool stable = rewrite_is_stable(mounts);
    check_arguments(request, mounts, stable);
    check_environment(request, mounts, stable);
    return 0;
}
