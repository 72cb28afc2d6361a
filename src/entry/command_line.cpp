#include "entry/command_line.hpp"

#include "paths/sandbox_mount.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace {

constexpr std::size_t MAX_PROFILE_NAME = 64;

struct Options {
    std::optional<std::string> project;
    std::optional<std::string> scratch;
    std::optional<std::string> profile;
    std::optional<std::string> network;
    std::optional<std::string> report;
    std::optional<std::string> timeout;
    std::optional<std::string> stop_event;
};

std::optional<std::string>* option_slot(Options& options, std::string_view name) {
    if (name == "--project") {
        return &options.project;
    }
    if (name == "--scratch") {
        return &options.scratch;
    }
    if (name == "--profile") {
        return &options.profile;
    }
    if (name == "--network") {
        return &options.network;
    }
    if (name == "--report") {
        return &options.report;
    }
    if (name == "--timeout") {
        return &options.timeout;
    }
    if (name == "--stop-event") {
        return &options.stop_event;
    }
    return nullptr;
}

// Whole seconds from 1 to MAX_TIMEOUT_SECONDS, in ASCII digits alone, as milliseconds.
std::optional<DWORD> timeout_milliseconds(std::string_view value) {
    if (value.empty() || value.size() > 10 ||
        !std::ranges::all_of(value, [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const std::uint64_t seconds = std::stoull(std::string(value));
    if (seconds == 0 || seconds > MAX_TIMEOUT_SECONDS) {
        return std::nullopt;
    }
    return static_cast<DWORD>(seconds * 1000);
}

bool is_profile_character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ' ';
}

// The option pairs before the separator at `options_end`.
[[nodiscard]] Result<Options> read_options(const std::vector<std::string>& arguments,
                                           std::size_t options_end) {
    Options options;
    for (std::size_t at = 0; at < options_end; at += 2) {
        const std::string& name = arguments[at];
        if (at + 1 == options_end) {
            return failure("missing value for " + name);
        }
        auto* slot = option_slot(options, name);
        if (slot == nullptr) {
            return failure("unknown sandbox option: " + name);
        }
        *slot = arguments[at + 1];
    }
    return options;
}

// The directory that the value of `name` (--project or --scratch) names, made canonical.
[[nodiscard]] Result<WideString> mount_option(const std::optional<std::string>& value,
                                              const std::string& name) {
    if (!value) {
        return failure("missing " + name);
    }
    return resolve_sandbox_mount(to_wide(*value));
}

} // namespace

bool is_valid_profile_name(std::string_view name) {
    return name.size() <= MAX_PROFILE_NAME && std::ranges::all_of(name, is_profile_character);
}

Result<SandboxRequest> parse_command_line(const std::vector<std::string>& arguments) {
    const auto separator = std::ranges::find(arguments, "--");
    if (separator == arguments.end() || separator + 1 == arguments.end()) {
        return failure(std::string(USAGE));
    }
    auto options = read_options(arguments, static_cast<std::size_t>(separator - arguments.begin()));
    if (!options) {
        return std::unexpected(options.error());
    }
    Options& given = *options;
    if (given.network != "deny") {
        return failure("native processes cannot receive direct network access");
    }
    auto project = mount_option(given.project, "--project");
    if (!project) {
        return std::unexpected(project.error());
    }
    auto scratch = mount_option(given.scratch, "--scratch");
    if (!scratch) {
        return std::unexpected(scratch.error());
    }
    if (!given.profile) {
        return failure("missing --profile");
    }
    if (!is_valid_profile_name(*given.profile)) {
        return failure("invalid AppContainer profile name");
    }
    std::optional<DWORD> timeout;
    if (given.timeout) {
        timeout = timeout_milliseconds(*given.timeout);
        if (!timeout) {
            return failure("invalid value for --timeout: " + *given.timeout +
                           " (a whole number of seconds from 1 to " +
                           std::to_string(MAX_TIMEOUT_SECONDS) + ")");
        }
    }
    return SandboxRequest{
        .project = std::move(*project),
        .scratch = std::move(*scratch),
        .profile = std::move(*given.profile),
        .program = *(separator + 1),
        .arguments = std::vector<std::string>(separator + 2, arguments.end()),
        .report = std::move(given.report),
        .timeout_milliseconds = timeout,
        .stop_event = std::move(given.stop_event),
    };
}
