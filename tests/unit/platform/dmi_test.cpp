// System, baseboard and BIOS records from real dmidecode outputs.

#include "platform_test_util.h"

#include <gtest/gtest.h>

using namespace platform_test;
using tidewall::testing::test_backend;

TEST(SystemInfo, RealOutputs) {
    struct row {
        const char* file;
        const char* vendor;
        const char* model;
        const char* serial;
    };
    for (const row r :
         {row{"dmidecode/t1-dell-r640-masked.txt", "Dell Inc.", "PowerEdge R640", "*******"},
          row{"dmidecode/tsystem-blocks-from-full-dell-r640.txt", "Dell Inc.", "PowerEdge R640", "2RJF153"},
          row{"dmidecode/full-dell-r640.txt", "Dell Inc.", "PowerEdge R640", "2RJF153"},
          // trailing blanks in the table are trimmed
          row{"dmidecode/full-hp-proliant-dl180-g6.txt", "HP", "ProLiant DL180 G6", "CZJ02901TG"}}) {
        test_backend tb;
        tb.on("dmidecode -t system", 0, fixture(r.file));
        tw_platform p;
        tw_system s = p.get_systeminfo();
        EXPECT_EQ(s.get_vendor(), r.vendor) << r.file;
        EXPECT_EQ(s.get_modelno(), r.model) << r.file;
        EXPECT_EQ(s.get_serialnum(), r.serial) << r.file;
        EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "System Info:"));
        EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo",
                              std::string("Vendor:[") + r.vendor + "] Model:[" + r.model + "] Serial Number:[" +
                                  r.serial + "]"));
    }
}

TEST(SystemInfo, MisplacedProductNameStillReadsTheSerial) {
    test_backend tb;
    tb.on("dmidecode -t system", 0,
          "System Information\n\tManufacturer: FUJITSU\n\tFamily: PRIMERGY\n\tVersion: GS01\n\tSerial Number: "
          "YM5K012345\n");
    tw_platform p;
    tw_system s = p.get_systeminfo();
    EXPECT_EQ(s.get_vendor(), "FUJITSU");
    EXPECT_EQ(s.get_modelno(), "");
    EXPECT_EQ(s.get_serialnum(), "YM5K012345");
}

TEST(SystemInfo, TruncatedBlocksLogWhichFieldIsMissing) {
    struct row {
        const char* out;
        const char* message;
        const char* vendor;
    };
    for (const row r : {row{"System Information\n", "Manufacturer field not found", ""},
                        row{"System Information\n\tManufacturer: HPE\n", "Product Name field not found", "HPE"},
                        row{"System Information\n\tManufacturer: HPE\n\tProduct Name: X\n\tVersion: 1\n",
                            "Serial Number field not found", "HPE"}}) {
        test_backend tb;
        tb.on("dmidecode -t system", 0, r.out);
        tw_platform p;
        EXPECT_EQ(p.get_systeminfo().get_vendor(), r.vendor);
        EXPECT_TRUE(tb.logged(-1, "tw_platform::get_systeminfo", r.message)) << r.message;
    }
}

TEST(SystemInfo, AFailedRunEmptiesEarlierValues) {
    test_backend tb;
    tb.on("dmidecode -t system", 0, fixture("dmidecode/t1-dell-r640-masked.txt"));
    tb.on("dmidecode -t system", 1, fixture("thisvm/dmidecode_system.txt"));  // the second call
    tw_platform p;
    EXPECT_EQ(p.get_systeminfo().get_vendor(), "Dell Inc.");
    tw_system s = p.get_systeminfo();
    EXPECT_EQ(s.get_vendor(), "");
    EXPECT_EQ(s.get_modelno(), "");
    EXPECT_EQ(s.get_serialnum(), "");
    EXPECT_TRUE(tb.logged(-1, "run_dmidecode", "Failed to run dmidecode command - [dmidecode -t system] Error [1]"));
}

TEST(ChipsetInfo, FourStringQueriesAndAFailureKeepsTheField) {
    test_backend tb;
    // Scripted results are used in turn: the first call's, then the second's.
    tb.on("dmidecode --string baseboard-manufacturer", 0, "Dell Inc.\n");
    tb.on("dmidecode --string baseboard-manufacturer", 1, "");
    tb.on("dmidecode --string baseboard-product-name", 0, "06NR82\n");
    tb.on("dmidecode --string baseboard-product-name", 0, "R640 board\n");
    tb.on("dmidecode --string baseboard-version", 0, "A03\n");
    tb.on("dmidecode --string baseboard-version", 0, "");
    tb.on("dmidecode --string baseboard-serial-number", 0, ".2RJF153.CNIVC0005G0184.  \n");
    tw_platform p;
    tw_chipset c = p.get_chipsetinfo();
    EXPECT_EQ(c.get_manu(), "Dell Inc.");
    EXPECT_EQ(c.get_prodname(), "06NR82");
    EXPECT_EQ(c.get_version(), "A03");
    EXPECT_EQ(c.get_serialnum(), ".2RJF153.CNIVC0005G0184.");
    EXPECT_EQ(tb.commands, (std::vector<std::string>{
                               "dmidecode --string baseboard-manufacturer", "dmidecode --string baseboard-product-name",
                               "dmidecode --string baseboard-version", "dmidecode --string baseboard-serial-number"}));
    EXPECT_TRUE(
        tb.logged(2, "tw_platform::loginfo",
                  "Manufacturer:[Dell Inc.] Product Name:[06NR82] Version:[A03] SerialNum:[.2RJF153.CNIVC0005G0184.]"));

    // A failed or empty answer keeps what the field held.
    c = p.get_chipsetinfo();
    EXPECT_EQ(c.get_manu(), "Dell Inc.");
    EXPECT_EQ(c.get_prodname(), "R640 board");
    EXPECT_EQ(c.get_version(), "A03");
}

TEST(BiosInfo, RealDellBlock) {
    test_backend tb;
    tb.on("dmidecode -t bios", 0, fixture("dmidecode/t0-blocks-from-full-dell-r640.txt"));
    tw_platform p;
    tw_bios b = p.get_biosinfo();
    EXPECT_EQ(b.get_vendor(), "Dell Inc.");
    EXPECT_EQ(b.get_version(), "2.6.4");
    EXPECT_EQ(b.get_reldate(), "04/09/2020");
    EXPECT_EQ(b.get_revision(), "2.6");
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "BIOS Info:"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo",
                          "Vendor:[Dell Inc.] Version:[2.6.4] Release Date:[04/09/2020] Revision:[2.6]"));
}

TEST(BiosInfo, SplitFailureStopsTheScanAndFailedRunEmpties) {
    test_backend tb;
    tb.on("dmidecode -t bios", 0, "\tVendor: HP\n\tVersion without colon\n\tRelease Date: 07/01/2015\n");
    tb.on("dmidecode -t bios", 1, fixture("thisvm/dmidecode_bios.txt"));
    tw_platform p;
    tw_bios b = p.get_biosinfo();
    EXPECT_EQ(b.get_vendor(), "HP");
    EXPECT_EQ(b.get_version(), "");
    EXPECT_EQ(b.get_reldate(), "");  // after the failure nothing more is read
    EXPECT_TRUE(tb.logged(-1, "tw_platform::get_biosinfo", "Failed to extract Bios Version [\tVersion without colon]"));

    EXPECT_EQ(p.get_biosinfo().get_vendor(), "");
}
