#include "paths/host_path_rewrite.hpp"

#include "paths/path_forms.hpp"

namespace {

// Whether `c` can continue a file name: an ASCII letter or digit, ".", "-", "_", or any byte of a
// character outside ASCII.
bool continues_name(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= '0' && byte <= '9') || byte == '.' || byte == '-' || byte == '_' ||
           byte >= 0x80;
}

bool ends_with_separator(std::string_view text) {
    return !text.empty() && (text.back() == '\\' || text.back() == '/');
}

HostMount host_mount(const WideString& directory, std::string_view root) {
    return {directory, display_path(directory), std::string(root),
            strip_trailing_backslashes(root)};
}

} // namespace

SandboxMounts sandbox_mounts(const SandboxRequest& request, std::string_view project_root,
                             std::string_view scratch_root) {
    return {host_mount(request.project, project_root), host_mount(request.scratch, scratch_root)};
}

std::string strip_trailing_backslashes(std::string_view root) {
    while (!root.empty() && root.back() == '\\') {
        root.remove_suffix(1);
    }
    return std::string(root);
}

std::string rewrite_host_path(std::string_view text, std::string_view host,
                              std::string_view mount) {
    if (host.empty()) {
        return std::string(text);
    }
    const bool host_is_complete = ends_with_separator(host);
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0; // text before this is already in `out`
    std::size_t search = 0;
    for (std::size_t at = text.find(host); at != std::string_view::npos;
         at = text.find(host, search)) {
        const std::size_t end = at + host.size();
        if (!host_is_complete && end < text.size() && continues_name(text[end])) {
            search = at + 1; // not a match: a later one may start inside it
            continue;
        }
        out.append(text.substr(copied, at - copied));
        out.append(mount);
        copied = search = end;
    }
    out.append(text.substr(copied));
    return out;
}
