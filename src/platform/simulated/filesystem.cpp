// Volumes, directories, files and links, with the Win32 path rules that Windows applies.
#include "platform/simulated/world.hpp"

#include <algorithm>
#include <cstring>

namespace sim::detail {
namespace {

struct Node {
    enum class Type { Directory, File, Symlink, Junction };
    Type type = Type::Directory;
    std::u16string name;                                      // as stored on disk
    std::map<std::u16string, std::shared_ptr<Node>> children; // by folded name
    // A file's data, shared by its hard links: each name is a node of its own.
    std::shared_ptr<std::string> content = std::make_shared<std::string>();
    std::u16string target;       // links
    bool directory_link = true;  // a symbolic link made for a directory (junctions always are)
    bool delete_pending = false; // deleted, its name gone once its last handle closes
    DWORD deny = 0;              // opening fails with this
    Node* parent = nullptr;
    Dacl dacl = std::vector<sim::AccessEntry>{{"S-1-5-32-544", 0x001F01FF, 3}};
};

struct Volume {
    std::u16string dos_name; // "C:" or "UNC\server\share"
    std::shared_ptr<Node> root = std::make_shared<Node>();
};

struct FileSystem {
    std::map<std::u16string, Volume> volumes; // by folded device: "C:", "UNC\SERVER\SHARE"
    // DOS device table: "X:" (folded) to its definitions, newest last.
    std::map<std::u16string, std::vector<std::u16string>> dos_devices;
    std::vector<std::u16string> protected_devices; // defined at system start
};

FileSystem& fs() {
    static FileSystem instance;
    return instance;
}

bool is_separator(char16_t c) {
    return c == u'\\' || c == u'/';
}

std::vector<std::u16string> split(std::u16string_view text, bool verbatim) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (const char16_t c : text) {
        if (verbatim ? c == u'\\' : is_separator(c)) {
            parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    parts.push_back(current);
    return parts;
}

std::u16string join(const std::vector<std::u16string>& names, std::u16string_view separator) {
    std::u16string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out.append(separator);
        }
        out.append(names[i]);
    }
    return out;
}

// Where a resolved path ended: the volume, the chain of nodes below its root.
struct Location {
    Volume* volume = nullptr;
    std::vector<Node*> chain; // root first
    Node* node() const { return chain.back(); }
    std::u16string final_path() const {
        std::u16string path = u"\\\\?\\" + volume->dos_name + u"\\";
        std::vector<std::u16string> names;
        for (std::size_t i = 1; i < chain.size(); ++i) {
            names.push_back(chain[i]->name);
        }
        return path + join(names, u"\\");
    }
};

struct Resolved {
    std::optional<Location> location;
    // For a missing last name: the directory that would hold it, and the name.
    std::optional<Location> parent;
    std::u16string missing_name;
    DWORD error = 0;
};

Resolved failed(DWORD error) {
    return Resolved{std::nullopt, std::nullopt, {}, error};
}

constexpr int MAX_REPARSE = 63;

Resolved resolve_nt(std::u16string_view nt_path, bool follow_last, int depth);

// A full Win32 path ("C:\x", "\\srv\share\x", "\\.\x") as an NT path under "\??\".
std::u16string nt_from_full(std::u16string_view full) {
    if (full.starts_with(u"\\\\.\\")) {
        return u"\\??\\" + std::u16string(full.substr(4));
    }
    if (full.size() >= 2 && is_separator(full[0]) && is_separator(full[1])) {
        return u"\\??\\UNC\\" + std::u16string(full.substr(2));
    }
    return u"\\??\\" + std::u16string(full);
}

// Where a link's target leads, with the names after the link appended.
std::optional<std::u16string> link_destination(const Location& link_parent,
                                               const std::u16string& target,
                                               const std::vector<std::u16string>& rest) {
    std::u16string base;
    if (target.starts_with(u"\\??\\")) {
        base = target;
    } else {
        std::u16string full = target;
        if (!(full.size() >= 3 && full[1] == u':' && is_separator(full[2])) &&
            !(full.size() >= 2 && is_separator(full[0]) && is_separator(full[1]))) {
            // Relative to the directory holding the link.
            std::u16string dir = link_parent.final_path().substr(4);
            if (!dir.ends_with(u'\\')) {
                dir.push_back(u'\\');
            }
            full = dir + target;
        }
        DWORD error = 0;
        const auto normal = full_path_of(full, error);
        if (!normal) {
            return std::nullopt;
        }
        base = nt_from_full(*normal);
    }
    for (const auto& name : rest) {
        if (!base.ends_with(u'\\')) {
            base.push_back(u'\\');
        }
        base += name;
    }
    return base;
}

Resolved walk(Volume& volume, const std::vector<std::u16string>& names, bool follow_last,
              int depth) {
    Location here{&volume, {volume.root.get()}};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        Node* dir = here.node();
        if (dir->type != Node::Type::Directory) {
            return failed(ERROR_PATH_NOT_FOUND);
        }
        const auto found = dir->children.find(fold_case(names[i]));
        if (found == dir->children.end()) {
            if (last) {
                return Resolved{std::nullopt, here, names[i], ERROR_FILE_NOT_FOUND};
            }
            return failed(ERROR_PATH_NOT_FOUND);
        }
        Node* node = found->second.get();
        const bool is_link =
            node->type == Node::Type::Symlink || node->type == Node::Type::Junction;
        if (is_link && (!last || follow_last)) {
            if (depth >= MAX_REPARSE) {
                return failed(ERROR_CANT_RESOLVE_FILENAME);
            }
            const std::vector<std::u16string> rest(names.begin() + static_cast<long>(i) + 1,
                                                   names.end());
            const auto destination = link_destination(here, node->target, rest);
            if (!destination) {
                return failed(ERROR_PATH_NOT_FOUND);
            }
            return resolve_nt(*destination, follow_last, depth + 1);
        }
        here.chain.push_back(node);
    }
    return Resolved{here, std::nullopt, {}, 0};
}

Resolved resolve_nt(std::u16string_view nt_path, bool follow_last, int depth) {
    if (!nt_path.starts_with(u"\\??\\")) {
        return failed(ERROR_PATH_NOT_FOUND);
    }
    auto parts = split(nt_path.substr(4), true);
    if (parts.back().empty()) {
        parts.pop_back(); // a trailing separator
    }
    if (parts.empty()) {
        return failed(ERROR_INVALID_NAME);
    }
    std::u16string device = fold_case(parts[0]);
    std::size_t first_name = 1;
    if (device == u"UNC") {
        if (parts.size() < 3) {
            return failed(ERROR_BAD_PATHNAME);
        }
        device = fold_case(u"UNC\\" + parts[1] + u"\\" + parts[2]);
        first_name = 3;
    }
    std::vector<std::u16string> names(parts.begin() + static_cast<long>(first_name), parts.end());
    for (const auto& name : names) {
        if (name.empty() || name == u"." || name == u".." ||
            name.find_first_of(u"/<>\"|?*") != std::u16string::npos) {
            return failed(ERROR_INVALID_NAME);
        }
    }
    if (const auto volume = fs().volumes.find(device);
        volume != fs().volumes.end() && device.starts_with(u"UNC\\")) {
        return walk(volume->second, names, follow_last, depth);
    }
    const auto defined = fs().dos_devices.find(device);
    if (defined == fs().dos_devices.end() || defined->second.empty()) {
        return failed(ERROR_PATH_NOT_FOUND);
    }
    const std::u16string& target = defined->second.back();
    if (target.starts_with(u"\\Device\\")) {
        const auto volume = fs().volumes.find(device);
        if (volume == fs().volumes.end()) {
            return failed(ERROR_PATH_NOT_FOUND);
        }
        return walk(volume->second, names, follow_last, depth);
    }
    if (depth >= MAX_REPARSE) {
        return failed(ERROR_CANT_RESOLVE_FILENAME);
    }
    // A letter defined onto a raw NT path: the rest of the path continues below its target.
    std::u16string through = target;
    for (const auto& name : names) {
        if (!through.ends_with(u'\\')) {
            through.push_back(u'\\');
        }
        through += name;
    }
    return resolve_nt(through, follow_last, depth + 1);
}

// A path as CreateFileW takes it, as an NT path; 0 or the error.
std::optional<std::u16string> nt_path_for(std::u16string_view path, DWORD& error) {
    if (path.starts_with(u"\\\\?\\")) {
        return u"\\??\\" + std::u16string(path.substr(4));
    }
    const auto full = full_path_of(path, error);
    if (!full) {
        return std::nullopt;
    }
    // Long paths are not enabled (LongPathsEnabled, and a manifest that opts in): only "\\?\"
    // paths may reach MAX_PATH units.
    if (full->size() >= MAX_PATH) {
        error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    return nt_from_full(*full);
}

Resolved resolve_win32(std::u16string_view path, bool follow_last) {
    DWORD error = 0;
    const auto nt = nt_path_for(path, error);
    if (!nt) {
        return failed(error);
    }
    return resolve_nt(*nt, follow_last, 0);
}

// What of a file's data an open reads, writes or deletes: only that takes part in sharing. An
// open for none of it (access 0, for the name or the attributes) needs no sharing from the opens
// before it and denies nothing to the opens after it.
struct DataAccess {
    bool read = false;
    bool write = false;
    bool remove = false;
};

DataAccess data_access(DWORD access) {
    constexpr DWORD ALL = 0x10000000;       // GENERIC_ALL
    constexpr DWORD EXECUTE = 0x20000000;   // GENERIC_EXECUTE
    constexpr DWORD READ_DATA = 0x1 | 0x20; // FILE_READ_DATA, FILE_EXECUTE
    constexpr DWORD WRITE_DATA = 0x2 | 0x4; // FILE_WRITE_DATA, FILE_APPEND_DATA
    return {(access & (GENERIC_READ | EXECUTE | READ_DATA | ALL)) != 0,
            (access & (GENERIC_WRITE | WRITE_DATA | ALL)) != 0, (access & (DELETE | ALL)) != 0};
}

struct FileObject : Object {
    Location location;
    std::shared_ptr<Node> keep_alive;
    DataAccess access;
    DWORD share = 0;
    std::size_t read_position = 0;
    const char* kind() const override { return "file"; }
    DWORD file_type() const override { return FILE_TYPE_DISK; }
    DWORD write(std::string_view bytes) override {
        if (!access.write) {
            return ERROR_ACCESS_DENIED;
        }
        keep_alive->content->append(bytes);
        return 0;
    }
    void last_handle_closed() override;
};

// Whether another handle has `node` open.
bool open_elsewhere(const Node* node) {
    return std::ranges::any_of(world().handles, [&](const auto& handle) {
        const auto open = std::dynamic_pointer_cast<FileObject>(handle.second.object);
        return open && open->keep_alive.get() == node;
    });
}

// A deleted name goes once nothing has it open any more.
void FileObject::last_handle_closed() {
    Node* node = keep_alive.get();
    if (!node->delete_pending || open_elsewhere(node) || node->parent == nullptr) {
        return;
    }
    auto& siblings = node->parent->children;
    if (const auto found = siblings.find(fold_case(node->name));
        found != siblings.end() && found->second.get() == node) {
        siblings.erase(found);
    }
}

bool is_directory_node(const Node& node) {
    return node.type == Node::Type::Directory || node.type == Node::Type::Junction ||
           (node.type == Node::Type::Symlink && node.directory_link);
}

// Whether an open of `node` for `access` with `share` conflicts with an open handle of the same
// file (under any of its names): one asks for what the other does not share.
bool violates_sharing(const Node* node, DataAccess access, DWORD share) {
    const auto refuses = [](const DataAccess& wanted, DWORD shared) {
        return (wanted.read && (shared & FILE_SHARE_READ) == 0) ||
               (wanted.write && (shared & FILE_SHARE_WRITE) == 0) ||
               (wanted.remove && (shared & FILE_SHARE_DELETE) == 0);
    };
    const auto uses_data = [](const DataAccess& a) { return a.read || a.write || a.remove; };
    if (!uses_data(access)) {
        return false;
    }
    return std::ranges::any_of(world().handles, [&](const auto& handle) {
        const auto open = std::dynamic_pointer_cast<FileObject>(handle.second.object);
        return open && open->keep_alive->content == node->content && uses_data(open->access) &&
               (refuses(access, open->share) || refuses(open->access, share));
    });
}

struct FindObject : Object {
    const char* kind() const override { return "find"; }
};

std::shared_ptr<Node> shared_node(Node* node) {
    if (node->parent == nullptr) {
        for (auto& [key, volume] : fs().volumes) {
            if (volume.root.get() == node) {
                return volume.root;
            }
        }
        return nullptr;
    }
    return node->parent->children.at(fold_case(node->name));
}

DWORD attributes_of(const Node& node) {
    switch (node.type) {
    case Node::Type::Directory:
        return FILE_ATTRIBUTE_DIRECTORY;
    case Node::Type::File:
        return FILE_ATTRIBUTE_ARCHIVE;
    case Node::Type::Symlink:
        return FILE_ATTRIBUTE_REPARSE_POINT |
               (node.directory_link ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    case Node::Type::Junction:
        return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return 0;
}

std::u16string current_drive_root() {
    const auto& cwd = current_process().current_directory;
    if (cwd.size() >= 2 && cwd[1] == u':') {
        return cwd.substr(0, 2);
    }
    // A share: "\\server\share".
    const auto parts = split(cwd.substr(2), false);
    return u"\\\\" + parts[0] + u"\\" + (parts.size() > 1 ? parts[1] : u"");
}

std::u16string environment_value(std::u16string_view name) {
    const std::u16string wanted = fold_case(name) + u"=";
    for (const auto& entry : current_process().environment) {
        if (fold_case(entry.substr(0, wanted.size())) == wanted) {
            return entry.substr(wanted.size());
        }
    }
    return {};
}

Node* make_node(std::string_view path, Node::Type type, bool parents) {
    DWORD error = 0;
    const auto full = full_path_of(utf16(path), error);
    if (!full) {
        throw std::logic_error("sim: not a path: " + std::string(path));
    }
    const auto nt = nt_from_full(*full);
    auto parts = split(std::u16string_view(nt).substr(4), true);
    if (parts.back().empty()) {
        parts.pop_back();
    }
    std::u16string device = fold_case(parts[0]);
    std::size_t first = 1;
    if (device == u"UNC") {
        device = fold_case(u"UNC\\" + parts[1] + u"\\" + parts[2]);
        first = 3;
    }
    Node* node = fs().volumes.at(device).root.get();
    for (std::size_t i = first; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        auto& slot = node->children[fold_case(parts[i])];
        if (!slot) {
            if (!last && !parents) {
                throw std::logic_error("sim: missing parent of " + std::string(path));
            }
            slot = std::make_shared<Node>();
            slot->name = parts[i];
            slot->parent = node;
            slot->type = last ? type : Node::Type::Directory;
            slot->dacl = inherited_entries(node->dacl, slot->type == Node::Type::Directory);
        } else if (last) {
            slot->type = type;
        }
        node = slot.get();
    }
    return node;
}

} // namespace

std::optional<std::u16string> full_path_of(std::u16string_view path, DWORD& error) {
    if (path.starts_with(u"\\\\?\\")) {
        return std::u16string(path);
    }
    if (path.empty()) {
        error = ERROR_INVALID_NAME;
        return std::nullopt;
    }
    std::u16string text(path);
    std::ranges::replace(text, u'/', u'\\');
    std::u16string root;
    std::u16string rest;
    if (text.starts_with(u"\\\\.\\") || text.starts_with(u"\\\\?\\")) {
        const auto end = text.find(u'\\', 4);
        root = text.substr(0, end == std::u16string::npos ? text.size() : end);
        rest = end == std::u16string::npos ? u"" : text.substr(end);
    } else if (text.starts_with(u"\\\\")) {
        const auto parts = split(std::u16string_view(text).substr(2), true);
        root = u"\\\\" + parts[0] + (parts.size() > 1 ? u"\\" + parts[1] : u"");
        rest = root.size() < text.size() ? text.substr(root.size()) : u"";
    } else if (text.size() >= 2 && text[1] == u':') {
        root = text.substr(0, 2);
        root[0] = fold_case(root.substr(0, 1))[0];
        rest = text.substr(2);
        if (rest.empty() || rest[0] != u'\\') {
            // Drive-relative: that drive's current directory.
            const auto& cwd = current_process().current_directory;
            std::u16string base;
            if (fold_case(cwd.substr(0, 2)) == root) {
                base = cwd;
            } else if (auto remembered = environment_value(u"=" + root); !remembered.empty()) {
                base = remembered;
            } else {
                base = root + u"\\";
            }
            rest = base.substr(2) + u"\\" + rest;
        }
    } else if (text[0] == u'\\') {
        root = current_drive_root();
        rest = text;
    } else {
        const auto& cwd = current_process().current_directory;
        root = current_drive_root();
        rest = cwd.substr(root.size()) + u"\\" + text;
    }
    const bool trailing_separator = text.ends_with(u'\\');
    std::vector<std::u16string> names;
    for (auto& name : split(rest, true)) {
        if (name.empty() || name == u".") {
            continue;
        }
        if (name == u"..") {
            if (!names.empty()) {
                names.pop_back();
            }
            continue;
        }
        names.push_back(name);
    }
    if (!trailing_separator && !names.empty()) {
        auto& last = names.back();
        while (!last.empty() && (last.back() == u'.' || last.back() == u' ')) {
            last.pop_back();
        }
        if (last.empty()) {
            names.pop_back();
        }
    }
    std::u16string full = root + u"\\" + join(names, u"\\");
    if (trailing_separator && !names.empty()) {
        full.push_back(u'\\');
    }
    return full;
}

Dacl* file_dacl(std::u16string_view path, DWORD& error) {
    const auto resolved = resolve_win32(path, true);
    if (!resolved.location) {
        error = resolved.error;
        return nullptr;
    }
    Node* node = resolved.location->node();
    if (node->deny != 0) {
        error = node->deny;
        return nullptr;
    }
    return &node->dacl;
}

void propagate_inheritance(std::u16string_view path) {
    const auto resolved = resolve_win32(path, true);
    if (!resolved.location) {
        return;
    }
    const auto pass_on = [](const auto& self, const Node& parent) -> void {
        for (const auto& [name, child] : parent.children) {
            const bool directory = child->type == Node::Type::Directory;
            if (!child->dacl || (!directory && child->type != Node::Type::File)) {
                continue; // links keep their own
            }
            std::erase_if(*child->dacl, [](const AccessEntry& entry) { return entry.inherited; });
            std::ranges::copy(inherited_entries(parent.dacl, directory),
                              std::back_inserter(*child->dacl));
            if (directory) {
                self(self, *child);
            }
        }
    };
    pass_on(pass_on, *resolved.location->node());
}

std::optional<std::u16string> final_file_path(std::u16string_view path) {
    const auto resolved = resolve_win32(path, true);
    if (!resolved.location || resolved.location->node()->type != Node::Type::File) {
        return std::nullopt;
    }
    return resolved.location->final_path();
}

bool is_directory(std::u16string_view path) {
    const auto resolved = resolve_win32(path, true);
    return resolved.location && resolved.location->node()->type == Node::Type::Directory;
}

void reset_files() {
    fs() = FileSystem{};
    add_volume('C');
    make_node("C:\\Windows\\System32", Node::Type::Directory, true);
    make_node("C:\\Program Files", Node::Type::Directory, true);
    make_node("C:\\Program Files (x86)", Node::Type::Directory, true);
    make_node("C:\\ProgramData", Node::Type::Directory, true);
    make_node("C:\\Users\\me", Node::Type::Directory, true);
    current_process().current_directory = u"C:\\";
}

} // namespace sim::detail

using namespace sim::detail;

DWORD GetFullPathNameW(LPCWSTR file_name, DWORD buffer_length, LPWSTR buffer, LPWSTR* file_part) {
    Guard guard;
    const std::u16string_view path(file_name);
    record("GetFullPathNameW " + utf8(path));
    if (const auto failed = injected<DWORD>("GetFullPathNameW", path)) {
        return *failed;
    }
    if (path.empty()) {
        return 0; // with the last error left as it was
    }
    DWORD error = 0;
    const auto full = full_path_of(path, error);
    if (!full) {
        set_last_error(error);
        return 0;
    }
    if (full->size() + 1 > buffer_length) {
        return static_cast<DWORD>(full->size() + 1);
    }
    std::ranges::copy(*full, buffer);
    buffer[full->size()] = 0;
    if (file_part != nullptr) {
        const auto last = full->find_last_of(u'\\');
        *file_part = last + 1 < full->size() ? buffer + last + 1 : nullptr;
    }
    return static_cast<DWORD>(full->size());
}

HANDLE CreateFileW(LPCWSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE /*template_file*/) {
    Guard guard;
    const std::u16string_view path(file_name);
    record("CreateFileW " + utf8(path));
    if (auto fault = take_fault("CreateFileW", path)) {
        set_last_error(fault->error);
        return fault->result == 0
                   ? INVALID_HANDLE_VALUE
                   : reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(fault->result));
    }
    const auto fail = [](DWORD error) {
        set_last_error(error);
        return INVALID_HANDLE_VALUE;
    };
    // Without FILE_FLAG_OPEN_REPARSE_POINT a link at the last name is followed, and a name it
    // leads to that does not exist is created by CREATE_NEW, CREATE_ALWAYS and OPEN_ALWAYS.
    const bool follow = (flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) == 0;
    auto resolved = resolve_win32(path, follow);
    auto object = std::make_shared<FileObject>();
    object->access = data_access(desired_access);
    object->share = share_mode;
    const bool creates = creation_disposition == CREATE_NEW ||
                         creation_disposition == CREATE_ALWAYS ||
                         creation_disposition == OPEN_ALWAYS;
    if (resolved.location) {
        const Node* node = resolved.location->node();
        if (node->delete_pending) {
            return fail(ERROR_ACCESS_DENIED);
        }
        if (creation_disposition == CREATE_NEW) {
            return fail(ERROR_FILE_EXISTS);
        }
        if (violates_sharing(node, object->access, object->share)) {
            return fail(ERROR_SHARING_VIOLATION);
        }
    }
    if (creates && !resolved.location) {
        if (!resolved.parent) {
            return fail(resolved.error);
        }
        Node* dir = resolved.parent->node();
        if (dir->deny != 0) {
            return fail(ERROR_ACCESS_DENIED);
        }
        auto node = std::make_shared<Node>();
        node->type = Node::Type::File;
        node->name = resolved.missing_name;
        node->parent = dir;
        node->dacl = inherited_entries(dir->dacl, false);
        if (security_attributes != nullptr &&
            security_attributes->lpSecurityDescriptor != nullptr) {
            const auto given = descriptor_dacl(security_attributes->lpSecurityDescriptor);
            if (!given) {
                return fail(ERROR_INVALID_PARAMETER);
            }
            // Its own entries first; a protected list takes nothing from the parent.
            Dacl own = given->dacl;
            if (own && !given->protected_dacl) {
                std::ranges::copy(inherited_entries(dir->dacl, false), std::back_inserter(*own));
            }
            node->dacl = std::move(own);
        }
        dir->children[fold_case(node->name)] = node;
        resolved.location = *resolved.parent;
        resolved.location->chain.push_back(node.get());
        set_last_error(0);
    } else if (!resolved.location) {
        return fail(resolved.error);
    } else if (creation_disposition == CREATE_ALWAYS || creation_disposition == TRUNCATE_EXISTING) {
        Node* node = resolved.location->node();
        if (node->type != Node::Type::File || node->deny != 0) {
            return fail(ERROR_ACCESS_DENIED);
        }
        if (!object->access.write) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        node->content->clear();
        set_last_error(creation_disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : 0);
    } else if (creation_disposition == OPEN_ALWAYS) {
        if (resolved.location->node()->type != Node::Type::File) {
            return fail(ERROR_ACCESS_DENIED);
        }
        set_last_error(ERROR_ALREADY_EXISTS);
    }
    Node* node = resolved.location->node();
    if (node->deny != 0) {
        return fail(node->deny);
    }
    if (is_directory_node(*node) && (flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    object->location = *resolved.location;
    object->keep_alive = shared_node(node);
    return add_handle(object);
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD buffer_length, DWORD flags) {
    Guard guard;
    record("GetFinalPathNameByHandleW " + std::to_string(buffer_length) + " " + hex(flags));
    if (const auto failed = injected<DWORD>("GetFinalPathNameByHandleW")) {
        return *failed;
    }
    const auto object = object_as<FileObject>(file);
    if (!object) {
        set_last_error(ERROR_INVALID_HANDLE);
        return 0;
    }
    const std::u16string path = object->location.final_path();
    if (path.size() + 1 > buffer_length) {
        return static_cast<DWORD>(path.size() + 1);
    }
    std::ranges::copy(path, buffer);
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    Guard guard;
    record("GetFileInformationByHandle");
    if (const auto failed = injected<BOOL>("GetFileInformationByHandle")) {
        return *failed;
    }
    const auto object = object_as<FileObject>(file);
    if (!object) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *information = BY_HANDLE_FILE_INFORMATION{};
    information->dwFileAttributes = attributes_of(*object->keep_alive);
    information->nFileSizeLow = static_cast<DWORD>(object->keep_alive->content->size());
    // Every name of the file holds its data.
    information->nNumberOfLinks = static_cast<DWORD>(object->keep_alive->content.use_count());
    return TRUE;
}

HANDLE FindFirstFileExW(LPCWSTR file_name, FINDEX_INFO_LEVELS /*info_level*/, LPVOID find_data,
                        FINDEX_SEARCH_OPS /*search_op*/, LPVOID /*search_filter*/,
                        DWORD /*additional_flags*/) {
    Guard guard;
    const std::u16string_view path(file_name);
    record("FindFirstFileExW " + utf8(path));
    if (auto fault = take_fault("FindFirstFileExW", path)) {
        set_last_error(fault->error);
        return INVALID_HANDLE_VALUE;
    }
    const auto resolved = resolve_win32(path, false);
    if (!resolved.location) {
        set_last_error(resolved.error);
        return INVALID_HANDLE_VALUE;
    }
    const Node& node = *resolved.location->node();
    auto* data = static_cast<WIN32_FIND_DATAW*>(find_data);
    *data = WIN32_FIND_DATAW{};
    data->dwFileAttributes = attributes_of(node);
    const std::size_t length = std::min<std::size_t>(node.name.size(), MAX_PATH - 1);
    std::copy_n(node.name.begin(), length, data->cFileName);
    return add_handle(std::make_shared<FindObject>());
}

BOOL FindClose(HANDLE find_file) {
    Guard guard;
    record("FindClose");
    auto& handles = world().handles;
    const auto found = handles.find(reinterpret_cast<std::uintptr_t>(find_file));
    if (found == handles.end() || !std::dynamic_pointer_cast<FindObject>(found->second.object)) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    handles.erase(found);
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
               void* /*overlapped*/) {
    Guard guard;
    const auto object = object_of(file);
    record("WriteFile " + std::string(object ? object->kind() : "?") + " " +
           std::to_string(bytes_to_write));
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    if (const auto failed = injected<BOOL>("WriteFile")) {
        return *failed;
    }
    if (!object) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto taken = static_cast<DWORD>(object->accepts(bytes_to_write));
    if (const DWORD error =
            object->write(std::string_view(static_cast<const char*>(buffer), taken));
        error != 0) {
        set_last_error(error);
        return FALSE;
    }
    if (bytes_written != nullptr) {
        *bytes_written = taken;
    }
    return TRUE;
}

// A read at the end of the file succeeds with no bytes, as on a disk file opened for synchronous
// reads.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
              void* /*overlapped*/) {
    Guard guard;
    const auto object = object_as<FileObject>(file);
    record("ReadFile " + std::to_string(bytes_to_read));
    *bytes_read = 0;
    if (const auto failed = injected<BOOL>("ReadFile")) {
        return *failed;
    }
    if (!object || !object->access.read) {
        set_last_error(object ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (is_directory_node(*object->keep_alive)) {
        set_last_error(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    const std::string& content = *object->keep_alive->content;
    const std::size_t from = std::min(object->read_position, content.size());
    const std::size_t count = std::min<std::size_t>(bytes_to_read, content.size() - from);
    std::memcpy(buffer, content.data() + from, count);
    object->read_position = from + count;
    *bytes_read = static_cast<DWORD>(count);
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    Guard guard;
    record("FlushFileBuffers");
    if (const auto failed = injected<BOOL>("FlushFileBuffers")) {
        return *failed;
    }
    if (!object_as<FileObject>(file)) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// File positions are not modelled (writes append), so this sets the end where a file that was just
// opened stands: at its start.
BOOL SetEndOfFile(HANDLE file) {
    Guard guard;
    record("SetEndOfFile");
    if (const auto failed = injected<BOOL>("SetEndOfFile")) {
        return *failed;
    }
    const auto object = object_as<FileObject>(file);
    if (!object || !object->access.write) {
        set_last_error(object ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->keep_alive->content->clear();
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR file_name) {
    Guard guard;
    const std::u16string_view path(file_name);
    record("DeleteFileW " + utf8(path));
    if (const auto failed = injected<BOOL>("DeleteFileW", path)) {
        return *failed;
    }
    // The name itself: a link goes, not what it leads to; a directory link needs
    // RemoveDirectoryW.
    const auto resolved = resolve_win32(path, false);
    if (!resolved.location) {
        set_last_error(resolved.error);
        return FALSE;
    }
    Node* node = resolved.location->node();
    if (is_directory_node(*node) || node->deny != 0 || node->parent == nullptr ||
        node->delete_pending) {
        set_last_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (violates_sharing(node, DataAccess{.remove = true},
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        set_last_error(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    // Gone at once when nothing has the file open, else once its last handle closes.
    node->delete_pending = true;
    if (!open_elsewhere(node)) {
        node->parent->children.erase(fold_case(node->name));
    }
    return TRUE;
}

BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS info_class, LPVOID info,
                                DWORD size) {
    Guard guard;
    record("SetFileInformationByHandle " + std::to_string(info_class));
    if (const auto failed = injected<BOOL>("SetFileInformationByHandle")) {
        return *failed;
    }
    const auto object = object_as<FileObject>(file);
    if (!object) {
        set_last_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (info_class != FileDispositionInfo || size < sizeof(FILE_DISPOSITION_INFO)) {
        set_last_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Node* node = object->keep_alive.get();
    if (!object->access.remove || node->parent == nullptr) {
        set_last_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (static_cast<const FILE_DISPOSITION_INFO*>(info)->DeleteFile == FALSE) {
        node->delete_pending = false;
        return TRUE;
    }
    if (node->type == Node::Type::Directory && !node->children.empty()) {
        set_last_error(ERROR_DIR_NOT_EMPTY);
        return FALSE;
    }
    // The name goes when the last handle closes, this one included.
    node->delete_pending = true;
    return TRUE;
}

DWORD GetCurrentDirectoryW(DWORD buffer_length, LPWSTR buffer) {
    Guard guard;
    const auto& cwd = current_process().current_directory;
    const std::u16string shown = cwd.size() == 2 ? cwd + u"\\" : cwd;
    if (shown.size() + 1 > buffer_length) {
        return static_cast<DWORD>(shown.size() + 1);
    }
    std::ranges::copy(shown, buffer);
    buffer[shown.size()] = 0;
    return static_cast<DWORD>(shown.size());
}

DWORD QueryDosDeviceW(LPCWSTR device_name, LPWSTR target_path, DWORD max) {
    Guard guard;
    const std::u16string_view name(device_name);
    record("QueryDosDeviceW " + utf8(name) + " " + std::to_string(max));
    if (const auto failed = injected<DWORD>("QueryDosDeviceW", name)) {
        return *failed;
    }
    const auto found = fs().dos_devices.find(fold_case(name));
    if (found == fs().dos_devices.end() || found->second.empty()) {
        set_last_error(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    std::u16string listing; // newest first, each NUL-terminated, then one more NUL
    for (auto it = found->second.rbegin(); it != found->second.rend(); ++it) {
        listing += *it;
        listing.push_back(0);
    }
    listing.push_back(0);
    if (listing.size() > max) {
        set_last_error(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::ranges::copy(listing, target_path);
    return static_cast<DWORD>(listing.size());
}

BOOL DefineDosDeviceW(DWORD flags, LPCWSTR device_name, LPCWSTR target_path) {
    Guard guard;
    const std::u16string_view name(device_name);
    const std::u16string target = target_path == nullptr ? u"" : std::u16string(target_path);
    record("DefineDosDeviceW " + hex(flags) + " " + utf8(name) + " " + utf8(target));
    if (const auto failed = injected<BOOL>("DefineDosDeviceW", name)) {
        return *failed;
    }
    const std::u16string key = fold_case(name);
    if (std::ranges::find(fs().protected_devices, key) != fs().protected_devices.end()) {
        set_last_error(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::u16string raw =
        (flags & DDD_RAW_TARGET_PATH) != 0 || target.empty() ? target : u"\\??\\" + target;
    auto& definitions = fs().dos_devices[key];
    if ((flags & DDD_REMOVE_DEFINITION) == 0) {
        definitions.push_back(raw);
        return TRUE;
    }
    // Removal looks at the newest definition first.
    for (auto it = definitions.rbegin(); it != definitions.rend(); ++it) {
        const bool matches =
            raw.empty() ||
            ((flags & DDD_EXACT_MATCH_ON_REMOVE) != 0 ? *it == raw : it->starts_with(raw));
        if (matches) {
            definitions.erase(std::next(it).base());
            return TRUE;
        }
    }
    set_last_error(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

namespace sim {

void add_volume(char letter) {
    Guard guard;
    const std::u16string name{static_cast<char16_t>(letter), u':'};
    const std::u16string key = fold_case(name);
    Volume volume;
    volume.dos_name = key;
    volume.root->name = key;
    fs().volumes[key] = std::move(volume);
    fs().dos_devices[key] = {u"\\Device\\HarddiskVolume" +
                             utf16(std::to_string(fs().volumes.size()))};
    fs().protected_devices.push_back(key);
}

void define_dos_device(std::string_view device, std::string_view target) {
    Guard guard;
    fs().dos_devices[fold_case(utf16(device))].push_back(utf16(target));
}

std::vector<std::string> dos_device_targets(std::string_view device) {
    Guard guard;
    std::vector<std::string> targets;
    const auto found = fs().dos_devices.find(fold_case(utf16(device)));
    if (found != fs().dos_devices.end()) {
        for (auto it = found->second.rbegin(); it != found->second.rend(); ++it) {
            targets.push_back(utf8(*it));
        }
    }
    return targets;
}

std::vector<std::string> defined_letters() {
    Guard guard;
    std::vector<std::string> letters;
    for (const auto& [device, targets] : fs().dos_devices) {
        if (!targets.empty() &&
            std::ranges::find(fs().protected_devices, device) == fs().protected_devices.end()) {
            letters.push_back(utf8(device));
        }
    }
    return letters;
}

void add_share(std::string_view server, std::string_view share) {
    Guard guard;
    const std::u16string name = u"UNC\\" + utf16(server) + u"\\" + utf16(share);
    Volume volume;
    volume.dos_name = name;
    fs().volumes[fold_case(name)] = std::move(volume);
}

void make_directory(std::string_view path) {
    Guard guard;
    make_node(path, Node::Type::Directory, true);
}

void make_file(std::string_view path, std::string_view content) {
    Guard guard;
    *make_node(path, Node::Type::File, true)->content = std::string(content);
}

void make_symlink(std::string_view path, std::string_view target) {
    Guard guard;
    make_node(path, Node::Type::Symlink, true)->target = utf16(target);
}

void make_file_symlink(std::string_view path, std::string_view target) {
    Guard guard;
    Node* link = make_node(path, Node::Type::Symlink, true);
    link->target = utf16(target);
    link->directory_link = false;
}

void make_hard_link(std::string_view path, std::string_view existing) {
    Guard guard;
    const auto resolved = resolve_win32(utf16(existing), false);
    if (!resolved.location || resolved.location->node()->type != Node::Type::File) {
        throw std::logic_error("sim: no such file: " + std::string(existing));
    }
    make_node(path, Node::Type::File, true)->content = resolved.location->node()->content;
}

void make_junction(std::string_view path, std::string_view target) {
    Guard guard;
    make_node(path, Node::Type::Junction, true)->target = utf16(target);
}

void deny_access(std::string_view path, Dword error) {
    Guard guard;
    const auto resolved = resolve_win32(utf16(path), false);
    if (!resolved.location) {
        throw std::logic_error("sim: no such file: " + std::string(path));
    }
    resolved.location->node()->deny = error;
}

std::optional<std::string> file_content(std::string_view path) {
    Guard guard;
    const auto resolved = resolve_win32(utf16(path), true);
    if (!resolved.location || resolved.location->node()->type != Node::Type::File) {
        return std::nullopt;
    }
    return *resolved.location->node()->content;
}

bool path_exists(std::string_view path) {
    Guard guard;
    return resolve_win32(utf16(path), false).location.has_value();
}

void set_current_directory(std::string_view path) {
    Guard guard;
    DWORD error = 0;
    auto resolved = full_path_of(utf16(path), error);
    if (!resolved) {
        throw std::logic_error("sim: not a path: " + std::string(path));
    }
    std::u16string full = std::move(*resolved);
    if (full.size() > 3 && full.ends_with(u'\\')) {
        full.pop_back();
    }
    current_process().current_directory = full;
}

} // namespace sim
