#include "entry/process_entry.hpp"

#include "common/split_command_line.hpp"
#include "common/standard_error.hpp"
#include "common/windows_error.hpp"
#include "entry/command_line.hpp"
#include "entry/console_control.hpp"
#include "run/run_sandbox.hpp"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

constexpr std::string_view HELP =
    "usage: norix-native-sandbox --project <path> --scratch <path> --profile <name> --network "
    "deny\n"
    "           [--report <path>] [--timeout <seconds>] [--stop-event <name>] -- <program> "
    "[args...]\n"
    "       norix-native-sandbox --help | --version\n"
    "\n"
    "Runs <program> in an AppContainer with no capabilities, in a job that ends it and every\n"
    "process it starts, with the project and scratch directories on two drive letters; exits with\n"
    "its exit code.\n"
    "\n"
    "  --project <path>     a directory the program may read and write, its current directory\n"
    "  --scratch <path>     a second such directory, its TEMP and TMP\n"
    "  --profile <name>     the AppContainer profile, created on first use\n"
    "  --network deny       required: the program gets no network access\n"
    "  --report <path>      a JSON Lines file that tells the host how the run went\n"
    "  --timeout <seconds>  ends the program after that long (1 to 4294967), status 124\n"
    "  --stop-event <name>  a named event of the host's that ends the program, status 130\n"
    "\n"
    "Status: the program's exit code; 125 for a code of 256 or more; 124, 130 as above; 126 for a\n"
    "failure of the launcher, with one line on standard error. docs/usage.md has the details.\n";

constexpr std::string_view VERSION = "norix-native-sandbox " NORIX_VERSION "\n";

// Every argument as UTF-8 text, or nothing when one of them holds an unpaired surrogate.
std::optional<std::vector<std::string>> arguments_as_text(WideStringView command_line) {
    const std::vector<WideString> split = split_command_line(command_line);
    std::vector<std::string> arguments;
    for (std::size_t i = 1; i < split.size(); ++i) {
        auto text = to_utf8_exact(split[i]);
        if (!text) {
            return std::nullopt;
        }
        arguments.push_back(std::move(*text));
    }
    return arguments;
}

[[nodiscard]] Result<SandboxRequest> request_of(WideStringView command_line) {
    const auto arguments = arguments_as_text(command_line);
    if (!arguments) {
        return failure("command-line argument is not valid Unicode");
    }
    return parse_command_line(*arguments);
}

// The run, after which a handler waiting for the teardown is let go: when it returns or a fatal
// stop unwinds out of it, its guards have run.
[[nodiscard]] Result<int> run_to_teardown(const SandboxRequest& request,
                                          const ConsoleControl& control) {
    struct TornDown {
        const ConsoleControl& control;
        ~TornDown() { control.torn_down(); }
    } const torn_down{control};
    return run_sandbox(request, control.signal());
}

// Writes the failure line; gives the failure status.
int report(const SandboxFailure& failed) {
    const std::string line = "native sandbox failed: " + failed.message + "\n";
    if (write_standard_error(line) == StderrWrite::Failed) {
        throw FatalStop("cannot write the failure line to standard error");
    }
    return FAILURE_EXIT_STATUS;
}

} // namespace

int run_process(WideStringView command_line) {
    try {
        if (const auto information =
                help_or_version(split_command_line(command_line), HELP, VERSION)) {
            if (!write_standard_output(*information)) {
                throw FatalStop(win32_failure("cannot write to standard output").message);
            }
            return 0;
        }
        const auto request = request_of(command_line);
        if (!request) {
            return report(request.error());
        }
        // Before the run acquires anything, and until the status is settled: a console event then
        // never ends the launcher without its teardown.
        const auto control = ConsoleControl::install();
        if (!control) {
            return report(control.error());
        }
        const Result<int> outcome = run_to_teardown(*request, *control);
        return outcome ? std::clamp(*outcome, 0, 255) : report(outcome.error());
    } catch (const FatalStop& stop) {
        // The guards have released what the run made; say why, if standard error still takes it.
        write_standard_error(std::string("native sandbox fatal error: ") + stop.what() + "\n");
        return FATAL_EXIT_STATUS;
    }
}
