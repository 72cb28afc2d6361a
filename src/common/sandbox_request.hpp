#pragma once

#include "common/text.hpp"

#include <optional>
#include <string>
#include <vector>

// The validated command line. The entry owns it and lends it, read-only, to the run.
struct SandboxRequest {
    WideString project; // canonical directory path ("\\?\" form)
    WideString scratch; // canonical directory path ("\\?\" form)
    std::string profile;
    std::string program;
    std::vector<std::string> arguments;
    // What a host that drives the run asked for, each only when given.
    std::optional<std::string> report;         // the report file's path, as typed
    std::optional<DWORD> timeout_milliseconds; // from the resume on
    std::optional<std::string> stop_event;     // the name of the host's event
};
