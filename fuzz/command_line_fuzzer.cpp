// The launcher's command line: an argument list in, a request or one of the known failure
// messages out. The arguments are the input split at NUL bytes; they reach a simulated machine
// with a project and a scratch directory, a file, a link and a junction to resolve.
#include "entry/command_line.hpp"
#include "fuzz_input.hpp"
#include "paths/path_forms.hpp"
#include "platform/simulated/control.hpp"

#include <algorithm>
#include <optional>

namespace {

void make_machine() {
    sim::reset();
    sim::make_directory("C:\\Work\\Proj\\sub");
    sim::make_directory("C:\\Work\\Scratch");
    sim::make_file("C:\\Work\\notes.txt");
    sim::make_symlink("C:\\Work\\link", "Proj");
    sim::make_junction("C:\\Work\\junction", "C:\\Work\\Scratch");
    sim::make_directory("C:\\Work\\Secret");
    sim::deny_access("C:\\Work\\Secret");
}

bool ends_with_os_error(std::string_view text) {
    const std::size_t open = text.rfind(" (os error ");
    if (open == std::string_view::npos || !text.ends_with(")")) {
        return false;
    }
    const std::string_view code = text.substr(open + 11, text.size() - open - 12);
    return !code.empty() && std::ranges::all_of(code, [](char c) { return c >= '0' && c <= '9'; });
}

// Whether `message` is "cannot resolve " with one of the arguments as the path and an
// operating-system error text after it.
bool is_resolve_failure(std::string_view message, const std::vector<std::string>& arguments) {
    const std::string_view lead = "cannot resolve ";
    if (!message.starts_with(lead)) {
        return false;
    }
    const std::string_view rest = message.substr(lead.size());
    return std::ranges::any_of(arguments, [&](const std::string& value) {
        const std::string shown = to_utf8(to_wide(value)) + ": ";
        return rest.starts_with(shown) && ends_with_os_error(rest.substr(shown.size()));
    });
}

void check_failure(const std::string& message, const std::vector<std::string>& arguments) {
    static const std::string FIXED[] = {
        std::string(USAGE),  "native processes cannot receive direct network access",
        "missing --project", "missing --scratch",
        "missing --profile", "invalid AppContainer profile name",
    };
    if (std::ranges::find(FIXED, message) != std::end(FIXED)) {
        return;
    }
    for (const std::string_view lead : {"missing value for ", "unknown sandbox option: "}) {
        if (message.starts_with(lead) &&
            std::ranges::find(arguments, message.substr(lead.size())) != arguments.end()) {
            return;
        }
    }
    if (is_resolve_failure(message, arguments)) {
        return;
    }
    const std::string_view not_directory = "sandbox mount is not a directory: \\\\?\\";
    if (message.starts_with(not_directory)) {
        return;
    }
    fuzz_failure("unknown failure message: " + message);
}

void check_request(const SandboxRequest& request, const std::vector<std::string>& arguments) {
    for (const WideString* mount : {&request.project, &request.scratch}) {
        const auto attributes = file_attributes(*mount);
        if (!starts_with_ascii(*mount, "\\\\?\\") || !attributes ||
            (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            fuzz_failure("a mount that is not a canonical directory: " + to_utf8(*mount));
        }
    }
    if (!is_valid_profile_name(request.profile)) {
        fuzz_failure("invalid profile accepted: " + request.profile);
    }
    const auto separator = std::ranges::find(arguments, "--");
    if (separator == arguments.end() || separator + 1 == arguments.end() ||
        request.program != *(separator + 1) ||
        !std::ranges::equal(request.arguments,
                            std::vector<std::string>(separator + 2, arguments.end()))) {
        fuzz_failure("the program and its arguments are not the words after \"--\"");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> arguments = split_at_nul(data, size);
    make_machine();
    const auto request = parse_command_line(arguments);
    if (request) {
        check_request(*request, arguments);
    } else {
        check_failure(request.error().message, arguments);
    }
    return 0;
}
