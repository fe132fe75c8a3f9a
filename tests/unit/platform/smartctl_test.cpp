// SMART: health verdicts of SAS and SATA drives, attempts and sleeps, the
// attribute table of real outputs, serial numbers.

#include <tidewall/tw_smartctl.h>

#include "platform/smart_reading.h"
#include "platform_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

const char* const kScsi = "smartctl -d scsi -H  /dev/sda";
const char* const kPlain = "smartctl -H  /dev/sda";

std::vector<std::uint32_t> ids(tw_smartctl& r) {
    std::vector<std::uint32_t> out;
    r.for_each_attr(
        [](smart_param& p, void* ctx) { static_cast<std::vector<std::uint32_t>*>(ctx)->push_back(p.get_id()); }, &out);
    return out;
}

}  // namespace

TEST(SmartHealth, SkipKeyRunsNothing) {
    test_backend tb;
    tb.set_key("sArrowfieldSkipSmartHealthCheck", "Yes");
    tw_smartctl r("/dev/sda");
    EXPECT_EQ(r.extractoverallhealth(""), 0);
    EXPECT_TRUE(r.getoverallhealth());
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_TRUE(tb.logged(1, "tw_smartctl::extractoverallhealth",
                          "Skipping Smart Health Check. Smart Health set as good by default."));
}

TEST(SmartHealth, SasVerdictThroughTheScsiCommand) {
    test_backend tb;
    tb.on(kScsi, 0, fixture("smartctl/a-sas-seagate-st9300605ss-noheader.txt"));
    tw_smartctl r("/dev/sda");
    EXPECT_EQ(r.extractoverallhealth(""), 0);
    EXPECT_TRUE(r.getoverallhealth());
    EXPECT_EQ(tb.commands, std::vector<std::string>{kScsi});
    EXPECT_TRUE(tb.sleeps.empty());
}

TEST(SmartHealth, SataVerdictThroughThePlainCommandWithoutSleeping) {
    test_backend tb;
    tb.on(kScsi, 2, "", "Smartctl open device: /dev/sda failed");
    tb.on(kPlain, 0, fixture("smartctl/a-sata-st3000dm001-noheader.txt"));
    tw_smartctl r("/dev/sda");
    EXPECT_EQ(r.extractoverallhealth(""), 0);
    EXPECT_TRUE(r.getoverallhealth());
    EXPECT_EQ(tb.commands, (std::vector<std::string>{kScsi, kPlain}));
    EXPECT_TRUE(tb.sleeps.empty());
}

TEST(SmartHealth, FailedVerdictsAreUnhealthy) {
    for (const char* f : {"smartctl/a-sata-st910021as-health-failed-5.39.txt",
                          "smartctl/x-sata-st32000542as-health-failed-brief-7.0.txt"}) {
        test_backend tb;
        tb.on(kScsi, 0, fixture(f));
        tw_smartctl r("/dev/sda");
        EXPECT_EQ(r.extractoverallhealth(""), 0) << f;
        EXPECT_FALSE(r.getoverallhealth()) << f;
    }
}

// Output without a verdict line is no verdict: a RAID virtual drive that lacks
// SMART (exit 0), or a smartctl killed part way by SIGFPE (128+8: only bit 3,
// "disk failing", set) or SIGXCPU (128+24). Neither reads as a failing disk.
TEST(SmartHealth, NoVerdictLineIsNotRead) {
    const std::string cut = fixture("smartctl/a-sata-st910021as-health-failed-5.39.txt").substr(0, 200);
    const struct {
        int status;
        std::string out;
    } cases[] = {{0, fixture("smartctl/a-megaraid-virtual-drive-rs3dc080-7.1.txt")}, {136, cut}, {152, cut}};
    for (const auto& c : cases) {
        test_backend tb;
        tb.on(kScsi, c.status, c.out);
        tw_smartctl r("/dev/sda");
        EXPECT_EQ(r.extractoverallhealth(""), -1) << c.status;
        EXPECT_FALSE(r.getoverallhealth());
        EXPECT_TRUE(tb.logged(0, "tw_smartctl::extractoverallhealth",
                              "No health verdict in the output of smartctl for [/dev/sda], exit status [" +
                                  std::to_string(c.status) + "]"));
    }
}

TEST(SmartHealth, ThreeAttemptsWithTheConfiguredInterval) {
    test_backend tb;
    tb.set_key("nArrowfieldSmartctlRetryInterval", "250");
    tb.on("smartctl -d scsi -H  /dev/vda", 1, fixture("thisvm/smartctl_H_vda_d_scsi.txt"));
    tb.on("smartctl -H  /dev/vda", 1, fixture("thisvm/smartctl_H_vda.txt"));
    tw_smartctl r("/dev/vda");
    EXPECT_EQ(r.extractoverallhealth(""), 1);
    EXPECT_FALSE(r.getoverallhealth());
    EXPECT_EQ(tb.commands.size(), 6u);
    EXPECT_EQ(tb.sleeps, (std::vector<unsigned>{250, 250, 250}));
    EXPECT_TRUE(tb.logged(1, "tw_smartctl::extractoverallhealth", "smartctl retry interval [250] milliseconds"));
    EXPECT_TRUE(tb.logged(0, "tw_smartctl::extractoverallhealth",
                          "Execution failed for commands [smartctl -d scsi -H  /dev/vda] and [smartctl -H  /dev/vda]"));
}

TEST(SmartHealth, FreeFunctionAndOptions) {
    test_backend tb;
    tb.on("smartctl -d scsi -H -d sat /dev/sdb", 0, "SMART overall-health self-assessment test result: PASSED\n");
    tw_smartctl r("/dev/sdb");
    EXPECT_EQ(r.extractoverallhealth("-d sat"), 0);
    EXPECT_TRUE(r.getoverallhealth());

    tb.on("smartctl -d scsi -H  /dev/sdc", 0, fixture("smartctl/iHA-sas-hgst-huh721212al5204-6.6.txt"));
    EXPECT_TRUE(get_drive_overallhealth("/dev/sdc"));
}

TEST(SmartAttributes, RealTableOfASataDrive) {
    test_backend tb;
    tb.on("smartctl -A /dev/sda", 0, fixture("smartctl/a-sata-st3000dm001-noheader.txt"));
    tw_smartctl r("/dev/sda");
    EXPECT_EQ(r.extractparams(), 0);
    EXPECT_EQ(ids(r), (std::vector<std::uint32_t>{1,   3,   4,   5,   7,   9,   10,  12,  183, 184, 187, 188,
                                                  189, 190, 191, 192, 193, 194, 197, 198, 199, 240, 241, 242}));
    std::list<smart_param> faulty;
    r.getfaultyattrs(faulty);
    // 184 End-to-End_Error: value 100, threshold 099 -> healthy; every row clears its threshold.
    EXPECT_TRUE(faulty.empty());
    EXPECT_TRUE(r.allattrs_healthy());

    smart_param seek;
    r.for_each_attr(
        [](smart_param& p, void* ctx) {
            if (p.get_id() == 7) *static_cast<smart_param*>(ctx) = p;
        },
        &seek);
    EXPECT_EQ(seek.get_name(), "Seek_Error_Rate");
    EXPECT_EQ(seek.get_flag(), 0x000fu);
    EXPECT_EQ(seek.get_value(), 60u);
    EXPECT_EQ(seek.get_worst(), 55u);
    EXPECT_EQ(seek.get_threshold(), 30u);
    EXPECT_EQ(seek.get_failuretype(), FAILURETYPE_PRE_FAIL);
    EXPECT_EQ(seek.get_rawval(), 21480133713ULL);  // beyond 32 bits
    smart_param temp;
    r.for_each_attr(
        [](smart_param& p, void* ctx) {
            if (p.get_id() == 190) *static_cast<smart_param*>(ctx) = p;
        },
        &temp);
    EXPECT_EQ(temp.get_rawval(), 36u);  // "36 (Min/Max 34/38)"
    EXPECT_EQ(temp.get_failuretype(), FAILURETYPE_OLD_AGE);
}

TEST(SmartAttributes, FailingDriveListsItsFaultyAttributes) {
    test_backend tb;
    tb.on("smartctl -A /dev/sda", 0, fixture("smartctl/a-sata-st910021as-health-failed-5.39.txt"));
    tw_smartctl r("/dev/sda");
    EXPECT_EQ(r.extractparams(), 0);
    std::list<smart_param> faulty;
    r.getfaultyattrs(faulty);
    std::vector<std::uint32_t> faulty_ids;
    for (const auto& p : faulty) faulty_ids.push_back(p.get_id());
    // 5: 001 <= 036 (FAILING_NOW); 190: 056 > 045 although it failed in the past.
    EXPECT_EQ(faulty_ids, (std::vector<std::uint32_t>{5}));
    EXPECT_TRUE(faulty.front().get_failed());
    EXPECT_FALSE(r.allattrs_healthy());
}

TEST(SmartAttributes, BriefLayoutIsReadToo) {
    test_backend tb;
    tb.on("smartctl -A /dev/sda", 0, fixture("smartctl/x-sata-st32000542as-health-failed-brief-7.0.txt"));
    tw_smartctl r("/dev/sda");
    EXPECT_EQ(r.extractparams(), 0);
    std::list<smart_param> faulty;
    r.getfaultyattrs(faulty);
    ASSERT_EQ(faulty.size(), 1u);
    EXPECT_EQ(faulty.front().get_id(), 5u);
    EXPECT_EQ(faulty.front().get_flag(), 0x33u);  // PO--CK
    EXPECT_EQ(faulty.front().get_failuretype(), FAILURETYPE_PRE_FAIL);
    EXPECT_EQ(faulty.front().get_rawval(), 3956u);
    EXPECT_EQ(ids(r).size(), 22u);  // every row, none of the log tables after it
}

TEST(SmartAttributes, ThresholdBoundaryAndUnknownType) {
    test_backend tb;
    tb.on("smartctl -A /dev/sda", 0,
          "ID# ATTRIBUTE_NAME          FLAG     VALUE WORST THRESH TYPE      UPDATED  WHEN_FAILED RAW_VALUE\n"
          "  5 Reallocated_Sector_Ct   0x0033   100   100   100    Pre-fail  Always       -       0\n"
          "  9 Power_On_Hours          0x0032   101   101   100    Odd_type  Always       -       12\n"
          "  5 Reallocated_Sector_Ct   0x0033   101   100   100    Pre-fail  Always       -       0\n"
          "not a row at all\n");
    tw_smartctl r("/dev/sda");
    EXPECT_EQ(r.extractparams(), 0);
    std::list<smart_param> faulty;
    r.getfaultyattrs(faulty);
    EXPECT_TRUE(faulty.empty());  // the later row of id 5 replaced the first
    EXPECT_FALSE(r.allattrs_healthy());  // but the first was seen unhealthy
    smart_param poh;
    r.for_each_attr(
        [](smart_param& p, void* ctx) {
            if (p.get_id() == 9) *static_cast<smart_param*>(ctx) = p;
        },
        &poh);
    EXPECT_EQ(poh.get_failuretype(), FAILURETYPE_UNKNOWN);

    smart_param p;
    p.set_value(100);
    p.set_threshold(100);
    p.update_health();
    EXPECT_FALSE(p.is_healthy());
    p.set_value(101);
    p.update_health();
    EXPECT_TRUE(p.is_healthy());
}

TEST(SmartAttributes, NothingReadNothingFaulty) {
    test_backend tb;
    tw_smartctl r("/dev/sda");
    std::list<smart_param> faulty{smart_param()};
    r.getfaultyattrs(faulty);
    EXPECT_TRUE(faulty.empty());
    tb.on("smartctl -A /dev/vda", 1, fixture("thisvm/smartctl_A_vda.txt"));
    tw_smartctl vda("/dev/vda");
    EXPECT_EQ(vda.extractparams(), 1);
    EXPECT_TRUE(tb.logged(0, "tw_smartctl::extractparams", "Execution of [smartctl -A /dev/vda] failed"));
    EXPECT_TRUE(ids(vda).empty());
}

TEST(SmartSerial, GrepLineOfRealInfoOutputs) {
    test_backend tb;
    // What grep -i "Serial number" keeps of each output.
    tb.on("smartctl  -i /dev/sda | grep -i \"Serial number\"", 0,
          grep(fixture("smartctl/info-sata-micron-5200.txt"), "Serial number", true));
    tb.on("smartctl -d scsi -i /dev/nvme0n1 | grep -i \"Serial number\"", 0,
          grep(fixture("smartctl/info-sas-hgst-huh721212.txt"), "Serial number", true));
    EXPECT_EQ(get_drive_serialnum("/dev/sda"), "202028413FA9");
    EXPECT_EQ(get_drive_serialnum("/dev/nvme0n1"), "D5G7WG8L");

    tb.on("smartctl  -i /dev/vda | grep -i \"Serial number\"", 1);
    EXPECT_EQ(get_drive_serialnum("/dev/vda"), "");
    EXPECT_TRUE(tb.logged(0, "tw_smartctl::getdriveserialnum",
                          "Execution of [smartctl  -i /dev/vda | grep -i \"Serial number\"] failed"));
}

// smartctl's exit status is a bit mask: bits 3-7 are findings on a disk that was
// read, so its output holds the verdict; bits 0-2 mean nothing usable came back.
TEST(SmartExitStatus, FindingsStillCarryTheVerdict) {
    struct exit_case {
        const char* fixture;
        int status;
        bool healthy;
    };
    for (const exit_case& c : std::vector<exit_case>{
             {"smartctl/a-sata-st910021as-health-failed-5.39.txt", 8, false},
             {"smartctl/a-sata-st910021as-health-failed-5.39.txt", 8 | 16, false},
             {"smartctl/x-sata-st32000542as-health-failed-brief-7.0.txt", 8, false},
             {"smartctl/a-sata-st3000dm001-noheader.txt", 32, true},
             {"smartctl/a-sata-hgst-hus724040ale640-megaraid-7.1.txt", 64, true},
             {"smartctl/a-sata-st500lm021-6.2.txt", 32 | 64 | 128, true},
         }) {
        test_backend tb;
        tb.on(kScsi, 2, "", "Smartctl open device: /dev/sda failed");
        tb.on(kPlain, c.status, fixture(c.fixture));
        tw_smartctl r("/dev/sda");
        EXPECT_EQ(r.extractoverallhealth(""), 0) << c.fixture << " exit " << c.status;
        EXPECT_EQ(r.getoverallhealth(), c.healthy) << c.fixture << " exit " << c.status;
        EXPECT_EQ(tb.commands, (std::vector<std::string>{kScsi, kPlain})) << c.fixture;
        EXPECT_TRUE(tb.sleeps.empty());
    }
}

TEST(SmartExitStatus, NoDataBitsMeanUnreadAndRetried) {
    for (int status : {1, 2, 4, 2 | 8, 4 | 64, -1}) {
        test_backend tb;
        // Even a verdict line in the output is not believed when smartctl says
        // the SMART command itself failed.
        tb.on(kScsi, status, "SMART overall-health self-assessment test result: PASSED\n");
        tb.on(kPlain, status, "SMART overall-health self-assessment test result: PASSED\n");
        tw_smartctl r("/dev/sda");
        EXPECT_EQ(r.extractoverallhealth(""), status) << status;
        EXPECT_FALSE(r.getoverallhealth()) << status;
        EXPECT_EQ(tb.commands.size(), 6u) << status;

        tb.on("smartctl -A /dev/sda", status, fixture("smartctl/a-sata-st3000dm001-noheader.txt"));
        EXPECT_EQ(r.extractparams(), status) << status;
        EXPECT_TRUE(ids(r).empty()) << status;
    }
}

TEST(SmartExitStatus, AttributesOfAFailingDiskAreRead) {
    test_backend tb;
    tb.on("smartctl -A /dev/sda", 16 | 32, fixture("smartctl/a-sata-st910021as-health-failed-5.39.txt"));
    tw_smartctl r("/dev/sda");
    EXPECT_EQ(r.extractparams(), 0);
    std::list<smart_param> faulty;
    r.getfaultyattrs(faulty);
    ASSERT_EQ(faulty.size(), 1u);
    EXPECT_EQ(faulty.front().get_id(), 5u);
    EXPECT_FALSE(r.allattrs_healthy());
}

// Raw values that are no plain number keep their row, with the number they start with.
TEST(SmartAttributes, EveryRawValueFormKeepsItsRow) {
    struct raw_case {
        const char* raw;
        std::uint64_t value;
    };
    for (const raw_case& c : std::vector<raw_case>{{"0/0", 0},
                                                   {"8409h+40m+13.690s", 8409},
                                                   {"34 (Min/Max 20/45)", 34},
                                                   {"0x000000000101", 0x101},
                                                   {"12", 12},
                                                   {"-", 0}}) {
        test_backend tb;
        tb.on("smartctl -A /dev/sda", 0,
              std::string(
                  "ID# ATTRIBUTE_NAME          FLAG     VALUE WORST THRESH TYPE      UPDATED  WHEN_FAILED RAW_VALUE\n"
                  "  9 Power_On_Hours          0x0032   010   010   010    Pre-fail  Always   FAILING_NOW ") +
                  c.raw + "\n");
        tw_smartctl r("/dev/sda");
        EXPECT_EQ(r.extractparams(), 0) << c.raw;
        std::list<smart_param> faulty;
        r.getfaultyattrs(faulty);
        ASSERT_EQ(faulty.size(), 1u) << c.raw;  // at its threshold: seen
        EXPECT_EQ(faulty.front().get_rawval(), c.value) << c.raw;
        EXPECT_FALSE(r.allattrs_healthy()) << c.raw;
    }
    // A real table with a "0/0" row (234 Thermal_Throttle_Status).
    test_backend tb;
    tb.on("smartctl -A /dev/sda", 0, fixture("smartctl/a-sata-intel-ssdsc2kb480g8-megaraid-7.1.txt"));
    tw_smartctl r("/dev/sda");
    EXPECT_EQ(r.extractparams(), 0);
    const auto seen = ids(r);
    EXPECT_NE(std::find(seen.begin(), seen.end(), 234u), seen.end());
}

// The metrics path's one-call reading: a sleeping disk is left asleep and said
// to be so, whatever exit status comes with it; real combined outputs are read whole.
TEST(SmartReading, StandbyVerdictSerialAndFaultyAttributesFromOneOutput) {
    using tidewall::platform::parse_smart_reading;
    using state = tidewall::platform::smart_reading::state;
    const std::string asleep =
        "smartctl 7.3 2022-02-28 r5338 [x86_64-linux-6.1.0-18-amd64] (local build)\n"
        "Copyright (C) 2002-22, Bruce Allen, Christian Franke, www.smartmontools.org\n\n"
        "Device is in STANDBY mode, exit(2)\n";
    struct row {
        const char* what;
        int status;
        std::string out;
        bool skip;
        state result;
        bool healthy;
        std::string serial;
        size_t faulty;
    };
    const std::vector<row> rows = {
        {"standby", 2, asleep, false, state::standby, false, "", 0},
        {"sleep, status overridden", 0, "Device is in SLEEP mode, exit(0)\n", false, state::standby, false, "", 0},
        {"sas -i -H -A", 0, fixture("smartctl/iHA-sas-hgst-huh721212al5204-6.6.txt"), false, state::read, true,
         "8HJ39K3H", 0},
        {"sata passed", 0, fixture("smartctl/a-sata-hgst-hus724040ale640-megaraid-7.1.txt"), false, state::read, true,
         "PKXXXXXXXXXXGB", 0},
        {"sata failing", 8 | 0x20, fixture("smartctl/a-sata-st910021as-health-failed-5.39.txt"), false, state::read,
         false, "3MH05H05", 1},
        {"open failed", 2, "Smartctl open device: /dev/sdx failed: No such device\n", false, state::unreadable, false,
         "", 0},
        {"no verdict", 0, fixture("smartctl/info-sata-micron-5200.txt"), false, state::unreadable, false, "", 0},
        {"verdict skipped", 0, fixture("smartctl/info-sata-micron-5200.txt"), true, state::read, true, "202028413FA9",
         0},
    };
    for (const auto& r : rows) {
        auto got = parse_smart_reading(r.status, r.out, r.skip);
        EXPECT_EQ(got.result, r.result) << r.what;
        EXPECT_EQ(got.healthy, r.healthy) << r.what;
        EXPECT_EQ(got.serial, r.serial) << r.what;
        EXPECT_EQ(got.faulty_attributes, r.faulty) << r.what;
    }
}
