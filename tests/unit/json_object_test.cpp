// The report's JSON texts, read back with a parser we did not write; the run's tests read whole
// reports.
#include "common/json_object.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

TEST(JsonObject, TextsAreEscapedAndAlwaysValidUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\w \"q\"", R"("C:\\w \"q\"")"},
        {std::string("\n\r\t\x01\x1f\x7f", 6) + '\0', R"("\n\r\t\u0001\u001f)"
                                                      "\x7f"
                                                      R"(\u0000")"},
        {"na\xC3\xAFve \xE2\x82\xAC", "\"na\xC3\xAFve \xE2\x82\xAC\""},
        {"a\xFF"
         "b\xED\xA0\x80",
         "\"a\xEF\xBF\xBD"
         "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& [text, quoted] : cases) {
        EXPECT_EQ(json_string(text), quoted);
        EXPECT_EQ(nlohmann::json::parse(quoted), nlohmann::json::parse(json_string(text)));
    }
    EXPECT_EQ(nlohmann::json::parse(json_string(cases[1].first)), cases[1].first);
}

} // namespace
