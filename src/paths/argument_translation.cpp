#include "paths/argument_translation.hpp"

#include "paths/host_path_rewrite.hpp"

namespace {

std::string translate(std::string_view argument, const HostMount& project,
                      const HostMount& scratch) {
    return rewrite_host_path(rewrite_host_path(argument, project.host, project.mount), scratch.host,
                             scratch.mount);
}

} // namespace

std::vector<std::string> translate_arguments(const SandboxRequest& request,
                                             std::string_view project_root,
                                             std::string_view scratch_root) {
    const HostMount project = project_host_mount(request, project_root);
    const HostMount scratch = scratch_host_mount(request, scratch_root);
    std::vector<std::string> translated;
    translated.reserve(request.arguments.size());
    for (const auto& argument : request.arguments) {
        translated.push_back(translate(argument, project, scratch));
    }
    return translated;
}

std::string translate_argument(std::string_view argument, const SandboxRequest& request,
                               std::string_view project_root, std::string_view scratch_root) {
    return translate(argument, project_host_mount(request, project_root),
                     scratch_host_mount(request, scratch_root));
}
