#include "common/json_object.hpp"

#include "common/text.hpp"
#include "encoding/hex.hpp"

JsonObject& JsonObject::add_text(std::string_view name, std::string_view utf8) {
    add_name(name);
    members_ += json_string(utf8);
    return *this;
}

JsonObject& JsonObject::add_number(std::string_view name, std::uint64_t number) {
    add_name(name);
    members_ += std::to_string(number);
    return *this;
}

JsonObject& JsonObject::add_null(std::string_view name) {
    add_name(name);
    members_ += "null";
    return *this;
}

JsonObject& JsonObject::add_objects(std::string_view name, std::span<const JsonObject> objects) {
    add_name(name);
    members_ += '[';
    for (std::size_t i = 0; i < objects.size(); ++i) {
        members_ += i == 0 ? "" : ",";
        members_ += objects[i].text();
    }
    members_ += ']';
    return *this;
}

void JsonObject::add_name(std::string_view name) {
    members_ += members_.empty() ? "" : ",";
    members_ += json_string(name);
    members_ += ':';
}

std::string json_string(std::string_view utf8) {
    // Through UTF-16 and back: every byte that is not valid UTF-8 becomes U+FFFD.
    const std::string valid = to_utf8(to_wide(utf8));
    std::string quoted = "\"";
    for (const char c : valid) {
        const auto unit = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += {'\\', c};
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (unit < 0x20) {
            quoted += "\\u" + hex_digits(unit, 4);
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}
