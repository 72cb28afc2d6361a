#include "machine.hpp"

#include "entry/command_line.hpp"
#include "paths/environment_rewrite.hpp"
#include "platform/simulated/control.hpp"
#include "run/child_command_line.hpp"

#include <cstdio>
#include <cstdlib>

namespace {

// CreateProcessW takes at most 32,767 units, the terminating NUL included.
constexpr std::size_t COMMAND_LINE_LIMIT = 32'766;
constexpr const char* LAUNCHER = "norix-native-sandbox.exe";

[[noreturn]] void give_up(const std::string& why) {
    std::fprintf(stderr, "benchmark input: %s\n", why.c_str());
    std::abort();
}

// `n` in decimal with leading zeros to `width` digits.
std::string digits(std::size_t n, std::size_t width) {
    std::string text = std::to_string(n);
    return text.size() < width ? std::string(width - text.size(), '0') + text : text;
}

std::string padded(std::string text, std::size_t length, char filler) {
    if (text.size() < length) {
        text.append(length - text.size(), filler);
    }
    return text;
}

} // namespace

std::string long_path(const std::string& stem, const std::string& leaf, std::size_t length) {
    std::string path = stem;
    for (std::size_t level = 0; path.size() + 20 + leaf.size() < length; ++level) {
        path += "\\level-" + digits(level, 2) + "-directory";
    }
    path += "\\" + leaf;
    if (path.size() > length) {
        give_up("no path of " + std::to_string(length) + " units from " + stem);
    }
    return padded(path, length, 'x');
}

std::vector<std::string> environment_entries(std::size_t count, std::size_t value_length,
                                             std::size_t host_every, const std::string& project,
                                             const std::string& scratch) {
    std::vector<std::string> entries = {"=C:=C:\\", "ProgramFiles=C:\\Program Files",
                                        "ProgramFiles(x86)=C:\\Program Files (x86)",
                                        "SystemRoot=C:\\Windows"};
    for (std::size_t i = entries.size(); i < count; ++i) {
        std::string value;
        if (i % host_every == 0) {
            const std::string& host = (i / host_every) % 2 == 0 ? project : scratch;
            value = (i / host_every) % 4 < 2 ? host + "\\bin;C:\\Windows"
                                             : escape_backslashes(host + "\\cache");
        } else {
            value = "C:\\Tools\\suite-" + digits(i, 3) + "\\bin;C:\\Tools\\shared";
        }
        entries.push_back("BENCH_VARIABLE_" + digits(i, 3) + "=" +
                          padded(value, value_length, ';'));
    }
    entries.resize(count);
    return entries;
}

std::vector<std::string> argument_mix(std::size_t count, std::size_t host_every,
                                      const std::string& project, const std::string& scratch) {
    std::vector<std::string> arguments;
    arguments.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i % host_every == host_every - 1) {
            arguments.push_back((i / host_every) % 2 == 0
                                    ? project + "\\src\\f" + digits(i, 4) + ".c"
                                    : "--out=" + scratch + "\\o" + digits(i, 4));
            continue;
        }
        switch (i % 6) {
        case 0:
            arguments.push_back("file" + digits(i, 4) + ".c");
            break;
        case 1:
            arguments.push_back("--jobs=" + std::to_string(i));
            break;
        case 2:
            arguments.push_back("a b " + std::to_string(i));
            break;
        case 3:
            arguments.push_back("say \"" + std::to_string(i) + "\"");
            break;
        case 4:
            arguments.push_back("C:\\my " + std::to_string(i) + "\\");
            break;
        default:
            arguments.push_back("x\\\\\"" + std::to_string(i));
            break;
        }
    }
    return arguments;
}

MachineShape typical_shape() {
    MachineShape shape;
    shape.project = "C:\\Users\\dev\\source\\repos\\app";
    shape.scratch = "C:\\Users\\dev\\AppData\\Local\\Temp\\norix-4711";
    shape.tool = "bin\\tool.exe";
    shape.program = shape.tool;
    const std::string& p = shape.project;
    shape.environment = {
        "=C:=" + p,
        "ALLUSERSPROFILE=C:\\ProgramData",
        "APPDATA=C:\\Users\\dev\\AppData\\Roaming",
        "CommonProgramFiles=C:\\Program Files\\Common Files",
        "COMPUTERNAME=DEVBOX",
        "DriverData=C:\\Windows\\System32\\Drivers\\DriverData",
        "HOMEDRIVE=C:",
        "HOMEPATH=\\Users\\dev",
        "LOCALAPPDATA=C:\\Users\\dev\\AppData\\Local",
        "NUMBER_OF_PROCESSORS=8",
        "OS=Windows_NT",
        "Path=" + p +
            "\\bin;C:\\Windows\\system32;C:\\Windows;C:\\Windows\\System32\\Wbem;"
            "C:\\Program Files\\Git\\cmd;C:\\Users\\dev\\.cargo\\bin",
        "PATHEXT=.COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC",
        "PROCESSOR_ARCHITECTURE=AMD64",
        "PROCESSOR_IDENTIFIER=Intel64 Family 6 Model 158 Stepping 10, GenuineIntel",
        "ProgramData=C:\\ProgramData",
        "ProgramFiles=C:\\Program Files",
        "ProgramFiles(x86)=C:\\Program Files (x86)",
        "ProgramW6432=C:\\Program Files",
        "PSModulePath=C:\\Program Files\\WindowsPowerShell\\Modules",
        "PUBLIC=C:\\Users\\Public",
        "SystemDrive=C:",
        "SystemRoot=C:\\Windows",
        "TEMP=C:\\Users\\dev\\AppData\\Local\\Temp",
        "TMP=C:\\Users\\dev\\AppData\\Local\\Temp",
        "USERDOMAIN=DEVBOX",
        "USERNAME=dev",
        "USERPROFILE=C:\\Users\\dev",
        "windir=C:\\Windows",
        "CARGO_TARGET_DIR=" + shape.scratch + "\\target",
    };
    shape.arguments = {"build",           "--release",
                       "--manifest-path", p + "\\Cargo.toml",
                       "--jobs",          "8",
                       "--message",       "hello world",
                       "--quiet",         "--out-dir=" + shape.scratch + "\\out"};
    return shape;
}

MachineShape large_shape() {
    MachineShape shape;
    shape.project = long_path("C:\\Users\\developer\\work", "project", 250);
    shape.scratch = long_path("C:\\Users\\developer\\work", "scratch", 250);
    // The simulated Windows only opens paths under 260 units in their plain form.
    shape.tool = "t.exe";
    shape.program = shape.project + "\\" + shape.tool;
    shape.environment = environment_entries(500, 200, 10, shape.project, shape.scratch);
    shape.arguments = argument_mix(2000, 100, shape.project, shape.scratch);

    // Lengthen the bare words (written as they are) until the launcher's command line is full.
    std::vector<std::string> launcher = {LAUNCHER};
    for (auto& argument : launcher_arguments(shape)) {
        launcher.push_back(std::move(argument));
    }
    const std::size_t used =
        build_command_line(launcher[0], {launcher.begin() + 1, launcher.end()}).size();
    if (used > COMMAND_LINE_LIMIT) {
        give_up("the large arguments take " + std::to_string(used) + " units before padding");
    }
    std::size_t missing = COMMAND_LINE_LIMIT - used;
    const std::size_t words = (shape.arguments.size() + 5) / 6;
    for (std::size_t i = 0; i < shape.arguments.size() && missing > 0; i += 6) {
        const std::size_t extra = std::min(missing, (missing + words - 1) / words);
        shape.arguments[i].insert(4, extra, 'x');
        missing -= extra;
    }
    return shape;
}

std::vector<std::string> launcher_arguments(const MachineShape& shape) {
    std::vector<std::string> arguments = {"--project", shape.project, "--scratch", shape.scratch,
                                          "--profile", "norix-bench", "--network", "deny",
                                          "--",        shape.program};
    arguments.insert(arguments.end(), shape.arguments.begin(), shape.arguments.end());
    return arguments;
}

void set_up_machine(const MachineShape& shape) {
    sim::reset();
    sim::make_directory(shape.project);
    sim::make_directory(shape.scratch);
    sim::register_program(shape.project + "\\" + shape.tool,
                          [](const sim::ChildView&) { return 0U; });
    sim::set_environment(shape.environment);
}

SandboxRequest request_for(const MachineShape& shape) {
    auto request = parse_command_line(launcher_arguments(shape));
    if (!request) {
        give_up(request.error().message);
    }
    return std::move(*request);
}
