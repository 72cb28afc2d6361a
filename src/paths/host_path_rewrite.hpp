// Host directories named in what the child is given (its arguments and environment), rewritten
// onto the drive letters that stand for them.
#pragma once

#include "common/sandbox_request.hpp"

#include <string>
#include <string_view>

// A host directory and the text that replaces it: the display form of the directory
// ("C:\Work\Proj") and the mount root without its trailing backslashes ("X:").
struct HostMount {
    std::string host;
    std::string mount;
};

// The project's and the scratch directory's host texts with the mount roots that replace them.
HostMount project_host_mount(const SandboxRequest& request, std::string_view project_root);
HostMount scratch_host_mount(const SandboxRequest& request, std::string_view scratch_root);

// A mount root ("X:\") with every trailing backslash removed ("X:"); a slash is kept.
std::string strip_trailing_backslashes(std::string_view root);

// Every occurrence of `host` in `text` replaced by `mount`, found left to right by exact,
// case-sensitive comparison, without overlap, the replacement never searched again. An occurrence
// that runs on into a longer file name ("C:\Work\Project2", "C:\Work\Proj.txt" for the host
// "C:\Work\Proj") names another file and is left alone; a host that ends with a separator (a drive
// root, "C:\") has already ended its last name, so it is replaced wherever it occurs.
std::string rewrite_host_path(std::string_view text, std::string_view host, std::string_view mount);
