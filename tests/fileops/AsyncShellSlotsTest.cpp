#include "fileops/AsyncShellSlots.h"

#include <gtest/gtest.h>

using namespace tarnel;

TEST(AsyncShellSlots, ThirtyFirstIsRefusedUntilOneCompletes)
{
    AsyncShellSlots slots;
    for (int i = 0; i < AsyncShellSlots::kCapacity; ++i)
        ASSERT_TRUE(slots.Launch({}).has_value());
    EXPECT_FALSE(slots.Launch({}).has_value());
    EXPECT_TRUE(slots.Complete(5).has_value());
    EXPECT_EQ(slots.Launch({}), std::optional<uint16_t>(31));
    EXPECT_FALSE(slots.Complete(999).has_value()); // unknown id: the table is unchanged
    EXPECT_EQ(slots.Count(), AsyncShellSlots::kCapacity);
}

TEST(AsyncShellSlots, IdsSkipRunningOnesAndWrap)
{
    AsyncShellSlots slots;
    slots.SetLastId(65533);
    EXPECT_EQ(slots.Launch({}), std::optional<uint16_t>(65534));
    EXPECT_EQ(slots.Launch({}), std::optional<uint16_t>(65535));
    EXPECT_EQ(slots.Launch({}), std::optional<uint16_t>(0));
    slots.SetLastId(65533); // 65534, 65535 and 0 still run
    EXPECT_EQ(slots.Launch({}), std::optional<uint16_t>(1));
    const auto done = slots.Complete(65535);
    ASSERT_TRUE(done.has_value());
    EXPECT_EQ(done->id, 65535);
    EXPECT_EQ(slots.Count(), 3);
}
