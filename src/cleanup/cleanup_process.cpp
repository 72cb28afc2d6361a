#include "cleanup/cleanup_process.hpp"

#include "cleanup/recorded_letters.hpp"
#include "common/split_command_line.hpp"
#include "common/standard_error.hpp"

#include <string>
#include <vector>

int run_cleanup_process(WideStringView command_line) {
    const std::vector<WideString> split = split_command_line(command_line);
    std::string report;
    Result<void> outcome = failure(std::string(CLEANUP_USAGE));
    if (split.size() == 2) {
        outcome = remove_recorded_letters(split[1], report);
    }
    if (!outcome) {
        report += "native sandbox cleanup failed: " + outcome.error().message + "\n";
    }
    const bool reported = write_standard_error(report) != StderrWrite::Failed;
    return outcome && reported ? 0 : CLEANUP_FAILURE_STATUS;
}
