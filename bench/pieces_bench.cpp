// The pieces of a run whose work grows with the caller's input, each over a range of sizes, so
// that Google Benchmark fits how their time grows.
#include "common/split_command_line.hpp"
#include "machine.hpp"
#include "paths/argument_translation.hpp"
#include "paths/environment_rewrite.hpp"
#include "platform/simulated/control.hpp"
#include "run/child_command_line.hpp"

#include <benchmark/benchmark.h>

namespace {

const std::string PROJECT = "C:\\Users\\dev\\source\\repos\\app";
const std::string SCRATCH = "C:\\Users\\dev\\AppData\\Local\\Temp\\norix-4711";

// A request as the entry makes it, without a machine behind it: the translation and the
// command line only read its texts.
SandboxRequest request_with(std::vector<std::string> arguments) {
    return SandboxRequest{.project = to_wide("\\\\?\\" + PROJECT),
                          .scratch = to_wide("\\\\?\\" + SCRATCH),
                          .profile = "norix-bench",
                          .program = "bin\\tool.exe",
                          .arguments = std::move(arguments)};
}

// `count` copies of `piece`, one after the other.
std::string repeated(std::string_view piece, std::size_t count) {
    std::string text;
    text.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i) {
        text.append(piece);
    }
    return text;
}

std::size_t total_bytes(const std::vector<std::string>& texts) {
    std::size_t total = 0;
    for (const auto& text : texts) {
        total += text.size();
    }
    return total;
}

// The launcher's environment of `count` variables, one in `host_every` naming a host directory;
// the rewrite reads it and sets the changed variables one at a time.
void rewrite_environment_of(benchmark::State& state, std::size_t count, std::size_t host_every) {
    const std::vector<std::string> entries =
        environment_entries(count, 100, host_every, PROJECT, SCRATCH);
    const MachineShape shape = {.project = PROJECT,
                                .scratch = SCRATCH,
                                .tool = "bin\\tool.exe",
                                .program = "bin\\tool.exe"};
    set_up_machine(shape);
    const SandboxRequest request = request_for(shape);
    const SandboxMounts mounts = sandbox_mounts(request, "Z:\\", "Y:\\");
    for (auto _ : state) {
        state.PauseTiming();
        sim::set_environment(entries);
        sim::clear_journal();
        state.ResumeTiming();
        rewrite_environment(mounts);
    }
    state.SetComplexityN(static_cast<std::int64_t>(count));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total_bytes(entries)));
}

// Every eighth variable names a host directory, so the variables set grow with the environment.
void rewrite_environment_bench(benchmark::State& state) {
    rewrite_environment_of(state, static_cast<std::size_t>(state.range(0)), 8);
}

// Eight variables name a host directory, however many there are.
void rewrite_eight_hosts_bench(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    rewrite_environment_of(state, count, count / 8);
}

void translate_arguments_bench(benchmark::State& state) {
    const SandboxRequest request =
        request_with(argument_mix(static_cast<std::size_t>(state.range(0)), 5, PROJECT, SCRATCH));
    const SandboxMounts mounts = sandbox_mounts(request, "Z:\\", "Y:\\");
    for (auto _ : state) {
        benchmark::DoNotOptimize(translate_arguments(request, mounts));
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * total_bytes(request.arguments)));
}

// One argument of `range(0)` bytes: host paths that run on into longer names, which the rewrite
// must look past, between ones it replaces.
void translate_long_argument_bench(benchmark::State& state) {
    const std::string piece = PROJECT + "2;" + PROJECT + "\\x;" + SCRATCH + ".old;";
    const SandboxRequest request =
        request_with({repeated(piece, static_cast<std::size_t>(state.range(0)) / piece.size())});
    const SandboxMounts mounts = sandbox_mounts(request, "Z:\\", "Y:\\");
    for (auto _ : state) {
        benchmark::DoNotOptimize(translate_arguments(request, mounts));
    }
    state.SetComplexityN(static_cast<std::int64_t>(request.arguments[0].size()));
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * request.arguments[0].size()));
}

void build_command_line_bench(benchmark::State& state) {
    const std::vector<std::string> arguments =
        argument_mix(static_cast<std::size_t>(state.range(0)), 7, PROJECT, SCRATCH);
    for (auto _ : state) {
        benchmark::DoNotOptimize(build_command_line("Z:\\bin\\tool.exe", arguments));
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total_bytes(arguments)));
}

// One argument of `range(0)` bytes made of backslash runs before quotes, before spaces and at the
// end, the cases the quoting doubles.
void quote_long_argument_bench(benchmark::State& state) {
    const std::vector<std::string> argument = {
        repeated("a\\\\\\\"b c\\\\d \\", static_cast<std::size_t>(state.range(0)) / 16)};
    for (auto _ : state) {
        benchmark::DoNotOptimize(build_command_line("Z:\\bin\\tool.exe", argument));
    }
    state.SetComplexityN(static_cast<std::int64_t>(argument[0].size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * argument[0].size()));
}

void split_command_line_bench(benchmark::State& state) {
    const WideString line = to_wide(build_command_line(
        "Z:\\bin\\tool.exe",
        argument_mix(static_cast<std::size_t>(state.range(0)), 7, PROJECT, SCRATCH)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(split_command_line(line));
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}

// One quoted argument of `range(0)` units full of escaped quotes and backslash runs.
void split_long_argument_bench(benchmark::State& state) {
    const WideString line = to_wide(build_command_line(
        "Z:\\bin\\tool.exe",
        {repeated("a\\\\\\\"b c\\\\d \\", static_cast<std::size_t>(state.range(0)) / 16)}));
    for (auto _ : state) {
        benchmark::DoNotOptimize(split_command_line(line));
    }
    state.SetComplexityN(static_cast<std::int64_t>(line.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}

// Counts of variables and arguments from a handful to well past what a 32,767-unit command line
// or a real environment holds; long texts from 1 KiB to 256 KiB.
constexpr std::int64_t FEW = 16;
constexpr std::int64_t MANY = 4096;
constexpr std::int64_t SHORT_TEXT = 1 << 10;
constexpr std::int64_t LONG_TEXT = 1 << 18;

BENCHMARK(rewrite_environment_bench)
    ->Name("rewrite_environment")
    ->ArgName("variables")
    ->RangeMultiplier(4)
    ->Range(FEW, MANY)
    ->Complexity();
BENCHMARK(rewrite_eight_hosts_bench)
    ->Name("rewrite_environment/eight_hosts")
    ->ArgName("variables")
    ->RangeMultiplier(4)
    ->Range(FEW * 4, MANY)
    ->Complexity();
BENCHMARK(translate_arguments_bench)
    ->Name("translate_arguments")
    ->ArgName("arguments")
    ->RangeMultiplier(4)
    ->Range(FEW, MANY)
    ->Complexity();
BENCHMARK(translate_long_argument_bench)
    ->Name("translate_arguments/one_long")
    ->ArgName("bytes")
    ->RangeMultiplier(4)
    ->Range(SHORT_TEXT, LONG_TEXT)
    ->Complexity();
BENCHMARK(build_command_line_bench)
    ->Name("build_command_line")
    ->ArgName("arguments")
    ->RangeMultiplier(4)
    ->Range(FEW, MANY)
    ->Complexity();
BENCHMARK(quote_long_argument_bench)
    ->Name("build_command_line/one_long")
    ->ArgName("bytes")
    ->RangeMultiplier(4)
    ->Range(SHORT_TEXT, LONG_TEXT)
    ->Complexity();
BENCHMARK(split_command_line_bench)
    ->Name("split_command_line")
    ->ArgName("arguments")
    ->RangeMultiplier(4)
    ->Range(FEW, MANY)
    ->Complexity();
BENCHMARK(split_long_argument_bench)
    ->Name("split_command_line/one_long")
    ->ArgName("units")
    ->RangeMultiplier(4)
    ->Range(SHORT_TEXT, LONG_TEXT)
    ->Complexity();

} // namespace
