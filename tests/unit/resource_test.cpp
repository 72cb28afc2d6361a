// The owners of Windows resources.
#include "common/resource.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> released;
void release(int value) {
    released.push_back(value);
}
using Counted = NullIsNone<int, release>;

// Given what it holds, reset keeps it; a move assignment releases what was held first (the
// owners of letters, locks and records move through it).
TEST(UniqueResource, ReleasesEachValueOnceAndInTurn) {
    released.clear();
    {
        UniqueResource<Counted> held(7);
        held.reset(7);
        EXPECT_TRUE(released.empty());
        held.reset(8);
        UniqueResource<Counted> other(9);
        held = std::move(other);
        EXPECT_EQ(released, (std::vector<int>{7, 8}));
    }
    EXPECT_EQ(released, (std::vector<int>{7, 8, 9}));
}

} // namespace
