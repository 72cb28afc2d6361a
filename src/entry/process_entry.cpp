#include "entry/process_entry.hpp"

#include "common/split_command_line.hpp"
#include "common/standard_error.hpp"
#include "entry/command_line.hpp"
#include "entry/console_control.hpp"
#include "run/run_sandbox.hpp"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

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

Result<SandboxRequest> request_of(WideStringView command_line) {
    const auto arguments = arguments_as_text(command_line);
    if (!arguments) {
        return failure("command-line argument is not valid Unicode");
    }
    return parse_command_line(*arguments);
}

// The run, after which a handler waiting for the teardown is let go: when it returns or a fatal
// stop unwinds out of it, its guards have run.
Result<int> run_to_teardown(const SandboxRequest& request, const ConsoleControl& control) {
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
