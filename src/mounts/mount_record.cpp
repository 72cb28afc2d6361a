#include "mounts/mount_record.hpp"

#include "common/resource.hpp"
#include "common/standard_error.hpp"
#include "common/windows_error.hpp"
#include "paths/path_elements.hpp"

#include <utility>

namespace {

constexpr const char* RECORD_SUFFIX = ".norix-native-sandbox-mounts";
constexpr char FIELD_END = '\0';

// The file's content: each mount's drive, then its target, each followed by FIELD_END.
std::string record_bytes(const RecordedMounts& mounts) {
    std::string content;
    for (const RecordedMount& mount : mounts) {
        for (const std::string* field : {&mount.drive, &mount.target}) {
            content.append(*field);
            content.push_back(FIELD_END);
        }
    }
    return content;
}

Result<RecordedMounts> malformed() {
    return failure("malformed mount record");
}

// Drive letters are written in upper case.
bool is_drive(std::string_view field) {
    return field.size() == 2 && field[0] >= 'A' && field[0] <= 'Z' && field[1] == ':';
}

bool is_target(std::string_view field) {
    // Every invalid UTF-8 sequence becomes U+FFFD on its way to UTF-16, so only valid text comes
    // back unchanged.
    return field.size() > RAW_TARGET_PREFIX.size() && field.starts_with(RAW_TARGET_PREFIX) &&
           to_utf8(to_wide(field)) == field;
}

std::unexpected<SandboxFailure> write_failure(DWORD error) {
    return std::unexpected(os_error_failure("cannot write sandbox mount record", error));
}

} // namespace

Result<RecordedMounts> parse_mount_record(std::string_view bytes) {
    RecordedMounts mounts;
    for (RecordedMount& mount : mounts) {
        for (std::string* field : {&mount.drive, &mount.target}) {
            const std::size_t end = bytes.find(FIELD_END);
            if (end == std::string_view::npos) {
                return malformed();
            }
            field->assign(bytes.substr(0, end));
            bytes.remove_prefix(end + 1);
        }
        if (!is_drive(mount.drive) || !is_target(mount.target)) {
            return malformed();
        }
    }
    if (!bytes.empty()) {
        return malformed();
    }
    return mounts;
}

Result<WideString> MountRecord::path_for_scratch(const WideString& scratch) {
    const auto elements = path_elements(scratch);
    const auto last = elements.empty() ? PathElement::Kind::Prefix : elements.back().kind;
    if (elements.size() < 2 || last == PathElement::Kind::Prefix ||
        last == PathElement::Kind::Root) {
        return failure("sandbox scratch path has no parent");
    }
    const PathElement& name = elements.back();
    if (last != PathElement::Kind::Name || !to_utf8_exact(name.text(scratch))) {
        return failure("sandbox scratch path has no UTF-8 name");
    }
    // The parent keeps its root separator ("\\?\C:\") but no separator after a name.
    const PathElement& before = elements[elements.size() - 2];
    WideString path = scratch.substr(0, before.offset + before.length);
    if (path.empty() || path.back() != WCHAR('\\')) {
        path.push_back(WCHAR('\\'));
    }
    path.push_back(WCHAR('.'));
    path.append(name.text(scratch));
    path.append(to_wide(RECORD_SUFFIX));
    return path;
}

Result<MountRecord> MountRecord::for_scratch(const WideString& scratch) {
    auto path = path_for_scratch(scratch);
    if (!path) {
        return std::unexpected(path.error());
    }
    return MountRecord(std::move(*path));
}

MountRecord::MountRecord(MountRecord&& other) noexcept
    : record_path_(std::exchange(other.record_path_, {})) {}

MountRecord& MountRecord::operator=(MountRecord&& other) noexcept {
    if (this != &other) {
        remove();
        record_path_ = std::exchange(other.record_path_, {});
    }
    return *this;
}

Result<void> MountRecord::write(const DriveMapping& project, const DriveMapping& scratch) const {
    const std::string content = record_bytes(
        {RecordedMount{project.drive(), project.target()}, {scratch.drive(), scratch.target()}});

    // CREATE_ALWAYS empties a file left by a run that was cut off, so it is replaced, never
    // appended to.
    const UniqueFile file(CreateFileW(record_path_.c_str(), GENERIC_WRITE,
                                      0,       // no sharing while it is written
                                      nullptr, // default security
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr)); // no template file
    if (!file) {
        return write_failure(GetLastError());
    }
    if (!write_file_all(file.get(), content)) {
        return write_failure(GetLastError());
    }
    return {};
}

void MountRecord::remove() {
    const WideString path = std::exchange(record_path_, {});
    if (path.empty()) {
        return;
    }
    const LastErrorKept kept;
    DeleteFileW(path.c_str());
}
