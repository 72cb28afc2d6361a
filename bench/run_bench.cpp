// A whole run on the simulated Windows, from the parsed request to the child's exit code.
#include "machine.hpp"
#include "platform/simulated/control.hpp"
#include "run/run_sandbox.hpp"

#include <benchmark/benchmark.h>

namespace {

// The units of the child's command line, read from the journal of the last run.
double child_command_line_units() {
    constexpr std::string_view CREATED =
        "CreateProcessW CREATE_SUSPENDED|EXTENDED_STARTUPINFO_PRESENT inherit=1 ";
    for (const auto& line : sim::journal_of("CreateProcessW")) {
        if (line.starts_with(CREATED)) {
            return static_cast<double>(line.size() - CREATED.size()); // ASCII: bytes are units
        }
    }
    return 0;
}

void whole_run(benchmark::State& state, const MachineShape& shape) {
    set_up_machine(shape);
    const SandboxRequest request = request_for(shape);
    for (auto _ : state) {
        // Every run starts on the same fresh machine: the run rewrites the environment, and the
        // machine keeps each child's thread until it is reset.
        state.PauseTiming();
        set_up_machine(shape);
        StopSignal stop(UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)));
        state.ResumeTiming();
        const Result<int> exit_code = run_sandbox(request, stop);
        if (!exit_code || *exit_code != 0) {
            state.SkipWithError(exit_code ? "the child's exit code was not 0"
                                          : exit_code.error().message.c_str());
            return;
        }
    }
    state.counters["arguments"] = static_cast<double>(shape.arguments.size());
    state.counters["variables"] = static_cast<double>(shape.environment.size());
    state.counters["child_line"] = child_command_line_units();
}

void typical_run(benchmark::State& state) {
    static const MachineShape shape = typical_shape();
    whole_run(state, shape);
}

void large_run(benchmark::State& state) {
    static const MachineShape shape = large_shape();
    whole_run(state, shape);
}

// CPU time is the launcher's thread: the run and the simulated Windows calls it makes. The child
// program runs on a thread of its own, as the child process it stands for.
BENCHMARK(typical_run)->Name("run/typical")->Unit(benchmark::kMicrosecond);
BENCHMARK(large_run)->Name("run/large")->Unit(benchmark::kMicrosecond);

} // namespace
