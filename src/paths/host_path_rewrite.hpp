// Host directories named in what the child is given (its arguments and environment), rewritten
// onto the drive letters that stand for them.
#pragma once

#include "common/sandbox_request.hpp"

#include <string>
#include <string_view>

// A host directory of the run and the drive letter that stands for it, formed once, when the
// letter is defined.
struct HostMount {
    WideString directory; // canonical ("\\?\C:\Work\Proj"), as the request holds it
    std::string host;     // its display form ("C:\Work\Proj"): the text that is rewritten
    std::string root;     // the mount root ("X:\")
    std::string mount;    // the root without its trailing backslashes ("X:"): what replaces `host`
};

// The run's two mounts, as environment rewriting, program resolution and argument translation use
// them.
struct SandboxMounts {
    HostMount project;
    HostMount scratch;
};

// The request's project and scratch directories with the roots of the letters defined for them.
SandboxMounts sandbox_mounts(const SandboxRequest& request, std::string_view project_root,
                             std::string_view scratch_root);

// A mount root ("X:\") with every trailing backslash removed ("X:"); a slash is kept.
std::string strip_trailing_backslashes(std::string_view root);

// Every occurrence of `host` in `text` replaced by `mount`, found left to right by exact,
// case-sensitive comparison, without overlap, the replacement never searched again. An occurrence
// that runs on into a longer file name ("C:\Work\Project2", "C:\Work\Proj.txt" for the host
// "C:\Work\Proj") names another file and is left alone; a host that ends with a separator (a drive
// root, "C:\") has already ended its last name, so it is replaced wherever it occurs.
std::string rewrite_host_path(std::string_view text, std::string_view host, std::string_view mount);
