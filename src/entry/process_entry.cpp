#include "entry/process_entry.hpp"

#include "common/standard_error.hpp"
#include "entry/command_line.hpp"
#include "entry/split_command_line.hpp"
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

Result<int> run(WideStringView command_line) {
    const auto arguments = arguments_as_text(command_line);
    if (!arguments) {
        return failure("command-line argument is not valid Unicode");
    }
    const auto request = parse_command_line(*arguments);
    if (!request) {
        return std::unexpected(request.error());
    }
    return run_sandbox(*request);
}

} // namespace

int run_process(WideStringView command_line) {
    try {
        const Result<int> outcome = run(command_line);
        if (outcome) {
            return std::clamp(*outcome, 0, 255);
        }
        const std::string line = "native sandbox failed: " + outcome.error().message + "\n";
        if (write_standard_error(line) == StderrWrite::Failed) {
            throw FatalStop("cannot write the failure line to standard error");
        }
        return FAILURE_EXIT_STATUS;
    } catch (const FatalStop& stop) {
        // The guards have released what the run made; say why, if standard error still takes it.
        write_standard_error(std::string("native sandbox fatal error: ") + stop.what() + "\n");
        return FATAL_EXIT_STATUS;
    }
}
