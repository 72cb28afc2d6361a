#include "mounts/mount_record.hpp"

#include "common/resource.hpp"
#include "common/standard_error.hpp"
#include "paths/path_forms.hpp"

#include <utility>

namespace {

constexpr const char* RECORD_SUFFIX = ".norix-native-sandbox-mounts";

void append_field(std::string& content, const std::string& text) {
    content.append(text);
    content.push_back('\0');
}

Result<void> write_failure(DWORD error) {
    return failure("cannot write sandbox mount record: " + os_error_text(error));
}

// "<parent of scratch>\.<scratch name>.norix-native-sandbox-mounts", or why there is none.
Result<WideString> record_path_for(const WideString& scratch) {
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

} // namespace

Result<void> MountRecord::check_scratch(const WideString& scratch) {
    if (auto path = record_path_for(scratch); !path) {
        return std::unexpected(path.error());
    }
    return {};
}

Result<MountRecord> MountRecord::for_scratch(const WideString& scratch) {
    auto path = record_path_for(scratch);
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
    std::string content;
    append_field(content, project.drive());
    append_field(content, project.target());
    append_field(content, scratch.drive());
    append_field(content, scratch.target());

    // CREATE_ALWAYS empties a file left by a run that was cut off, so it is replaced, never
    // appended to.
    const HANDLE opened = CreateFileW(record_path_.c_str(), GENERIC_WRITE,
                                      0,       // no sharing while it is written
                                      nullptr, // default security
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr); // no template file
    if (opened == INVALID_HANDLE_VALUE) {
        return write_failure(GetLastError());
    }
    const UniqueHandle file(opened);
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
    const DWORD error = GetLastError();
    DeleteFileW(path.c_str());
    SetLastError(error);
}
