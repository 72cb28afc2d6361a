// The tree of volumes, shares, directories, files and links, the resolution of a path in it, and
// what its files and directories inherit of their parent's DACL.
#include "platform/simulated/file_system.hpp"

#include <algorithm>

namespace sim::detail {
namespace {

struct FileSystem {
    std::map<std::u16string, Volume> volumes; // by folded device: "C:", "UNC\SERVER\SHARE"
};

FileSystem& fs() {
    static FileSystem instance;
    return instance;
}

Resolved failed(DWORD error) {
    return Resolved{std::nullopt, std::nullopt, {}, error};
}

constexpr int MAX_REPARSE = 63;

Resolved resolve_nt(std::u16string_view nt_path, bool follow_last, int depth);

std::u16string appended(std::u16string base, const std::vector<std::u16string>& names) {
    for (const auto& name : names) {
        if (!base.ends_with(u'\\')) {
            base.push_back(u'\\');
        }
        base += name;
    }
    return base;
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
            std::u16string dir = link_parent.final_path_text().substr(4);
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
    return appended(std::move(base), rest);
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

// The device of an NT path's parts ("C:", or "UNC\server\share" folded) and where its names
// start; nothing, with the error, when a UNC path names no share.
std::optional<std::pair<std::u16string, std::size_t>>
device_of(const std::vector<std::u16string>& parts, DWORD& error) {
    const std::u16string device = fold_case(parts[0]);
    if (device != u"UNC") {
        return std::pair{device, std::size_t{1}};
    }
    if (parts.size() < 3) {
        error = ERROR_BAD_PATHNAME;
        return std::nullopt;
    }
    return std::pair{fold_case(u"UNC\\" + parts[1] + u"\\" + parts[2]), std::size_t{3}};
}

// Why a UNC device that is no share fails: no server of that name, or no such share on it.
DWORD unknown_share(const std::u16string& device) {
    const std::u16string server = device.substr(0, device.find(u'\\', 4) + 1);
    const bool known = std::ranges::any_of(
        fs().volumes, [&](const auto& volume) { return volume.first.starts_with(server); });
    return known ? ERROR_BAD_NET_NAME : ERROR_BAD_NETPATH;
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
    DWORD error = 0;
    const auto device = device_of(parts, error);
    if (!device) {
        return failed(error);
    }
    const std::vector<std::u16string> names(parts.begin() + static_cast<long>(device->second),
                                            parts.end());
    for (const auto& name : names) {
        if (name.empty() || name == u"." || name == u".." ||
            name.find_first_of(u"/<>\"|?*") != std::u16string::npos) {
            return failed(ERROR_INVALID_NAME);
        }
    }
    const auto volume = fs().volumes.find(device->first);
    if (device->first.starts_with(u"UNC\\")) {
        if (volume == fs().volumes.end()) {
            return failed(unknown_share(device->first));
        }
        return walk(volume->second, names, follow_last, depth);
    }
    const auto target = dos_device_target(device->first);
    if (!target) {
        return failed(ERROR_PATH_NOT_FOUND);
    }
    if (target->starts_with(u"\\Device\\")) {
        if (volume == fs().volumes.end()) {
            return failed(ERROR_PATH_NOT_FOUND);
        }
        return walk(volume->second, names, follow_last, depth);
    }
    if (depth >= MAX_REPARSE) {
        return failed(ERROR_CANT_RESOLVE_FILENAME);
    }
    // A letter defined onto a raw NT path: the rest of the path continues below its target.
    return resolve_nt(appended(*target, names), follow_last, depth + 1);
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

std::u16string Location::final_path_text() const {
    std::vector<std::u16string> names;
    for (std::size_t i = 1; i < chain.size(); ++i) {
        names.push_back(chain[i]->name);
    }
    return u"\\\\?\\" + volume->dos_name + u"\\" + join(names, u"\\");
}

Resolved resolve_win32(std::u16string_view path, bool follow_last) {
    DWORD error = 0;
    const auto nt = nt_path_for(path, error);
    if (!nt) {
        return failed(error);
    }
    return resolve_nt(*nt, follow_last, 0);
}

bool is_directory_node(const Node& node) {
    return node.type == Node::Type::Directory || node.type == Node::Type::Junction ||
           (node.type == Node::Type::Symlink && node.directory_link);
}

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

std::vector<AccessEntry> inherited_entries(const Dacl& parent, bool directory) {
    std::vector<AccessEntry> passed;
    if (!parent) {
        return passed;
    }
    for (const auto& entry : *parent) {
        const DWORD flags = entry.inheritance;
        // A directory takes what containers or objects inherit (an entry for objects only passes
        // on to its files; it is not marked inherit-only here), a file what objects inherit;
        // NO_PROPAGATE_INHERIT_ACE stops it one level down.
        if ((flags & (directory ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : OBJECT_INHERIT_ACE)) != 0) {
            const bool further = directory && (flags & NO_PROPAGATE_INHERIT_ACE) == 0;
            passed.push_back(AccessEntry{entry.trustee, entry.mask, further ? flags : 0, true});
        }
    }
    return passed;
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
    return resolved.location->final_path_text();
}

bool is_directory(std::u16string_view path) {
    const auto resolved = resolve_win32(path, true);
    return resolved.location && resolved.location->node()->type == Node::Type::Directory;
}

void reset_files() {
    fs() = FileSystem{};
    reset_dos_devices();
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

namespace sim {

void add_volume(char letter) {
    Guard guard;
    const std::u16string name{static_cast<char16_t>(letter), u':'};
    const std::u16string key = fold_case(name);
    Volume volume;
    volume.dos_name = key;
    volume.root->name = key;
    fs().volumes[key] = std::move(volume);
    define_volume_letter(key,
                         u"\\Device\\HarddiskVolume" + utf16(std::to_string(fs().volumes.size())));
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

} // namespace sim
