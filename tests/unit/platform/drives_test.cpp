// The drive inventory behind the nTidewallDriveOperations switch: which disks,
// the exact commands, drive numbers matched by serial, and the monitor key.

#include "fixture.h"
#include "platform_test_util.h"

#include <gtest/gtest.h>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

const std::string kControllers = tidewall::testing::fixture("golden/sas_raid_controllers.cmd");

// Two data disks: /tw/disk1 on a partition of sdb, /tw/disk2 on the whole of
// sdc; /tw/disk3 is not mounted and / is no data path.
void serve_node(test_backend& tb) {
    tb.set_key("nTidewallDriveOperations", "1");
    tb.set_key("sArrowfieldApplianceType", "RM-110");  // GlusterFS flavour: data paths are /tw/diskN
    tb.write_file("/etc/mtab",
                  "/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /tw/disk1 xfs rw 0 0\n/dev/sdc /tw/disk2 xfs rw 0 0\n");
    tb.make_dir("/tw/disk3");
    tb.usage["/tw/disk1"] = {1000, 500};
    tb.usage["/tw/disk2"] = {1000, 500};
    tb.on("lsblk -n -o PKNAME /dev/sdb1", 0, "sdb\n");
    tb.on("lsblk -n -o PKNAME /dev/sdc", 0, "\n");
    tb.on("lsblk -d -n -b -P -o NAME,VENDOR,MODEL,SERIAL,REV,TRAN,SIZE,HCTL /dev/sdb", 0,
          "NAME=\"sdb\" VENDOR=\"ATA     \" MODEL=\"HGST HUS724040ALE640\" SERIAL=\"PK1334PBHXXXXX\" REV=\"MJAOA5E0\" "
          "TRAN=\"sas\" SIZE=\"4000787030016\" HCTL=\"0:2:1:0\"\n");
    tb.on("lsblk -d -n -b -P -o NAME,VENDOR,MODEL,SERIAL,REV,TRAN,SIZE,HCTL /dev/sdc", 0,
          "NAME=\"sdc\" VENDOR=\"\" MODEL=\"\" SERIAL=\"\" REV=\"\" TRAN=\"\" SIZE=\"480103981056\" HCTL=\"\"\n");
    for (const char* d : {"/dev/sdb", "/dev/sdc"}) {
        tb.on(std::string("smartctl -d scsi -H  ") + d, 0, fixture("smartctl/a-sata-st3000dm001-noheader.txt"));
    }
    tb.on("smartctl  -i /dev/sdb | grep -i \"Serial number\"", 0, "Serial Number:    PK1334PBHXXXXX\n");
    tb.on("smartctl  -i /dev/sdc | grep -i \"Serial number\"", 0, "Serial Number:    BTYG90110ABC480BGN\n");
    tb.on(kControllers, 0, "18:00.0\n");
}

TEST(Drives, SwitchOpensTheGate) {
    struct row {
        const char* value;
        bool open;
    } rows[] = {{nullptr, false}, {"0", false}, {"1", true}, {"2", true}, {"yes", false}, {"", false}};
    for (const auto& r : rows) {
        test_backend tb;
        if (r.value) tb.set_key("nTidewallDriveOperations", r.value);
        EXPECT_EQ(tw_platform::hwmon_driveops_supported(), r.open) << (r.value ? r.value : "(absent)");
    }
}

TEST(Drives, OneRecordPerDataDiskWithMegaCliNumbersBySerial) {
    test_backend tb;
    serve_node(tb);
    tb.on("lspci -k -s 18:00.0 | grep -i \"Kernel driver in use\"", 0, "\tKernel driver in use: megaraid_sas\n");
    tb.on("/opt/MegaRAID/MegaCli/MegaCli64 -PDList -aALL", 0,
          "\r   \nAdapter #0\n\nEnclosure Device ID: 32\nSlot Number: 4\nInquiry Data: BTYG90110ABC480BGN  INTEL "
          "SSDSC2KB480G8  XCV10100\n\nEnclosure Device ID: 32\nSlot Number: 5\nInquiry Data:       PK1334PBHXXXXX"
          "HGST HUS724040ALE640                 MJAOA5E0\n");
    tw_platform p;
    const auto drives = p.get_driveinfo();
    ASSERT_EQ(drives.size(), 2u);
    const tw_driveinfo& b = drives.front();
    EXPECT_EQ(b.get_devname(), "/dev/sdb");
    EXPECT_EQ(b.get_vendor(), "ATA");
    EXPECT_EQ(b.get_model(), "HGST HUS724040ALE640");
    EXPECT_EQ(b.get_serialnum(), "PK1334PBHXXXXX");
    EXPECT_EQ(b.get_type(), "SAS");
    EXPECT_EQ(b.get_size(), "4000787030016");
    EXPECT_EQ(b.get_phyid(), "0:2:1:0");
    EXPECT_TRUE(b.get_overallhealth());
    EXPECT_EQ(b.get_drivenum(), "0/32:5");
    EXPECT_EQ(drives.back().get_devname(), "/dev/sdc");
    EXPECT_EQ(drives.back().get_serialnum(), "BTYG90110ABC480BGN");  // from SMART when lsblk has none
    EXPECT_EQ(drives.back().get_drivenum(), "0/32:4");
    EXPECT_EQ(tb.key("sLastMonitorTimeDrive"), std::to_string(tb.clock));
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "Drive Info:"));

    // The observers' form: same records, no key moved.
    tb.set_key("sLastMonitorTimeDrive", "1");
    EXPECT_EQ(p.get_driveinfo(5).size(), 2u);
    EXPECT_EQ(tb.key("sLastMonitorTimeDrive"), "1");
}

TEST(Drives, SsacliNumbersBySerialAndAFailingToolLeavesNumbersEmpty) {
    test_backend tb;
    serve_node(tb);
    tb.on("lspci -k -s 18:00.0 | grep -i \"Kernel driver in use\"", 0, "\tKernel driver in use: hpsa\n");
    tb.on("rpm -q ssacli >/dev/null 2>&1 || dpkg -s ssacli >/dev/null 2>&1", 0);
    tb.on("ssacli controller all show config", 0, fixture("ssacli/hpacucli-ctrl-all-show-config-p400i.txt"));
    tb.on("ssacli controller slot=0 physicaldrive 1I:1:1 show | grep -i \"Serial Number\"", 0,
          "         Serial Number: BTYG90110ABC480BGN\n");
    tb.on("ssacli controller slot=0 physicaldrive 1I:1:2 show | grep -i \"Serial Number\"", 1);
    tw_platform p;
    const auto drives = p.get_driveinfo(5);
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives.front().get_drivenum(), "");
    EXPECT_EQ(drives.back().get_drivenum(), "0/1I:1:1");
}

// A Smart Array logical drive shows no physical serial: its disk name leads to
// its array, numbered after that array's first physical drive, which the
// location file records and locate blinks. Both real ways ssacli prints the
// disk name (own line, or joined with "Mount Points").
TEST(Drives, SmartArrayLogicalDriveNumberedByItsDiskNameAndLocated) {
    const std::string file = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AF_mpath_info";
    const std::string uuid = "5d8f5b7e-0c4a-4e5f-9d4b-2a9c1e6f3b10";
    for (const char* shown :
         {"ssacli/ctrl-slot2-ld1-show-p420.txt", "ssacli/hpssacli-ctrl-slot0-ld1-show-p420i-joined-line.txt"}) {
        test_backend tb;
        serve_node(tb);
        tb.on("lspci -k -s 18:00.0 | grep -i \"Kernel driver in use\"", 0, "\tKernel driver in use: hpsa\n");
        tb.on("rpm -q ssacli >/dev/null 2>&1 || dpkg -s ssacli >/dev/null 2>&1", 0);
        // Slot 1 has no array; array A of slot 0 holds logical drive 1 and 1I:1:1 ... 2I:1:8.
        tb.on("ssacli controller all show config", 0, fixture("ssacli/hpacucli-ctrl-all-show-config-p410.txt"));
        tb.on("ssacli controller slot=0 logicaldrive 1 show | grep -i \"Disk Name\"", 0,
              replaced(grep(fixture(shown), "Disk Name", true), "/dev/sda", "/dev/sdc"));
        tb.make_dir("/etc/TessalineRegistry/Tolvan/Instance001/Dockwright");
        tb.make_dir("/tw/disk2");
        tb.on("xfs_admin -u /dev/sdc | awk '{print $3}'", 0, uuid + "\n");
        tb.on("dmidecode -t system", 0,
              "System Information\n\tManufacturer: HPE\n\tProduct Name: ProLiant DL380 Gen10\n");
        tb.set_key("nDriveLocateIntervalInMinutes", "2");
        tb.on("ssacli controller slot=0 physicaldrive 1I:1:1 modify led=on duration=120", 0);
        tw_platform p;
        const auto drives = p.get_driveinfo(5);
        ASSERT_EQ(drives.size(), 2u) << shown;
        EXPECT_EQ(drives.front().get_drivenum(), "") << shown;  // sdb is on no logical drive
        EXPECT_EQ(drives.back().get_devname(), "/dev/sdc");
        EXPECT_EQ(drives.back().get_drivenum(), "0/1I:1:1") << shown;
        EXPECT_EQ(runs(tb, "ssacli controller slot=1 logicaldrive 1 show | grep -i \"Disk Name\""), 0);

        EXPECT_EQ(tw_platform_peer::drive_locate_past_gate(p, "/tw/disk2"), 0) << shown;
        EXPECT_NE(tb.read_file(file).find("mnt:/tw/disk2 devuuid:" + uuid + " drivenum:0/1I:1:1\n"), std::string::npos)
            << tb.read_file(file);
        EXPECT_EQ(runs(tb, "ssacli controller slot=0 physicaldrive 1I:1:1 modify led=on duration=120"), 1) << shown;
    }
}

}  // namespace
