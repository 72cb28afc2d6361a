// Host paths in a text rewritten onto a mount.
#include "paths/host_path_rewrite.hpp"

#include <gtest/gtest.h>

namespace {

// The arguments and the variables of the child, which differ in the order of the rules and in
// escaped paths, are with the run's tests.
TEST(RewriteHostPath, StopsWhereTheHostNameEnds) {
    // A longer name is another file: letters, digits, ".", "-", "_" and bytes outside ASCII go on
    // with a name.
    EXPECT_EQ(rewrite_host_path("Pa;Pz;PA;PZ;P0;P9;P\x80;P.;P-;P_;P@", "P", "X:"),
              "Pa;Pz;PA;PZ;P0;P9;P\x80;P.;P-;P_;X:@");
    EXPECT_EQ(rewrite_host_path("aaa;", "aa", "X:"), "aX:;"); // a match inside a skipped one
    EXPECT_EQ(rewrite_host_path(std::string_view("C:\\ax", 4), "C:\\a", "X:"),
              "X:"); // not past its end
}

} // namespace
