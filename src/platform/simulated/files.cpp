// Files and directories opened by handle: CreateFileW with its dispositions and sharing, the
// calls on an open file, deletion, and the find handle of FindFirstFileExW.
#include "platform/simulated/file_system.hpp"

#include <algorithm>
#include <cstring>

namespace sim::detail {
namespace {

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

// The open file of `handle`: null, with ERROR_INVALID_HANDLE, for a handle that is none. The file
// calls on a pipe, a console or another object are not modelled.
std::shared_ptr<FileObject> open_file(HANDLE handle, std::string_view function) {
    const auto object = object_of(handle);
    if (!object) {
        set_last_error(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto file = std::dynamic_pointer_cast<FileObject>(object);
    if (!file) {
        not_modelled(std::string(function) + " on a " + object->kind());
    }
    return file;
}

// A file's DACL from the security descriptor CreateFileW is given: its own entries first, then,
// unless the list is protected, what the directory passes on.
Dacl given_dacl(const void* descriptor, const Dacl& directory) {
    const auto given = descriptor_dacl(descriptor);
    if (!given) {
        not_modelled("CreateFileW with a security descriptor that was freed or never made");
    }
    Dacl own = given->dacl;
    if (own && !given->protected_dacl) {
        std::ranges::copy(inherited_entries(directory, false), std::back_inserter(*own));
    }
    return own;
}

// Makes the missing last name that `resolved` ends at a new file; the error, 0 for none.
DWORD create_file(Resolved& resolved, const SECURITY_ATTRIBUTES* security_attributes) {
    if (!resolved.parent) {
        return resolved.error;
    }
    Node* dir = resolved.parent->node();
    if (dir->deny != 0) {
        return ERROR_ACCESS_DENIED;
    }
    auto node = std::make_shared<Node>();
    node->type = Node::Type::File;
    node->name = resolved.missing_name;
    node->parent = dir;
    node->dacl = inherited_entries(dir->dacl, false);
    if (security_attributes != nullptr && security_attributes->lpSecurityDescriptor != nullptr) {
        node->dacl = given_dacl(security_attributes->lpSecurityDescriptor, dir->dacl);
    }
    dir->children[fold_case(node->name)] = node;
    resolved.location = *resolved.parent;
    resolved.location->chain.push_back(node.get());
    set_last_error(0);
    return 0;
}

// What a disposition does to an existing file, its last error set as Windows sets it; the error
// that refuses the open, 0 for none.
DWORD open_existing_file(Node& node, DWORD disposition, const DataAccess& access, DWORD share) {
    if (node.delete_pending) {
        return ERROR_ACCESS_DENIED;
    }
    if (disposition == CREATE_NEW) {
        return ERROR_FILE_EXISTS;
    }
    if (violates_sharing(&node, access, share)) {
        return ERROR_SHARING_VIOLATION;
    }
    if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
        if (node.type != Node::Type::File || node.deny != 0) {
            return ERROR_ACCESS_DENIED;
        }
        if (!access.write) {
            return ERROR_INVALID_PARAMETER;
        }
        node.content->clear();
        set_last_error(disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : 0);
    } else if (disposition == OPEN_ALWAYS) {
        if (node.type != Node::Type::File) {
            return ERROR_ACCESS_DENIED;
        }
        set_last_error(ERROR_ALREADY_EXISTS);
    }
    return 0;
}

// What refuses a handle to the node that an open reached: its denial, or a directory opened
// without FILE_FLAG_BACKUP_SEMANTICS; 0 for nothing.
DWORD open_refusal(const Node& node, DWORD flags_and_attributes) {
    if (node.deny != 0) {
        return node.deny;
    }
    if (is_directory_node(node) && (flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    return 0;
}

} // namespace
} // namespace sim::detail

using namespace sim::detail;

HANDLE CreateFileW(LPCWSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE /*template_file*/) {
    const std::u16string_view path(file_name);
    const Call call("CreateFileW", utf8(path), path);
    if (const auto failed = call.failed<HANDLE>()) {
        return *failed == nullptr ? INVALID_HANDLE_VALUE : *failed;
    }
    // Without FILE_FLAG_OPEN_REPARSE_POINT a link at the last name is followed, and a name it
    // leads to that does not exist is created by CREATE_NEW, CREATE_ALWAYS and OPEN_ALWAYS.
    auto resolved = resolve_win32(path, (flags_and_attributes & FILE_FLAG_OPEN_REPARSE_POINT) == 0);
    auto object = std::make_shared<FileObject>();
    object->access = data_access(desired_access);
    object->share = share_mode;
    const bool creates = creation_disposition == CREATE_NEW ||
                         creation_disposition == CREATE_ALWAYS ||
                         creation_disposition == OPEN_ALWAYS;
    DWORD error = resolved.error;
    if (resolved.location) {
        error = open_existing_file(*resolved.location->node(), creation_disposition, object->access,
                                   share_mode);
    } else if (creates) {
        error = create_file(resolved, security_attributes);
    }
    if (resolved.location && error == 0) {
        error = open_refusal(*resolved.location->node(), flags_and_attributes);
    }
    if (!resolved.location || error != 0) {
        set_last_error(error);
        return INVALID_HANDLE_VALUE;
    }
    object->location = *resolved.location;
    object->keep_alive = shared_node(object->location.node());
    return add_handle(object);
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD buffer_length, DWORD flags) {
    const Call call("GetFinalPathNameByHandleW", std::to_string(buffer_length) + " " + hex(flags));
    if (const auto failed = call.failed<DWORD>()) {
        return *failed;
    }
    const auto object = open_file(file, "GetFinalPathNameByHandleW");
    if (!object) {
        return 0;
    }
    if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) {
        not_modelled("GetFinalPathNameByHandleW with flags " + hex(flags));
    }
    return copy_out(object->location.final_path_text(), buffer, buffer_length);
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    const Call call("GetFileInformationByHandle");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto object = open_file(file, "GetFileInformationByHandle");
    if (!object) {
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
    const std::u16string_view path(file_name);
    const Call call("FindFirstFileExW", utf8(path), path);
    if (call.failed<HANDLE>()) {
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
    const Call call("FindClose");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    if (!fail_unless<FindObject>(find_file)) {
        return FALSE;
    }
    world().handles.erase(reinterpret_cast<std::uintptr_t>(find_file));
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
               void* /*overlapped*/) {
    const Call call("WriteFile",
                    [&] { return kind_of(file) + " " + std::to_string(bytes_to_write); });
    if (bytes_written != nullptr) {
        *bytes_written = 0;
    }
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto object = fail_unless<Object>(file);
    if (!object) {
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
    const Call call("ReadFile", std::to_string(bytes_to_read));
    *bytes_read = 0;
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto object = open_file(file, "ReadFile");
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
    const Call call("FlushFileBuffers");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    return open_file(file, "FlushFileBuffers") ? TRUE : FALSE;
}

// File positions are not modelled (writes append), so this sets the end where a file that was just
// opened stands: at its start.
BOOL SetEndOfFile(HANDLE file) {
    const Call call("SetEndOfFile");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto object = open_file(file, "SetEndOfFile");
    if (!object || !object->access.write) {
        set_last_error(object ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->keep_alive->content->clear();
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR file_name) {
    const std::u16string_view path(file_name);
    const Call call("DeleteFileW", utf8(path), path);
    if (const auto failed = call.failed<BOOL>()) {
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
    const Call call("SetFileInformationByHandle", std::to_string(info_class));
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto object = open_file(file, "SetFileInformationByHandle");
    if (!object) {
        return FALSE;
    }
    if (info_class != FileDispositionInfo || size < sizeof(FILE_DISPOSITION_INFO)) {
        not_modelled("SetFileInformationByHandle of class " + std::to_string(info_class) +
                     " with " + std::to_string(size) + " bytes");
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
