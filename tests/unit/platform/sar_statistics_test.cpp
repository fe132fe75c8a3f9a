// Averages from the daily sar files: the command of each day of a range (local
// days, across midnight, month and year ends and daylight-saving changes), the
// file's date check, days left out of averages, and the readers on the outputs
// of several sysstat versions.

#include "foundation/compat/tsaf_utils.h"
#include "platform/sar_statistics.h"

#include "platform_test_util.h"

#include <gtest/gtest.h>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

// A real CPU report of sysstat 12.6 (this project's VM): Average %iowait 0.12,
// %idle 95.51, so 4.37 busy. Its first line names 12/08/26.
std::string cpu_report_on(const std::string& mm_dd_yy) {
    return replaced(thisvm("sar_f_sa08.txt"), "12/08/26", mm_dd_yy);
}

std::string cpu_cmd(const char* day, const char* from, const char* to) {
    return std::string("env -u S_TIME_FORMAT LC_ALL=C sar -f /var/log/sa/sa") + day + " -s " + from + " -e " + to;
}

std::string nw_cmd(const char* day, const char* from, const char* to) {
    return std::string("env -u S_TIME_FORMAT LC_ALL=C sar -f /var/log/sa/sa") + day + " -n DEV -s " + from + " -e " +
           to;
}

std::string disk_cmd(const char* day, const char* from, const char* to) {
    return std::string("env -u S_TIME_FORMAT LC_ALL=C sar -f /var/log/sa/sa") + day + " -p -d -s " + from + " -e " + to;
}

// An interface report of this VM whose eth0 averages rx and tx kB/s.
std::string nw_report_on(const std::string& mm_dd_yy, const char* rx, const char* tx) {
    std::string eth0 = "Average:         eth0      0.00      0.00      0.00      0.00";
    std::string text = replaced(thisvm("sar_f_sa08_n_DEV.txt"), "12/08/26", mm_dd_yy);
    return replaced(text, eth0, std::string("Average:         eth0      3.00      2.00 ") + rx + " " + tx);
}

}  // namespace

TEST(SarFiles, FileOfEachDayOfTheMonth) {
    EXPECT_EQ(sar_get_filename(7), "/var/log/sa/sa07");
    EXPECT_EQ(sar_get_filename(9), "/var/log/sa/sa09");
    EXPECT_EQ(sar_get_filename(10), "/var/log/sa/sa10");
    EXPECT_EQ(sar_get_filename(31), "/var/log/sa/sa31");
}

TEST(SarFiles, DateCheckTakesBothYearFormsAndLogsAMismatch) {
    test_backend tb;
    tw_debug log;
    const std::string sysstat12 = "Linux 6.18.44-fc-v1403 (vm) \t12/08/26 \t_x86_64_\t(2 CPU)";
    const std::string sysstat9 = "Linux 2.6.32-504.16.2.el6.i686 (XXXhost) \t10/28/2015 \t_i686_\t(12 CPU)";
    EXPECT_TRUE(sar_filedate_check(log, sysstat12, 2026, 12, 8));
    EXPECT_TRUE(sar_filedate_check(log, sysstat9, 2015, 10, 28));
    EXPECT_TRUE(tb.logs.empty());

    // Day and month the other way round, and another month of the same day.
    EXPECT_FALSE(sar_filedate_check(log, sysstat12, 2026, 8, 12));
    EXPECT_FALSE(sar_filedate_check(log, sysstat12, 2026, 11, 8));
    EXPECT_TRUE(tb.logged(-1, "sar_filedate_check",
                          "SA file accessed is not same as date. Expected date: 11/08/2026 or 11/08/26"));
    EXPECT_TRUE(tb.logged(-1, "sar_filedate_check", "First line in SA file: " + sysstat12));
    // A year written in full does not pass for its last two digits alone.
    EXPECT_FALSE(sar_filedate_check(log, sysstat9, 2115, 10, 28));
}

TEST(SarRange, OneSarRunPerLocalDayAcrossMidnight) {
    local_zone zone("Europe/Berlin");
    test_backend tb;
    tw_debug log;
    // Three real reports of sysstat 12: 20.40, 11.51 and 4.37 percent busy.
    tb.on(cpu_cmd("06", "23:00:00", "23:59:01"), 0,
          replaced(fixture("sar/u-P-ALL-sysstat12-testsuite.txt"), "04/18/19", "03/06/26"));
    tb.on(cpu_cmd("07", "00:00:00", "23:59:01"), 0,
          replaced(fixture("sar/f-default-cpu-sysstat12-testsuite.txt"), "05/02/19", "03/07/26"));
    tb.on(cpu_cmd("08", "00:00:00", "01:00:00"), 0, cpu_report_on("03/08/26"));

    double used = cpu_timerange_getused(log, local_epoch(2026, 3, 6, 23, 0, 0), local_epoch(2026, 3, 8, 1, 0, 0));
    EXPECT_EQ(tb.commands,
              (std::vector<std::string>{cpu_cmd("06", "23:00:00", "23:59:01"), cpu_cmd("07", "00:00:00", "23:59:01"),
                                        cpu_cmd("08", "00:00:00", "01:00:00")}));
    EXPECT_NEAR(used, (20.40 + 11.51 + 4.37) / 3, 1e-9);
    EXPECT_TRUE(tb.logged(2, "cpu_date_getused", "Exec cmd - [" + cpu_cmd("07", "00:00:00", "23:59:01") + "]\n"));
    EXPECT_TRUE(tb.logged(2, "cpu_timerange_getused",
                          "Get CPU average between 'Fri Mar  6 23:00:00 2026' and 'Sun Mar  8 01:00:00 2026'"));
}

TEST(SarRange, WithinOneDayOneRunWithTheExactTimes) {
    local_zone zone("America/New_York");
    test_backend tb;
    tw_debug log;
    tb.on(cpu_cmd("08", "16:33:27", "16:40:05"), 0, cpu_report_on("12/08/26"));
    double used = cpu_timerange_getused(log, local_epoch(2026, 12, 8, 16, 33, 27), local_epoch(2026, 12, 8, 16, 40, 5));
    EXPECT_EQ(tb.commands, std::vector<std::string>{cpu_cmd("08", "16:33:27", "16:40:05")});
    EXPECT_NEAR(used, 4.37, 1e-9);
}

TEST(SarRange, MonthAndYearEndsFollowTheCalendar) {
    local_zone zone("Asia/Kolkata");  // +05:30: UTC days would split elsewhere
    struct row {
        std::time_t start, end;
        std::vector<std::string> commands;
    };
    const row rows[] = {
        {local_epoch(2026, 12, 31, 22, 0, 0),
         local_epoch(2027, 1, 1, 0, 30, 0),
         {cpu_cmd("31", "22:00:00", "23:59:01"), cpu_cmd("01", "00:00:00", "00:30:00")}},
        {local_epoch(2026, 2, 28, 18, 15, 0),
         local_epoch(2026, 3, 1, 6, 0, 0),
         {cpu_cmd("28", "18:15:00", "23:59:01"), cpu_cmd("01", "00:00:00", "06:00:00")}},
        // 2028 is a leap year: February has a 29th.
        {local_epoch(2028, 2, 28, 23, 59, 30),
         local_epoch(2028, 3, 1, 0, 0, 0),
         {cpu_cmd("28", "23:59:30", "23:59:01"), cpu_cmd("29", "00:00:00", "23:59:01"),
          cpu_cmd("01", "00:00:00", "00:00:00")}},
        {local_epoch(2026, 4, 30, 10, 0, 0),
         local_epoch(2026, 5, 2, 9, 5, 7),
         {cpu_cmd("30", "10:00:00", "23:59:01"), cpu_cmd("01", "00:00:00", "23:59:01"),
          cpu_cmd("02", "00:00:00", "09:05:07")}},
    };
    for (const auto& r : rows) {
        test_backend tb;
        tw_debug log;
        cpu_timerange_getused(log, r.start, r.end);
        EXPECT_EQ(tb.commands, r.commands);
    }
}

TEST(SarRange, DaylightSavingChangesKeepOneRunPerDay) {
    local_zone zone("Europe/Berlin");
    // Autumn: 25 October 2026 has 25 hours. Spring: 29 March 2026 has 23.
    struct row {
        std::time_t start, end;
        std::vector<std::string> commands;
    };
    const row rows[] = {
        {local_epoch(2026, 10, 24, 12, 0, 0),
         local_epoch(2026, 10, 26, 12, 0, 0),
         {cpu_cmd("24", "12:00:00", "23:59:01"), cpu_cmd("25", "00:00:00", "23:59:01"),
          cpu_cmd("26", "00:00:00", "12:00:00")}},
        {local_epoch(2026, 3, 28, 12, 0, 0),
         local_epoch(2026, 3, 30, 12, 0, 0),
         {cpu_cmd("28", "12:00:00", "23:59:01"), cpu_cmd("29", "00:00:00", "23:59:01"),
          cpu_cmd("30", "00:00:00", "12:00:00")}},
    };
    for (const auto& r : rows) {
        test_backend tb;
        tw_debug log;
        cpu_timerange_getused(log, r.start, r.end);
        EXPECT_EQ(tb.commands, r.commands);
    }
}

TEST(SarRange, DaysOfAFileOfAnotherDateOrWithoutDataAreLeftOut) {
    local_zone zone("UTC");
    test_backend tb;
    tw_debug log;
    // sa06 still holds June's 6th; sa07 today's figures; sa08 cannot be read;
    // sa09 shows an idle machine (exactly 0 busy).
    tb.on(cpu_cmd("06", "08:00:00", "23:59:01"), 0, cpu_report_on("06/07/26"));
    tb.on(cpu_cmd("07", "00:00:00", "23:59:01"), 0, cpu_report_on("07/07/26"));
    tb.on(cpu_cmd("08", "00:00:00", "23:59:01"), 1, "",
          "Requested activities not available in file /var/log/sa/sa08\n");
    tb.on(cpu_cmd("09", "00:00:00", "08:00:00"), 0,
          replaced(cpu_report_on("07/09/26"),
                   "Average:        all      1.75      0.00      2.62      0.12      0.00     95.51",
                   "Average:        all      0.00      0.00      0.00      0.00      0.00    100.00"));
    double used = cpu_timerange_getused(log, local_epoch(2026, 7, 6, 8, 0, 0), local_epoch(2026, 7, 9, 8, 0, 0));
    EXPECT_NEAR(used, 4.37, 1e-9);
    EXPECT_TRUE(tb.logged(-1, "sar_filedate_check",
                          "SA file accessed is not same as date. Expected date: 07/06/2026 or 07/06/26"));
    EXPECT_TRUE(
        tb.logged(-1, "cpu_date_getused", "Error executing command [" + cpu_cmd("06", "08:00:00", "23:59:01") + "]"));
    EXPECT_TRUE(
        tb.logged(-1, "cpu_date_getused",
                  "Failed to get output of sar command [" + cpu_cmd("08", "00:00:00", "23:59:01") + "] Error [1]"));

    // No usable day at all: 0.
    test_backend none;
    EXPECT_EQ(cpu_timerange_getused(log, local_epoch(2026, 7, 6, 8, 0, 0), local_epoch(2026, 7, 6, 9, 0, 0)), 0);
}

TEST(SarRange, EndBeforeStartRunsNothing) {
    test_backend tb;
    tw_debug log;
    double rx = 7, tx = 7;
    EXPECT_EQ(cpu_timerange_getused(log, 1800000100, 1800000000), 0);
    EXPECT_EQ(nw_timerange_getstats(log, "eth0", 1800000100, 1800000000, rx, tx), -1);
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_TRUE(
        tb.logged(-1, "cpu_timerange_getused", "Start timeval [1800000100] is greater than End timeval [1800000000]."));
}

TEST(SarRange, AStartLongGoneReadsOnlyTheDaysTheFilesCanHold) {
    local_zone zone("UTC");
    test_backend tb;
    tw_debug log;
    // A start of 0 (a key that does not read as a number) would otherwise run
    // sar for every day since 1970.
    cpu_timerange_getused(log, 0, local_epoch(2026, 12, 8, 10, 0, 0));
    ASSERT_EQ(tb.commands.size(), 31u);
    EXPECT_EQ(tb.commands.front(), cpu_cmd("08", "00:00:00", "23:59:01"));  // 8 November
    EXPECT_EQ(tb.commands.back(), cpu_cmd("08", "00:00:00", "10:00:00"));
}

TEST(SarCpu, AverageLineGivesBusyPercent) {
    test_backend tb;
    tw_debug log;
    // %iowait 1.00 and %idle 95.00.
    tb.on(cpu_cmd("08", "10:00:00", "11:00:00"), 0,
          replaced(cpu_report_on("12/08/26"), "0.12      0.00     95.51", "1.00      0.00     95.00"));
    EXPECT_NEAR(cpu_date_getused(log, 2026, 12, 8, "10:00:00", "11:00:00"), 4.0, 1e-9);

    // Per-CPU listing: the "all" line comes first.
    tb.on(cpu_cmd("18", "13:20:00", "13:21:00"), 0, fixture("sar/u-P-ALL-sysstat12-testsuite.txt"));
    EXPECT_NEAR(cpu_date_getused(log, 2019, 4, 18, "13:20:00", "13:21:00"), 100 - (79.29 + 0.31), 1e-9);

    // A window without samples prints the header alone: unknown, 0.
    tb.on(cpu_cmd("08", "10:00:00", "10:30:00"), 0, thisvm("sar_f_sa08disk_s_e_nomatch.txt"));
    EXPECT_EQ(cpu_date_getused(log, 2026, 12, 8, "10:00:00", "10:30:00"), 0);

    // A cut Average line is skipped.
    tb.on(cpu_cmd("08", "09:00:00", "09:30:00"), 0,
          "Linux 6.1 (vm) \t12/08/26 \t_x86_64_\t(2 CPU)\nAverage:  all  1.0  2.0\n");
    EXPECT_EQ(cpu_date_getused(log, 2026, 12, 8, "09:00:00", "09:30:00"), 0);
    EXPECT_TRUE(tb.logged(2, "cpu_date_getused", "Unexpected output line: Average:  all  1.0  2.0"));
}

TEST(SarNetwork, InterfaceAveragesAcrossSysstatVersions) {
    test_backend tb;
    tw_debug log;
    double rx = -1, tx = -1;
    tb.on(nw_cmd("08", "16:33:00", "16:34:00"), 0, nw_report_on("12/08/26", "12.50", "0.75"));
    EXPECT_EQ(nw_date_getstats(log, "eth0", 2026, 12, 8, "16:33:00", "16:34:00", rx, tx), 0);
    EXPECT_DOUBLE_EQ(rx, 12.50);
    EXPECT_DOUBLE_EQ(tx, 0.75);

    // An interface the file does not know: 0 and 0, still a readable day.
    EXPECT_EQ(nw_date_getstats(log, "bond0", 2026, 12, 8, "16:33:00", "16:34:00", rx, tx), 0);
    EXPECT_EQ(rx, 0);
    EXPECT_EQ(tx, 0);

    // sysstat 12 with the error table after it: the DEV table's line counts.
    tb.on(nw_cmd("18", "13:20:00", "13:21:00"), 0,
          replaced(fixture("sar/n-DEV-EDEV-sysstat12-testsuite.txt"),
                   "Average:       enp6s0      0.00      0.00      0.00      0.00",
                   "Average:       enp6s0   1864.81    607.56   2238.96    117.55"));
    EXPECT_EQ(nw_date_getstats(log, "enp6s0", 2019, 4, 18, "13:20:00", "13:21:00", rx, tx), 0);
    EXPECT_DOUBLE_EQ(rx, 2238.96);
    EXPECT_DOUBLE_EQ(tx, 117.55);

    // sysstat 9 with 12-hour times; this capture ends before its Average block.
    tb.on(nw_cmd("28", "13:15:00", "13:16:00"), 0, fixture("sar/n-DEV-sysstat9.0.4-el6-head.txt"));
    rx = tx = 5;
    EXPECT_EQ(nw_date_getstats(log, "em1", 2015, 10, 28, "13:15:00", "13:16:00", rx, tx), 0);
    EXPECT_EQ(rx, 0);
    EXPECT_EQ(tx, 0);

    // A file that cannot be read is a failed day.
    tb.on(nw_cmd("08", "00:00:00", "01:00:00"), 1, "", "Cannot open /var/log/sa/sa08: No such file or directory\n");
    EXPECT_EQ(nw_date_getstats(log, "eth0", 2026, 12, 8, "00:00:00", "01:00:00", rx, tx), -1);
    EXPECT_TRUE(
        tb.logged(2, "nw_date_getstats",
                  "Failed to get output of sar command [" + nw_cmd("08", "00:00:00", "01:00:00") + "]. Error [1]"));
}

TEST(SarNetwork, RatesAreAveragedSeparatelyOverTheDaysThatHaveThem) {
    local_zone zone("UTC");
    test_backend tb;
    tw_debug log;
    tb.on(nw_cmd("06", "22:00:00", "23:59:01"), 0, nw_report_on("12/06/26", "10.00", "0.00"));
    tb.on(nw_cmd("07", "00:00:00", "23:59:01"), 0, nw_report_on("12/07/26", "20.00", "4.00"));
    // The interface is absent on the 8th: neither rate changes.
    tb.on(nw_cmd("08", "00:00:00", "02:00:00"), 0,
          replaced(thisvm("sar_f_sa08_n_DEV.txt"), "Average:         eth0", "Average:         eth9"));
    double rx = -1, tx = -1;
    EXPECT_EQ(nw_timerange_getstats(log, "eth0", local_epoch(2026, 12, 6, 22, 0, 0), local_epoch(2026, 12, 8, 2, 0, 0),
                                    rx, tx),
              0);
    EXPECT_DOUBLE_EQ(rx, 15.0);
    EXPECT_DOUBLE_EQ(tx, 4.0);
    EXPECT_TRUE(
        tb.logged(2, "nw_timerange_getstats",
                  "Dev [eth0] Get NW stats average between 'Sun Dec  6 22:00:00 2026' and 'Tue Dec  8 02:00:00 2026'"));
}

TEST(SarDrive, SectorRatesFromOldAndNewDiskTables) {
    test_backend tb;
    tw_debug log;
    double rd = -1, wr = -1;
    // sysstat 12.6: DEV is the last column and rates are kB/s (two sectors each).
    tb.on(disk_cmd("08", "16:33:00", "16:34:00"), 0, thisvm("sar_f_sa08disk_p_d.txt"));
    EXPECT_EQ(drive_date_getstats(log, "vda", 2026, 12, 8, "16:33:00", "16:34:00", rd, wr), 0);
    EXPECT_DOUBLE_EQ(rd, 68.0);  // 34.00 rkB/s
    EXPECT_DOUBLE_EQ(wr, 248.0);  // 124.00 wkB/s
    EXPECT_EQ(drive_date_getstats(log, "loop3", 2026, 12, 8, "16:33:00", "16:34:00", rd, wr), 0);
    EXPECT_EQ(rd, 0);

    // sysstat before 11: DEV first and sectors per second, at the classic positions.
    tb.on(disk_cmd("08", "10:00:00", "11:00:00"), 0,
          "Linux 2.6.32-504.el6.x86_64 (node1) \t12/08/2026 \t_x86_64_\t(8 CPU)\n\n"
          "10:00:01 AM       DEV       tps  rd_sec/s  wr_sec/s  avgrq-sz  avgqu-sz     await     svctm     %util\n"
          "10:10:01 AM       sdb     12.00    640.00   1280.00    160.00      0.10      8.00      2.00      2.40\n"
          "Average:          sdb     12.00    640.00   1280.00    160.00      0.10      8.00      2.00      2.40\n");
    EXPECT_EQ(drive_date_getstats(log, "sdb", 2026, 12, 8, "10:00:00", "11:00:00", rd, wr), 0);
    EXPECT_DOUBLE_EQ(rd, 640.0);
    EXPECT_DOUBLE_EQ(wr, 1280.0);

    // The sysstat 12 test suite's output: two tables around a restart; the first Average counts.
    tb.on(disk_cmd("18", "13:20:00", "14:00:00"), 0,
          replaced(fixture("sar/dp-sysstat12-testsuite.txt"),
                   "Average:         0.00      0.00      0.00      0.00      0.00      0.00      0.00      0.00 sda",
                   "Average:       402.78  10375.39   2666.27      0.00     32.51      4.64      3.25     21.42 sda"));
    EXPECT_EQ(drive_date_getstats(log, "sda", 2019, 4, 18, "13:20:00", "14:00:00", rd, wr), 0);
    EXPECT_DOUBLE_EQ(rd, 20750.78);
    EXPECT_DOUBLE_EQ(wr, 5332.54);

    // A file without disk statistics (sadc run without -S DISK).
    tb.on(disk_cmd("08", "12:00:00", "13:00:00"), 1, thisvm("sar_f_sa08_p_d.txt"));
    EXPECT_EQ(drive_date_getstats(log, "vda", 2026, 12, 8, "12:00:00", "13:00:00", rd, wr), -1);
    EXPECT_EQ(rd, 0);
    EXPECT_EQ(wr, 0);
}

TEST(SarInterval, StartFromMinutesRegistryOrHalfAnHour) {
    test_backend tb;
    tw_debug log;
    EXPECT_EQ(get_intervalstart_datetime(log, "sLastMonitorTimeCPU", 1800000000, 10), 1800000000 - 600);
    EXPECT_EQ(get_intervalstart_datetime(log, "sLastMonitorTimeCPU", 1800000000, 0), 1800000000 - 1800);
    EXPECT_TRUE(
        tb.logged(2, "get_intervalstart_datetime",
                  "Failed to get value for registry [sLastMonitorTimeCPU]. Getting average of last half an hour."));
    tb.set_key("sLastMonitorTimeCPU", "1799990000");
    EXPECT_EQ(get_intervalstart_datetime(log, "sLastMonitorTimeCPU", 1800000000, 0), 1799990000);
    EXPECT_TRUE(
        tb.logged(2, "get_intervalstart_datetime", "Get registry - key [sLastMonitorTimeCPU] value [1799990000]"));
    // Minutes win over the key.
    EXPECT_EQ(get_intervalstart_datetime(log, "sLastMonitorTimeCPU", 1800000000, 1), 1800000000 - 60);
}

TEST(SarPlatform, CpuUsageCoversTheTimeSinceThePreviousPass) {
    local_zone zone("UTC");
    test_backend tb;
    tb.clock = local_epoch(2026, 12, 8, 16, 40, 0);
    tb.on(cpu_cmd("08", "16:10:00", "16:40:00"), 0, cpu_report_on("12/08/26"));
    tw_platform p;
    // First pass: no key, the last half hour.
    EXPECT_NEAR(p.get_cpu_usage(0), 4.37, 1e-9);
    EXPECT_EQ(tb.key("sLastMonitorTimeCPU"), std::to_string(tb.clock));
    EXPECT_TRUE(tb.logged(2, "tw_platform::get_cpu_usage", "CPU Usage: [4.370000]%"));
    p.loginfo(PINFO_PROCESSOR);
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "CPU Usage: [4.370000]%"));

    // The next pass starts where this one ended.
    tb.clock += 300;
    tb.on(cpu_cmd("08", "16:40:00", "16:45:00"), 0, cpu_report_on("12/08/26"));
    p.get_cpu_usage(0);
    EXPECT_EQ(tb.commands.back(), cpu_cmd("08", "16:40:00", "16:45:00"));
    EXPECT_EQ(tb.key("sLastMonitorTimeCPU"), std::to_string(tb.clock));

    // Minutes given: the key is ignored for the start but still written.
    tb.clock += 60;
    p.get_cpu_usage(20);
    EXPECT_EQ(tb.commands.back(), cpu_cmd("08", "16:26:00", "16:46:00"));
    EXPECT_EQ(tb.key("sLastMonitorTimeCPU"), std::to_string(tb.clock));
}

TEST(SarPlatform, DeviceStatsShareOneStartAndZeroOnFailure) {
    local_zone zone("UTC");
    test_backend tb;
    tb.clock = local_epoch(2026, 12, 8, 16, 40, 0);
    tb.set_key("sLastMonitorTimeDrive", std::to_string(local_epoch(2026, 12, 8, 16, 0, 0)));
    tb.on(disk_cmd("08", "16:00:00", "16:40:00"), 0, thisvm("sar_f_sa08disk_p_d.txt"));
    tw_platform p;
    std::string start;
    double rd = -1, wr = -1;
    EXPECT_EQ(p.get_driveiostats("/dev/vda", 0, rd, wr, "sLastMonitorTimeDrive", start), 0);
    EXPECT_EQ(start, std::to_string(local_epoch(2026, 12, 8, 16, 0, 0)));
    EXPECT_DOUBLE_EQ(rd, 68.0);
    EXPECT_DOUBLE_EQ(wr, 248.0);

    // A start already set is taken as it stands: the key's time is not used.
    tb.set_key("sLastMonitorTimeDrive", std::to_string(local_epoch(2026, 12, 8, 9, 0, 0)));
    start = std::to_string(local_epoch(2026, 12, 8, 16, 30, 0));
    p.get_driveiostats("/dev/vda", 0, rd, wr, "sLastMonitorTimeDrive", start);
    EXPECT_EQ(tb.commands.back(), disk_cmd("08", "16:30:00", "16:40:00"));
    EXPECT_EQ(start, std::to_string(local_epoch(2026, 12, 8, 16, 30, 0)));
    // These readers leave the key to their caller.
    EXPECT_EQ(tb.key("sLastMonitorTimeDrive"), std::to_string(local_epoch(2026, 12, 8, 9, 0, 0)));

    // A range that cannot be averaged gives 0 and 0.
    tb.clock = local_epoch(2026, 12, 8, 10, 0, 0);  // before the start
    double rx = 9, tx = 9;
    EXPECT_EQ(p.get_nicdevstats("eth0", 0, rx, tx, "sLastMonitorTimeNW", start), -1);
    EXPECT_EQ(rx, 0);
    EXPECT_EQ(tx, 0);
}

TEST(HostTime, TimeOfDayAndLocalMidnight) {
    local_zone zone("Europe/Berlin");
    const std::time_t t = local_epoch(2026, 10, 25, 15, 4, 5);  // the day that has 25 hours
    EXPECT_EQ(tsaf_utils::time_get_timestr(t), "15:04:05");
    EXPECT_EQ(tsaf_utils::time_get_datetimezero(t), local_epoch(2026, 10, 25, 0, 0, 0));
    EXPECT_EQ(tsaf_utils::time_get_datetimezero(t) - local_epoch(2026, 10, 24, 0, 0, 0), 86400);
    EXPECT_EQ(local_epoch(2026, 10, 26, 0, 0, 0) - tsaf_utils::time_get_datetimezero(t), 90000);
    EXPECT_EQ(tsaf_utils::time_get_timestr(local_epoch(2026, 1, 2, 0, 0, 0)), "00:00:00");
}

// sar run with S_TIME_FORMAT=ISO (as a sysstat that ignores the fixed
// environment, or an older env, would) dates its first line 2026-12-08: the
// day still counts, and its averages are read.
TEST(SarIsoDates, IsoDatedReportsCount) {
    test_backend tb;
    tw_debug log;
    const std::string iso_header = "Linux 6.18.44-fc-v1403 (vm) \t2026-12-08 \t_x86_64_\t(2 CPU)";
    EXPECT_TRUE(sar_filedate_check(log, iso_header, 2026, 12, 8));
    EXPECT_FALSE(sar_filedate_check(log, iso_header, 2026, 8, 12));
    EXPECT_FALSE(sar_filedate_check(log, iso_header, 2025, 12, 8));

    tb.on(cpu_cmd("08", "10:00:00", "11:00:00"), 0, cpu_report_on("2026-12-08"));
    EXPECT_NEAR(cpu_date_getused(log, 2026, 12, 8, "10:00:00", "11:00:00"), 4.37, 1e-9);

    double rx = 0, tx = 0;
    tb.on(nw_cmd("08", "16:33:00", "16:34:00"), 0, nw_report_on("2026-12-08", "12.50", "0.75"));
    EXPECT_EQ(nw_date_getstats(log, "eth0", 2026, 12, 8, "16:33:00", "16:34:00", rx, tx), 0);
    EXPECT_DOUBLE_EQ(rx, 12.5);
    EXPECT_DOUBLE_EQ(tx, 0.75);

    double rd = 0, wr = 0;
    tb.on(disk_cmd("08", "16:33:00", "16:34:00"), 0,
          replaced(thisvm("sar_f_sa08disk_p_d.txt"), "12/08/26", "2026-12-08"));
    EXPECT_EQ(drive_date_getstats(log, "vda", 2026, 12, 8, "16:33:00", "16:34:00", rd, wr), 0);
    EXPECT_DOUBLE_EQ(rd, 68.0);
    EXPECT_DOUBLE_EQ(wr, 248.0);
    EXPECT_FALSE(tb.logged("SA file accessed is not same as date. Expected date: 12/08/2026 or 12/08/26"));
}

// A look (twctl) reads the same interval but leaves the service's key alone.
TEST(SarPlatform, ALookLeavesTheMonitoringIntervalAlone) {
    local_zone zone("UTC");
    test_backend tb;
    tb.clock = local_epoch(2026, 12, 8, 16, 40, 0);
    const std::string last = std::to_string(local_epoch(2026, 12, 8, 16, 10, 0));
    tb.set_key("sLastMonitorTimeCPU", last);
    tb.on(cpu_cmd("08", "16:10:00", "16:40:00"), 0, cpu_report_on("12/08/26"));
    tw_platform p;
    EXPECT_NEAR(p.get_cpu_usage(0, false), 4.37, 1e-9);
    EXPECT_NEAR(p.get_cpu_usage(30, false), 4.37, 1e-9) << "minutes given: the same, key untouched";
    EXPECT_EQ(tb.key("sLastMonitorTimeCPU"), last);
    // The service's pass still records.
    EXPECT_NEAR(p.get_cpu_usage(0, true), 4.37, 1e-9);
    EXPECT_EQ(tb.key("sLastMonitorTimeCPU"), std::to_string(tb.clock));
}
