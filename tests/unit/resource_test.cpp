// The owners of Windows resources.
#include "common/resource.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> released;

struct Counted {
    using Type = int;
    static int none() { return 0; }
    static bool valid(int value) { return value != 0; }
    static void release(int value) { released.push_back(value); }
};

TEST(UniqueResource, ResetToWhatItHoldsKeepsIt) {
    released.clear();
    {
        UniqueResource<Counted> held(7);
        held.reset(7);
        EXPECT_EQ(held.get(), 7);
        EXPECT_TRUE(released.empty());
        held.reset(8);
    }
    EXPECT_EQ(released, (std::vector<int>{7, 8}));
}

} // namespace
