// One JSON object, written member by member, for a line of a JSON Lines file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class JsonObject {
public:
    // Members keep the order they are added in; names are the system's own ASCII words.
    JsonObject& add_text(std::string_view name, std::string_view utf8);
    JsonObject& add_number(std::string_view name, std::uint64_t number);
    JsonObject& add_null(std::string_view name);
    JsonObject& add_objects(std::string_view name, std::span<const JsonObject> objects);

    // "{...}" on one line.
    std::string text() const { return "{" + members_ + "}"; }

private:
    void add_name(std::string_view name);

    std::string members_;
};

// `utf8` as a JSON string: quoted, with the quote, the backslash and every control character
// escaped, and what is not valid UTF-8 replaced by U+FFFD, so the result is always valid JSON in
// UTF-8.
std::string json_string(std::string_view utf8);
