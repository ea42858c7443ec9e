#include "base/Handle.h"

#include <gtest/gtest.h>

namespace
{
// Counts its closes in the int it points at.
struct SCountingTraits
{
    using Value = int*;
    static constexpr Value None() noexcept { return nullptr; }
    static bool Valid(Value value) noexcept { return value != nullptr; }
    static void Close(Value value) noexcept { ++*value; }
};
using UniqueCounted = UniqueResource<SCountingTraits>;
}

// An out-parameter filled through put() replaces what was held: the old value is closed
// once, before the call, and the new one is owned from then on.
TEST(UniqueResource, PutClosesTheHeldValueAndOwnsTheFilledOne)
{
    int first = 0;
    int second = 0;
    {
        UniqueCounted owner(&first);
        *owner.put() = &second;
        EXPECT_EQ(first, 1);
        EXPECT_EQ(second, 0);
        EXPECT_EQ(owner.get(), &second);
    }
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}
