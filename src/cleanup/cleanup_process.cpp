#include "cleanup/cleanup_process.hpp"

#include "cleanup/recorded_letters.hpp"
#include "common/split_command_line.hpp"
#include "common/standard_error.hpp"
#include "common/windows_error.hpp"

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::string_view HELP =
    "usage: norix-native-sandbox-cleanup <scratch directory or mount record>\n"
    "       norix-native-sandbox-cleanup --help | --version\n"
    "\n"
    "Removes the drive letters that a killed norix-native-sandbox left behind, where they still\n"
    "map onto the directories its mount record names, then the record. Takes the scratch\n"
    "directory of that run, whose record lies beside it, or the record itself. A record that a\n"
    "running launcher holds, a link or a file of several names is left alone.\n"
    "\n"
    "Status: 0 when the record was read, its letters dealt with and the record deleted; else 1,\n"
    "with one line on standard error. docs/usage.md has the details.\n";

constexpr std::string_view VERSION = "norix-native-sandbox-cleanup " NORIX_VERSION "\n";

} // namespace

int run_cleanup_process(WideStringView command_line) {
    const std::vector<WideString> split = split_command_line(command_line);
    std::string report;
    Result<void> outcome = failure(std::string(CLEANUP_USAGE));
    if (const auto information = help_or_version(split, HELP, VERSION)) {
        if (write_standard_output(*information)) {
            return 0;
        }
        outcome = std::unexpected(win32_failure("cannot write to standard output"));
    } else if (split.size() == 2) {
        outcome = remove_recorded_letters(split[1], report);
    }
    if (!outcome) {
        report += "native sandbox cleanup failed: " + outcome.error().message + "\n";
    }
    const bool reported = write_standard_error(report) != StderrWrite::Failed;
    return outcome && reported ? 0 : CLEANUP_FAILURE_STATUS;
}
