#include "common/trace.hpp"

#include "common/resource.hpp"
#include "common/standard_error.hpp"
#include "common/windows_error.hpp"

#include <string>

namespace {

// Kept by reference: every stage name is a literal.
std::string_view last_stage_reached;

bool trace_enabled() {
    const WideString name = to_wide("NORIX_SANDBOX_TRACE");
    // With no buffer the call reports the size a value needs, NUL included: at least 1 for a
    // defined variable, even an empty one, and 0 for an undefined one.
    return GetEnvironmentVariableW(name.c_str(), nullptr, 0) != 0;
}

void write_trace_line(std::string_view stage, const std::string& path_part) {
    last_stage_reached = stage;
    const LastErrorKept kept;
    if (trace_enabled()) {
        const std::string line = "sandbox-stage=" + std::string(stage) + path_part + "\n";
        if (write_standard_error(line) == StderrWrite::Failed) {
            throw FatalStop(win32_failure("cannot write stage trace to standard error").message);
        }
    }
}

} // namespace

void trace_stage(std::string_view stage) {
    write_trace_line(stage, {});
}

void trace_stage(std::string_view stage, WideStringView path) {
    write_trace_line(stage, " path=" + to_utf8(path));
}

std::string_view last_stage() {
    return last_stage_reached;
}

void forget_last_stage() {
    last_stage_reached = {};
}
