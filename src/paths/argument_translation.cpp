#include "paths/argument_translation.hpp"

std::vector<std::string> translate_arguments(const SandboxRequest& request,
                                             const SandboxMounts& mounts) {
    std::vector<std::string> translated;
    translated.reserve(request.arguments.size());
    for (const auto& argument : request.arguments) {
        translated.push_back(translate_argument(argument, mounts));
    }
    return translated;
}

std::string translate_argument(std::string_view argument, const SandboxMounts& mounts) {
    const HostMount& project = mounts.project;
    const HostMount& scratch = mounts.scratch;
    return rewrite_host_path(rewrite_host_path(argument, project.host, project.mount), scratch.host,
                             scratch.mount);
}
