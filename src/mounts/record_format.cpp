#include "mounts/record_format.hpp"

#include "mounts/drive_mapping.hpp"
#include "paths/path_elements.hpp"

namespace {

constexpr const char* RECORD_SUFFIX = ".norix-native-sandbox-mounts";
constexpr char FIELD_END = '\0';

[[nodiscard]] Result<RecordedMounts> malformed() {
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

} // namespace

Result<WideString> mount_record_path(const WideString& scratch) {
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
