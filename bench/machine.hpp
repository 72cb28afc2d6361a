// The inputs the benchmarks run on: a simulated machine with a project and a scratch directory,
// the launcher's environment and the program's arguments, in a typical and a large shape.
#pragma once

#include "common/sandbox_request.hpp"

#include <cstddef>
#include <string>
#include <vector>

struct MachineShape {
    std::string project; // host paths as a caller types them
    std::string scratch;
    std::string tool;                     // where the program lies in the project ("bin\\tool.exe")
    std::string program;                  // as the caller names it
    std::vector<std::string> environment; // "NAME=value" entries in block order
    std::vector<std::string> arguments;
};

// 30 variables as a developer's Windows session has them (three name the project or scratch
// directory), 10 arguments, paths of about 30 units, a program relative to the project.
MachineShape typical_shape();

// 500 variables with 200-byte values, 1 in 10 naming the project or scratch directory; project
// and scratch paths of 250 units; an absolute program in the project; 2,000 arguments (1 in 50 a
// host path) that fill the launcher's own command line to the 32,767-unit limit of Windows.
MachineShape large_shape();

// A path of exactly `length` units: `stem`, filler directories, then `leaf` padded to fit.
std::string long_path(const std::string& stem, const std::string& leaf, std::size_t length);

// `count` variables with values of at least `value_length` bytes; every `host_every`-th names
// the project or scratch directory, every other one of those with doubled backslashes.
std::vector<std::string> environment_entries(std::size_t count, std::size_t value_length,
                                             std::size_t host_every, const std::string& project,
                                             const std::string& scratch);

// `count` arguments of about 10 bytes cycling through what a caller passes: words, options, texts
// with spaces, quotes or trailing backslashes; every `host_every`-th is a project or scratch path.
std::vector<std::string> argument_mix(std::size_t count, std::size_t host_every,
                                      const std::string& project, const std::string& scratch);

// The launcher's own argument list for the shape, without its name.
std::vector<std::string> launcher_arguments(const MachineShape& shape);

// A fresh simulated machine holding the shape's directories, its program (which exits with 0)
// and its environment, with tracing off.
void set_up_machine(const MachineShape& shape);

// The request the entry makes of the shape's command line, on a machine set up for it.
SandboxRequest request_for(const MachineShape& shape);
