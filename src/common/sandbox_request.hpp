#pragma once

#include "common/text.hpp"

#include <string>
#include <vector>

// The validated command line. The entry owns it and lends it, read-only, to the run.
struct SandboxRequest {
    WideString project; // canonical directory path ("\\?\" form)
    WideString scratch; // canonical directory path ("\\?\" form)
    std::string profile;
    std::string program;
    std::vector<std::string> arguments;
};
