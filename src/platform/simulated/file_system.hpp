// Internals of the simulated file system, shared by its parts: the Win32 path forms
// (win32_paths.cpp), the DOS device table (dos_devices.cpp), the tree of volumes, directories,
// files and links (file_tree.cpp) and the files opened in it (files.cpp).
#pragma once

#include "platform/simulated/world.hpp"

namespace sim::detail {

// Path forms.
bool is_separator(char16_t c);
// The names between separators (only "\" when `verbatim`, as in a "\\?\" path).
std::vector<std::u16string> split(std::u16string_view text, bool verbatim);
std::u16string join(const std::vector<std::u16string>& names, std::u16string_view separator);
// A full Win32 path ("C:\x", "\\srv\share\x", "\\.\x") as an NT path under "\??\".
std::u16string nt_from_full(std::u16string_view full);
// A path as CreateFileW takes it, as an NT path; nothing, with the error, for none.
std::optional<std::u16string> nt_path_for(std::u16string_view path, DWORD& error);

// DOS devices, by their folded names ("C:"): the newest definition of one, nothing when it has
// none.
std::optional<std::u16string> dos_device_target(std::u16string_view device);
// A volume's letter, defined at system start and protected from redefinition.
void define_volume_letter(std::u16string device, std::u16string target);
void reset_dos_devices();

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

// Where a resolved path ended: the volume, the chain of nodes below its root.
struct Location {
    Volume* volume = nullptr;
    std::vector<Node*> chain; // root first
    Node* node() const { return chain.back(); }
    // The "\\?\" path of the node through its volume's DOS name.
    std::u16string final_path_text() const;
};

struct Resolved {
    std::optional<Location> location;
    // For a missing last name: the directory that would hold it, and the name.
    std::optional<Location> parent;
    std::u16string missing_name;
    DWORD error = 0;
};

// A Win32 path resolved in the tree, following links on the way and, when `follow_last`, at its
// last name.
Resolved resolve_win32(std::u16string_view path, bool follow_last);
// The node's owning pointer, which keeps it alive once its name is gone.
std::shared_ptr<Node> shared_node(Node* node);
bool is_directory_node(const Node& node);
DWORD attributes_of(const Node& node);
// The entries a file or directory inherits from a parent with this DACL.
std::vector<AccessEntry> inherited_entries(const Dacl& parent, bool directory);

} // namespace sim::detail
