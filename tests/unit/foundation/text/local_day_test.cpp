#include "foundation/text/local_day.h"

#include "local_zone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class InBerlin : public ::testing::Test {
private:
    tidewall::testing::local_zone zone_{"Europe/Berlin"};
};

TEST_F(InBerlin, MidnightsAreCalendarDaysAcrossTheChangeToSummerTime) {
    // Epoch seconds worked out in UTC: Berlin is UTC+1 until 2026-03-29 02:00, then UTC+2.
    const std::time_t midnight_28 = 1774652400, midnight_29 = 1774738800, midnight_30 = 1774821600,
                      midnight_apr_1 = 1774994400;
    const std::time_t noon_29 = 1774778400, morning_31 = 1774936800;
    const struct {
        std::time_t t;
        int days;
        std::time_t want;
    } cases[] = {
        {noon_29, 0, midnight_29},       {noon_29, 1, midnight_30},         {noon_29, -1, midnight_28},
        {midnight_29, 0, midnight_29},   {midnight_29, 1, midnight_30},     {midnight_28, 1, midnight_29},
        {morning_31, 1, midnight_apr_1}, {midnight_30 - 1, 0, midnight_29},
    };
    for (const auto& c : cases) EXPECT_EQ(c.want, tidewall::text::local_midnight(c.t, c.days)) << c.t << " " << c.days;
}

}  // namespace
