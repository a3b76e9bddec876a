// Decoding a time server's reply into the local time to set.
#include <gtest/gtest.h>

#include "app/sntp.h"
#include "settings/time_servers.h"

namespace iw::app {
namespace {

std::string reply(std::uint32_t transmitSeconds, std::size_t size = 48) {
    std::string d(size, '\0');
    d[0] = '\x1C';
    if (size >= 44) {
        d[40] = static_cast<char>(transmitSeconds >> 24);
        d[41] = static_cast<char>(transmitSeconds >> 16);
        d[42] = static_cast<char>(transmitSeconds >> 8);
        d[43] = static_cast<char>(transmitSeconds);
    }
    return d;
}

TEST(Sntp, RequestIsClientModeVersion3) {
    const std::string r = SntpRequest();
    ASSERT_EQ(r.size(), 48u);
    EXPECT_EQ(r[0], '\x1B');
    EXPECT_EQ(r.find_first_not_of('\0', 1), std::string::npos);
}

TEST(Sntp, TimeServerSettingPicksEntry) {
    EXPECT_STREQ(settings::TimeServerFor(0), settings::kTimeServers[0]);
    EXPECT_STREQ(settings::TimeServerFor(1), settings::kTimeServers[1]);
    EXPECT_STREQ(settings::TimeServerFor(3), settings::kTimeServers[3]);
    for (int other : {7, 4, -1, 100000}) EXPECT_STREQ(settings::TimeServerFor(other), settings::kTimeServers[0]) << other;
}

TEST(Sntp, HalfTravelRoundsHalvesToEven) {
    struct Case {
        double travel;
        std::int64_t half;
    } cases[] = {{0.0, 0}, {0.8, 0}, {1.0, 0}, {3.0, 2}, {5.0, 2}, {7.0, 4}, {5.2, 3}, {0.05, 0}};
    for (const Case& c : cases) EXPECT_EQ(HalfTravelSeconds(c.travel), c.half) << c.travel;
}

TEST(Sntp, MidnightBetweenRequestAndReply) {
    EXPECT_DOUBLE_EQ(SecondsBetween(86399.0, 2.0), 3.0);
    EXPECT_DOUBLE_EQ(SecondsBetween(100.0, 105.0), 5.0);
}

TEST(Sntp, ReplyToLocalTime) {
    // One day after 1990-01-01 00:00 UTC, in Taipei (+480).
    auto t = LocalTimeFromReply(reply(2840140800u + 86400), 480, 0);
    ASSERT_TRUE(t);
    EXPECT_EQ(*t, (platform::LocalDateTime{1990, 1, 2, 8, 0, 0, 0}));

    t = LocalTimeFromReply(reply(2840140800u + 86400), 480, 2);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->second, 2);

    // A current time: 2026-12-07 02:00:00 UTC is 10:00 in Taipei.
    const std::int64_t since1990 = (platform::daysFromCivil(2026, 12, 7) - platform::daysFromCivil(1990, 1, 1)) * 86400 + 7200;
    t = LocalTimeFromReply(reply(static_cast<std::uint32_t>(since1990 + kSeconds1900To1990)), 480, 0);
    ASSERT_TRUE(t);
    EXPECT_EQ(*t, (platform::LocalDateTime{2026, 12, 7, 10, 0, 0, 0}));
}

TEST(Sntp, RepliesThatChangeNothing) {
    EXPECT_FALSE(LocalTimeFromReply(reply(2840140800u + 86400, 47), 480, 0));
    EXPECT_FALSE(LocalTimeFromReply(reply(2840140800u + 86400, 68), 480, 0));
    EXPECT_FALSE(LocalTimeFromReply(reply(0), 480, 0));  // all-zero timestamp
    // Before 1990, even when the zone offset would lift it past 1990-01-01.
    EXPECT_FALSE(LocalTimeFromReply(reply(2840140800u - 60), 480, 0));
    // Before 1990 local time in a zone west of UTC.
    EXPECT_FALSE(LocalTimeFromReply(reply(2840140800u + 60), -300, 0));
}

}  // namespace
}  // namespace iw::app
