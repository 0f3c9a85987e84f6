#include "gateway/ServerSentEventReader.h"

#include <gtest/gtest.h>

using namespace nimbel;

TEST(ServerSentEventReader, refusesALineLongerThanItsLimit)
{
    ServerSentEventReader exact(8);
    exact.append("12345678\n");
    EXPECT_EQ(exact.nextLine(), QByteArray("12345678"));
    EXPECT_FALSE(exact.overflowed());

    // Unterminated: detected while the line is still arriving.
    ServerSentEventReader endless(8);
    endless.append("123456");
    EXPECT_FALSE(endless.nextLine());
    endless.append("789");
    EXPECT_FALSE(endless.nextLine());
    EXPECT_TRUE(endless.overflowed());
    // Nothing more comes out, even when a terminator and good lines follow.
    endless.append("\nok\n");
    endless.finish();
    EXPECT_FALSE(endless.nextLine());

    // Terminated, but arriving in one piece together with its terminator.
    ServerSentEventReader whole(8);
    whole.append("ok\n123456789\nafter\n");
    EXPECT_EQ(whole.nextLine(), QByteArray("ok"));
    EXPECT_FALSE(whole.nextLine());
    EXPECT_TRUE(whole.overflowed());
}
