#include "core/TaskSlot.h"

#include <gtest/gtest.h>

using nimbel::TaskSlot;

TEST(TaskSlot, NewerTaskReplacesIdentifierBeforeStoppingTheOlderAndOnlyItsOwnFinishClears)
{
    TaskSlot slot;
    const auto first = slot.start();
    EXPECT_TRUE(slot.isCurrent(first.id));

    bool wasCurrentWhenStopped = true;
    std::stop_callback watch(first.token, [&] { wasCurrentWhenStopped = slot.isCurrent(first.id); });

    const auto second = slot.start();
    EXPECT_TRUE(first.token.stop_requested());
    EXPECT_FALSE(wasCurrentWhenStopped);
    EXPECT_FALSE(slot.isCurrent(first.id));
    EXPECT_TRUE(slot.isCurrent(second.id));
    EXPECT_FALSE(second.token.stop_requested());
    EXPECT_NE(first.id, second.id);

    // Finishing clears only its own task; cancelling stops it.
    slot.finish(first.id);
    EXPECT_TRUE(slot.isRunning());
    slot.finish(second.id);
    EXPECT_FALSE(slot.isRunning());
    EXPECT_FALSE(second.token.stop_requested()) << "finishing is not cancelling";

    const auto next = slot.start();
    slot.cancel();
    EXPECT_FALSE(slot.id().has_value());
    EXPECT_TRUE(next.token.stop_requested());
}
