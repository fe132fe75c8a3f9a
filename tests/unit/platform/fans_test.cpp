// Fans: one record per sensor line (one per entity on HPE), and the passes
// that read again while a fan that is not disabled reads unhealthy.

#include "platform_test_util.h"

#include <gtest/gtest.h>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

void serve_vendor(test_backend& tb, const std::string& vendor) {
    tb.on("dmidecode -t system", 0, "System Information\n\tManufacturer: " + vendor + "\n\tProduct Name: X\n");
}

}  // namespace

TEST(Fans, RealListingOneRecordPerLine) {
    test_backend tb;
    serve_vendor(tb, "Dell Inc.");
    tb.on(kFanCmd, 0,
          grep(fixture("ipmitool/sdr-elist-curated-telegraf.txt"), "fan", true) +
              "Fan Redundancy   | 75h | ok  |  7.1 | Fully Redundant\n"
              "Fan2             | 31h | ok  |  7.1 | 4920 RPM\n");
    tw_platform p;
    auto fans = p.get_faninfo();
    ASSERT_EQ(fans.size(), 2u);
    EXPECT_EQ(fans.front().get_name(), "Fan1");
    EXPECT_EQ(fans.front().get_value(), "5040 RPM");
    EXPECT_TRUE(fans.front().get_status());
    EXPECT_EQ(runs(tb, kFanCmd), 1);
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "Fan Info:"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "Name:[Fan2] Value:[4920 RPM] Status:[1]"));
}

TEST(Fans, HpeKeepsTheFirstLineOfEachEntity) {
    test_backend tb;
    serve_vendor(tb, "HPE");
    tb.on(kFanCmd, 0,
          "Fan 1            | 2Ah | ok  | 29.1 | 33.32 percent\n"
          "Fan 1 DutyCycle  | 2Bh | ok  | 29.1 | 33.32 percent\n"
          "Fan 2            | 2Ch | ok  | 29.2 | 39.20 percent\n"
          "Fan 2 DutyCycle  | 2Dh | ok  | 29.2 | 39.20 percent\n"
          "Fans             | 30h | ok  | 29.0 | Fully Redundant\n"
          "Fan 1 again      | 2Eh | ok  | 29.1 | 30 percent\n");
    tw_platform p;
    std::vector<std::string> names;
    for (const auto& f : p.get_faninfo()) names.push_back(f.get_name());
    // Only consecutive lines of one entity fold; a later return of 29.1 is a new record.
    EXPECT_EQ(names, (std::vector<std::string>{"Fan 1", "Fan 2", "Fan 1 again"}));
}

TEST(Fans, ThreeColumnListingOfAnHpBoard) {
    test_backend tb;
    serve_vendor(tb, "HP");
    tb.on(kFanCmd, 0, grep(fixture("ipmitool/sdr-plain-hp-proliant.txt"), "fan", true));
    tw_platform p;
    auto fans = p.get_faninfo();
    ASSERT_EQ(fans.size(), 7u);  // Fan 1..6 and "Fans"
    EXPECT_EQ(fans.front().get_name(), "Fan 1");
    EXPECT_EQ(fans.front().get_value(), "");
    EXPECT_TRUE(fans.front().get_status());
    EXPECT_TRUE(tb.logged(2, "tw_platform::get_faninfo_internal",
                          "Unexpected output line: Fan 1            | 33.32 percent     | ok"));
}

TEST(Fans, PassesWhileAnEnabledFanReadsUnhealthy) {
    {
        test_backend tb;  // a stopped fan: three passes, then its last reading
        serve_vendor(tb, "Supermicro");
        tb.on(kFanCmd, 0,
              "FAN1             | 41h | ok  | 29.1 | 5400 RPM\nFAN2             | 42h | cr  | 29.2 | 0 RPM\n");
        tw_platform p;
        auto fans = p.get_faninfo();
        EXPECT_EQ(runs(tb, kFanCmd), 3);
        ASSERT_EQ(fans.size(), 2u);
        EXPECT_FALSE(fans.back().get_status());
    }
    {
        test_backend tb;  // a disabled fan reads ns on every pass: one pass
        serve_vendor(tb, "Dell Inc.");
        tb.on(kFanCmd, 0, "Fan5             | 34h | ns  |  7.1 | Disabled\n");
        tw_platform p;
        auto fans = p.get_faninfo();
        EXPECT_EQ(runs(tb, kFanCmd), 1);
        ASSERT_EQ(fans.size(), 1u);
        EXPECT_FALSE(fans.front().get_status());
    }
    {
        test_backend tb;  // spinning up: healthy on the second pass
        serve_vendor(tb, "Supermicro");
        tb.on(kFanCmd, 0, "FAN1             | 41h | nc  | 29.1 | 300 RPM\n");
        tb.on(kFanCmd, 0, "FAN1             | 41h | ok  | 29.1 | 4200 RPM\n");
        tw_platform p;
        auto fans = p.get_faninfo();
        EXPECT_EQ(runs(tb, kFanCmd), 2);
        ASSERT_EQ(fans.size(), 1u);
        EXPECT_TRUE(fans.front().get_status());
        EXPECT_EQ(fans.front().get_value(), "4200 RPM");
    }
}

TEST(Fans, NoBmcGivesAnEmptyListWithoutASection) {
    test_backend tb;
    serve_vendor(tb, "QEMU");
    tb.on(kFanCmd, 1);
    tw_platform p;
    EXPECT_TRUE(p.get_faninfo().empty());
    EXPECT_EQ(runs(tb, kFanCmd), 3);  // the runner's retries, a single pass
    EXPECT_TRUE(tb.logged(-1, "tw_platform::get_faninfo_internal", "Failed to get fan info from sdr"));
    EXPECT_FALSE(tb.logged(2, "tw_platform::loginfo", "Fan Info:"));
}
