#include "paths/environment_rewrite.hpp"

#include "common/resource.hpp"
#include "common/text.hpp"
#include "common/windows_error.hpp"
#include "paths/host_path_rewrite.hpp"

#include <optional>
#include <vector>

namespace {

struct Variable {
    WideString name; // as it stands in the block, with its case and any unpaired surrogate
    WideString value;
};

// A copy of the launcher's variables in block order. The name of an entry ends at the first "="
// after its first character, so per-drive entries such as "=C:=C:\Work" keep their leading "=";
// an entry without such an "=" is no variable.
std::vector<Variable> environment_snapshot() {
    std::vector<Variable> variables;
    const UniqueEnvironmentBlock block(GetEnvironmentStringsW());
    if (!block) {
        throw FatalStop("failure getting env string from OS: " + os_error_text(GetLastError()));
    }
    for (const WCHAR* entry = block.get(); *entry != WCHAR{};) {
        const WideStringView text(entry);
        entry += text.size() + 1;
        const std::size_t equals = text.find(WCHAR('='), 1);
        if (equals == WideStringView::npos) {
            continue;
        }
        variables.push_back(
            {WideString(text.substr(0, equals)), WideString(text.substr(equals + 1))});
    }
    return variables;
}

void set_variable(const WideString& name, const WideString& value) {
    if (SetEnvironmentVariableW(name.c_str(), value.c_str()) == FALSE) {
        const DWORD error = GetLastError();
        throw FatalStop("failed to set environment variable \"" + to_utf8(name) + "\" to \"" +
                        to_utf8(value) + "\": " + os_error_text(error));
    }
}

// A host text and the mount text that replaces it.
struct Rule {
    std::string host;
    std::string mount;
};

Rule plain(const HostMount& mount) {
    return {mount.host, mount.mount};
}

Rule escaped(const HostMount& mount) {
    return {escape_backslashes(mount.host), escape_backslashes(mount.mount)};
}

} // namespace

std::string escape_backslashes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        out.push_back(c);
        if (c == '\\') {
            out.push_back('\\');
        }
    }
    return out;
}

void rewrite_environment(const SandboxMounts& mounts) {
    // Escaped forms go first: a plain drive-root host ("C:\") also matches the start of an
    // escaped path ("C:\\Work").
    const Rule rules[] = {escaped(mounts.project), escaped(mounts.scratch), plain(mounts.project),
                          plain(mounts.scratch)};
    for (const auto& variable : environment_snapshot()) {
        const auto value = to_utf8_exact(variable.value);
        if (!value) {
            continue;
        }
        // Most values name neither directory: they are only searched, never copied.
        std::optional<std::string> rewritten;
        for (const auto& rule : rules) {
            const std::string_view current = rewritten ? *rewritten : *value;
            if (current.find(rule.host) != std::string_view::npos) {
                rewritten = rewrite_host_path(current, rule.host, rule.mount);
            }
        }
        if (rewritten && *rewritten != *value) {
            set_variable(variable.name, to_wide(*rewritten));
        }
    }
}

void set_environment_variable(std::string_view name, std::string_view value) {
    set_variable(to_wide(name), to_wide(value));
}
