// The report's JSON texts, read back with a parser we did not write; the run's tests read whole
// reports.
#include "common/json_object.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

TEST(JsonObject, TextsAreEscapedAndAlwaysValidUtf8) {
    const std::string controls = std::string("\n\r\t\x01\x1f \x7f\"\\", 9) + '\0';
    EXPECT_EQ(json_string(controls), "\"\\n\\r\\t\\u0001\\u001f \x7f\\\"\\\\\\u0000\"");
    EXPECT_EQ(nlohmann::json::parse(json_string(controls)), controls);
    // Non-ASCII as it is, what is not UTF-8 as U+FFFD.
    EXPECT_EQ(nlohmann::json::parse(json_string("\xC3\xAF\xFF\xED\xA0\x80")),
              "\xC3\xAF\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

} // namespace
