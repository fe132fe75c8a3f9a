// The mount-path location file (its exact bytes, reading rules, merging the
// mounted data paths and rewriting only on change) and drive locate through
// each maker's tool.

#include "platform/drive_locate.h"

#include "platform_test_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

const std::string kFile = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AF_mpath_info";
const char* const kUuid1 = "5d8f5b7e-0c4a-4e5f-9d4b-2a9c1e6f3b10";
const char* const kUuid2 = "a1c3e5f7-2b4d-4f60-8a1c-3e5f7a9b1c2d";
const char* const kUuid3 = "0f1e2d3c-4b5a-4968-8776-5a4b3c2d1e0f";

std::string uuid_cmd(const std::string& dev) { return "xfs_admin -u " + dev + " | awk '{print $3}'"; }

tw_driveinfo drive(const std::string& dev, const std::string& number) {
    tw_driveinfo d;
    d.set_devname(dev);
    d.set_drivenum(number);
    return d;
}

ino_t inode_of(const test_backend& tb, const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat((tb.root + path).c_str(), &st), 0) << path;
    return st.st_ino;
}

// Three data disks mounted, a fourth directory not mounted.
void mount_data_disks(test_backend& tb) {
    tb.write_file("/etc/mtab",
                  "/dev/vda1 / ext4 rw,relatime 0 0\n"
                  "/dev/sdb /tw/disk1 xfs rw,noatime,inode64 0 0\n"
                  "/dev/sdc /tw/disk2 xfs rw,noatime,inode64 0 0\n"
                  "/dev/sdd /tw/disk3 xfs rw,noatime,inode64 0 0\n");
    for (const char* d : {"/tw/disk1", "/tw/disk2", "/tw/disk3", "/tw/disk4", "/tw/ddb"}) tb.make_dir(d);
    tb.on(uuid_cmd("/dev/sdb"), 0, std::string(kUuid1) + "\n");
    tb.on(uuid_cmd("/dev/sdc"), 0, std::string(kUuid2) + "\n");
}

}  // namespace

TEST(LocationFile, WrittenAndReadBack) {
    test_backend tb;
    tb.make_dir("/etc/TessalineRegistry/Tolvan/Instance001/Dockwright");
    EXPECT_EQ(tw_mpathfileinfo::mpath_file(), kFile);
    tw_mpathfileinfo writer;
    writer.mpath_map_find_insert("/tw/disk2", {kUuid2, "0/1I:1:2"});
    writer.mpath_map_find_insert("/tw/disk1", {kUuid1, "5"});
    writer.mpath_map_find_insert("/tw/disk10", {kUuid3, "32:7"});
    EXPECT_TRUE(writer.get_map_updated_flag());
    ASSERT_EQ(writer.mpath_map_writefile(kFile), 0);
    EXPECT_EQ(tb.read_file(kFile), std::string("\nmnt:/tw/disk1 devuuid:") + kUuid1 + " drivenum:5\n" +
                                       "\nmnt:/tw/disk10 devuuid:" + kUuid3 + " drivenum:32:7\n" +
                                       "\nmnt:/tw/disk2 devuuid:" + kUuid2 + " drivenum:0/1I:1:2\n");
    EXPECT_TRUE(tb.logged(2, "tw_mpathfileinfo::mpath_map_writefile", "Updating file: " + kFile));

    tw_mpathfileinfo reader;
    reader.create_mpath_fileinfo_map(kFile);
    EXPECT_FALSE(reader.get_map_updated_flag());
    ASSERT_EQ(reader.get_location_map().size(), 3u);
    for (const auto& [path, data] : writer.get_location_map()) {
        ASSERT_TRUE(reader.get_location_map().count(path)) << path;
        EXPECT_TRUE(fdata_is_same(reader.get_location_map().at(path), data)) << path;
    }
    std::string number;
    EXPECT_TRUE(reader.mpath_fileinfo_search(kFile, "/tw/disk2", number));
    EXPECT_EQ(number, "0/1I:1:2");
    EXPECT_FALSE(reader.mpath_fileinfo_search(kFile, "/tw/disk3", number));
    EXPECT_TRUE(
        tb.logged(2, "tw_mpathfileinfo::mpath_fileinfo_search", "Reading mountpath file info: [" + kFile + "]"));

    // The same data again changes nothing; other data replaces it.
    tw_mpathfileinfo again = reader;
    again.mpath_map_find_insert("/tw/disk1", {kUuid1, "5"});
    EXPECT_FALSE(again.get_map_updated_flag());
    again.mpath_map_find_insert("/tw/disk1", {kUuid1, "6"});
    EXPECT_TRUE(again.get_map_updated_flag());
    EXPECT_EQ(again.get_location_map().at("/tw/disk1").drivenum, "6");
}

TEST(LocationFile, ReadingRulesForHandEditedFiles) {
    test_backend tb;
    tb.write_file(kFile, std::string("\n") + "   mnt:/tw/disk1 devuuid:" + kUuid1 +
                             " drivenum:5   \r\n"
                             "mnt:/tw/disk2 devuuid:" +
                             kUuid2 +
                             "\n"  // two tokens
                             "mnt:/tw/disk3 garbage drivenum:4\n"  // no pair
                             "colour:blue devuuid:" +
                             kUuid3 +
                             " drivenum:9\n"  // no mount path
                             "mnt:/tw/disk1 devuuid:" +
                             kUuid3 +
                             " drivenum:8\n"  // second of disk1
                             "mnt:/tw/disk4 devuuid:" +
                             kUuid3 +
                             " drivenum:1 extra:x\n"  // four tokens
                             "drivenum:3 mnt:/tw/disk5 shelf:2\n");  // any order
    tw_mpathfileinfo m;
    m.create_mpath_fileinfo_map(kFile);
    const auto& map = m.get_location_map();
    ASSERT_EQ(map.size(), 3u);
    EXPECT_EQ(map.at("/tw/disk1").devuuid, kUuid1);
    EXPECT_EQ(map.at("/tw/disk1").drivenum, "5");
    EXPECT_EQ(map.at("/tw/disk3").devuuid, "");
    EXPECT_EQ(map.at("/tw/disk3").drivenum, "4");
    EXPECT_EQ(map.at("/tw/disk5").drivenum, "3");
    const char* tag = "tw_mpathfileinfo::create_mpath_fileinfo_map";
    EXPECT_TRUE(tb.logged(-1, tag, "Failed to get name, value pair from token (garbage)"));
    EXPECT_TRUE(tb.logged(3, tag, "Tokens[1]=garbage"));
    EXPECT_TRUE(tb.logged(2, "tw_mpathfileinfo::mpath_add_filedata",
                          std::string("Inserting in mpath-filemap: [/tw/disk1] -> ") + kUuid1 + ",5"));

    // A search reads the same way: the first entry of a mount path holds.
    std::string number;
    EXPECT_TRUE(m.mpath_fileinfo_search(kFile, "/tw/disk1", number));
    EXPECT_EQ(number, "5");
    EXPECT_FALSE(m.mpath_fileinfo_search(kFile, "/tw/disk2", number));

    // No file at all: an empty map, no search hit.
    test_backend empty;
    tw_mpathfileinfo none;
    none.create_mpath_fileinfo_map(kFile);
    EXPECT_TRUE(none.get_location_map().empty());
    EXPECT_FALSE(none.mpath_fileinfo_search(kFile, "/tw/disk1", number));
}

TEST(LocationFile, UpdateMergesMountedDisksAndRewritesOnlyOnChange) {
    test_backend tb;
    mount_data_disks(tb);
    // An entry of a disk that is gone stays.
    tb.write_file(kFile, std::string("\nmnt:/tw/disk9 devuuid:") + kUuid3 + " drivenum:12\n");
    std::list<tw_driveinfo> drives{drive("/dev/sdb", "5"), drive("/dev/sdc", "6")};
    tw_mpathfileinfo m;
    m.mpath_assign_drivelistp(&drives);
    EXPECT_EQ(m.mpath_get_drivelistp(), &drives);
    ASSERT_EQ(m.mpath_fileinfo_update(), 0);
    const std::string written = std::string("\nmnt:/tw/disk1 devuuid:") + kUuid1 + " drivenum:5\n" +
                                "\nmnt:/tw/disk2 devuuid:" + kUuid2 + " drivenum:6\n" +
                                "\nmnt:/tw/disk9 devuuid:" + kUuid3 + " drivenum:12\n";
    EXPECT_EQ(tb.read_file(kFile), written);
    EXPECT_TRUE(tb.logged(-1, "tw_mpathfileinfo::mpath_fileinfo_update_incore",
                          "Cannot find disk name [/dev/sdd] in driveinfo list. Skipping mount path [/tw/disk3]."));
    EXPECT_TRUE(tb.logged(3, "tw_mpathfileinfo::mpath_fileinfo_update_incore",
                          std::string("Find and insert Mpath[/tw/disk2] DevUuid[") + kUuid2 + "] Drivenum[6]"));
    EXPECT_TRUE(commands_starting(tb, "xfs_admin -u /dev/sdd").empty());

    // Nothing changed: the file is not touched.
    const ino_t before = inode_of(tb, kFile);
    tb.logs.clear();
    ASSERT_EQ(m.mpath_fileinfo_update(), 0);
    EXPECT_FALSE(m.get_map_updated_flag());
    EXPECT_EQ(inode_of(tb, kFile), before);
    EXPECT_FALSE(tb.logged(2, "tw_mpathfileinfo::mpath_map_writefile", "Updating file: " + kFile));

    // The disk of /tw/disk2 was replaced: a new device and file system in the same slot.
    tb.write_file("/etc/mtab", replaced(tb.read_file("/etc/mtab"), "/dev/sdc /tw/disk2", "/dev/sde /tw/disk2"));
    tb.on(uuid_cmd("/dev/sde"), 0, std::string(kUuid3) + "\n");
    drives.push_back(drive("/dev/sde", "6"));
    ASSERT_EQ(m.mpath_fileinfo_update(), 0);
    EXPECT_EQ(tb.read_file(kFile),
              replaced(written, std::string("devuuid:") + kUuid2, std::string("devuuid:") + kUuid3));
    EXPECT_NE(inode_of(tb, kFile), before);
}

TEST(LocationFile, DevicesWithoutAUuidOrDriveListAreSkipped) {
    test_backend tb;
    tb.write_file("/etc/mtab", "/dev/sdb /tw/disk1 xfs rw,noatime,inode64 0 0\n");
    tb.make_dir("/tw/disk1");
    tb.on(uuid_cmd("/dev/sdb"), 0, "\n");  // not XFS: xfs_admin prints nothing for awk
    std::list<tw_driveinfo> drives{drive("/dev/sdb", "5")};
    tw_mpathfileinfo m;
    m.mpath_assign_drivelistp(&drives);
    ASSERT_EQ(m.mpath_fileinfo_update(), 0);
    EXPECT_FALSE(tb.exists(kFile));
    EXPECT_TRUE(tb.logged(-1, "tw_mpathfileinfo::mpath_fileinfo_update_incore",
                          "Could not get UUID for block device=/dev/sdb. Skipping addition of this block device to "
                          "location registry."));

    tw_mpathfileinfo unassigned;
    unassigned.mpath_fileinfo_update_incore();
    EXPECT_TRUE(tb.logged(-1, "tw_mpathfileinfo::mpath_fileinfo_update_incore",
                          "Failed to update mpath fileinfo as drivelist pointer is NULL."));

    // A mount path with a blank cannot be one token of a line.
    test_backend blank;
    blank.write_file("/etc/mtab", "/dev/sdb /tw/disk\\0401 xfs rw 0 0\n");
    blank.make_dir("/tw/disk 1");
    blank.make_dir("/etc/TessalineRegistry/Tolvan/Instance001/Dockwright");
    blank.on(uuid_cmd("/dev/sdb"), 0, std::string(kUuid1) + "\n");
    tw_mpathfileinfo spaced;
    spaced.mpath_assign_drivelistp(&drives);
    EXPECT_EQ(spaced.mpath_fileinfo_update(), 0);
    EXPECT_FALSE(blank.exists(kFile));
    EXPECT_TRUE(blank.logged(-1, "tw_mpathfileinfo::mpath_fileinfo_update_incore",
                             std::string("Mount path [/tw/disk 1] (UUID [") + kUuid1 +
                                 "], drive [5]) cannot be stored in the location file"));
}

TEST(LocationFile, ThePlatformNeedsDrives) {
    test_backend tb;
    tw_platform p;
    EXPECT_EQ(p.mpath_fileinfo_update(), -1);
    EXPECT_TRUE(tb.logged(3, "tw_platform::mpath_fileinfo_update",
                          "No drives found. Cannot update location information in registry. Drive operations not "
                          "supported."));
    EXPECT_FALSE(tb.exists(kFile));
}

TEST(DriveLocate, EachMakersToolBlinksForTheGivenTime) {
    test_backend tb;
    tw_platform p;
    // FUJITSU: stop, locate, wait, stop.
    tb.on("amCLI --exec 7 stop_location", 1);
    tb.on("amCLI --exec 7 stop_location", 0);
    tb.on("amCLI --exec 7 locate", 0);
    EXPECT_EQ(p.drive_locate("FUJITSU", "7", 900), 0);
    EXPECT_EQ(tb.commands, (std::vector<std::string>{"amCLI --exec 7 stop_location", "amCLI --exec 7 locate",
                                                     "amCLI --exec 7 stop_location"}));
    EXPECT_EQ(tb.sleeps, std::vector<unsigned>{900000});
    EXPECT_TRUE(tb.logged(0, "tw_platform::drive_locate", "Locating [FUJITSU] drive with number [7]"));
    EXPECT_TRUE(tb.logged(2, "amcli_devnum_locate", "Blinking drive LED for 900 seconds"));
    EXPECT_TRUE(tb.logged(0, "tw_platform::drive_locate", "Successfully located [FUJITSU] drive with number [7]"));
    // The first stop failing is no reason to give up (nothing was blinking).
    EXPECT_TRUE(tb.logged(-1, "amcli_devnum_locate", "amCLI: Devnum [7] Failed to execute stop location"));

    // DELL: adapter/drive through MegaCli64.
    test_backend dell;
    const std::string mega = "/opt/MegaRAID/MegaCli/MegaCli64 ";
    dell.on(mega + "-PdLocate -stop -physdrv[32:5] -a0", 0);
    dell.on(mega + "-PdLocate -start -physdrv[32:5] -a0", 0);
    EXPECT_EQ(p.drive_locate("DELL", "0/32:5", 60), 0);
    EXPECT_EQ(dell.commands, (std::vector<std::string>{mega + "-PdLocate -stop -physdrv[32:5] -a0",
                                                       mega + "-PdLocate -start -physdrv[32:5] -a0",
                                                       mega + "-PdLocate -stop -physdrv[32:5] -a0"}));
    EXPECT_EQ(dell.sleeps, std::vector<unsigned>{60000});
    EXPECT_TRUE(dell.logged(0, "tw_platform::drive_locate",
                            "Successfully located [DELL] drive with number [32:5] adapter number [0]"));

    // HPE: the controller times the blink itself; no stop.
    test_backend hpe;
    hpe.on("rpm -q ssacli >/dev/null 2>&1 || dpkg -s ssacli >/dev/null 2>&1", 0);
    hpe.on("ssacli controller slot=0 physicaldrive 1I:1:2 modify led=on duration=600", 0);
    EXPECT_EQ(p.drive_locate("HP", "0/1I:1:2", 600), 0);
    EXPECT_EQ(commands_starting(hpe, "ssacli"),
              std::vector<std::string>{"ssacli controller slot=0 physicaldrive 1I:1:2 modify led=on duration=600"});
    EXPECT_EQ(hpe.sleeps, std::vector<unsigned>{600000});
}

TEST(DriveLocate, FailuresStopBeforeBlinking) {
    test_backend tb;
    tw_platform p;
    tb.on("amCLI --exec 7 stop_location", 0);
    tb.on("amCLI --exec 7 locate", 2);
    EXPECT_EQ(p.drive_locate("FUJITSU", "7", 900), -1);
    EXPECT_TRUE(tb.sleeps.empty());
    EXPECT_TRUE(tb.logged(-1, "amcli_devnum_locate", "amCLI: Devnum [7] Failed to execute locate"));

    // The LED blinked but would not stop.
    test_backend stuck;
    stuck.on("amCLI --exec 8 stop_location", 0);
    stuck.on("amCLI --exec 8 stop_location", 3);
    stuck.on("amCLI --exec 8 locate", 0);
    EXPECT_EQ(p.drive_locate("FUJITSU", "8", 5), -1);
    EXPECT_EQ(stuck.sleeps, std::vector<unsigned>{5000});

    test_backend hpe;  // ssacli not installed
    EXPECT_EQ(p.drive_locate("HPE", "1/2I:1:1", 600), -1);
    EXPECT_TRUE(
        hpe.logged(-1, "hpcli_ctrl_locate_drive", "hpcli: Ctrl_slot [1] Failed to locate Physical Drive [2I:1:1]."));
    EXPECT_TRUE(hpe.sleeps.empty());

    test_backend refused;
    EXPECT_EQ(p.drive_locate("FUJITSU", "", 900), -1);
    EXPECT_TRUE(refused.logged(-1, "tw_platform::drive_locate", "Drive number is empty. Cannot locate drive."));
    EXPECT_EQ(p.drive_locate("Dell Inc.", "0/32:5", 900), -1);
    EXPECT_TRUE(refused.logged(2, "tw_platform::drive_locate", "Drive locate not supported for vendor [Dell Inc.]"));
    EXPECT_EQ(p.drive_locate("Lenovo", "3", 900), -1);
    EXPECT_TRUE(refused.logged(2, "tw_platform::drive_locate", "Drive locate not supported for vendor [Lenovo]"));
    EXPECT_EQ(p.drive_locate("DELL", "32:5", 900), -1);  // no adapter
    EXPECT_TRUE(refused.commands.empty());
}

TEST(DriveLocate, MountPathIsBehindTheGate) {
    test_backend tb;
    tw_platform p;
    EXPECT_EQ(p.drive_locate("/tw/disk1"), -1);
    EXPECT_TRUE(tb.logged(3, "tw_platform::drive_locate", "Drive Operations not supported."));
    EXPECT_TRUE(tb.commands.empty());
}

TEST(DriveLocate, MountPathThroughTheLocationFile) {
    test_backend tb;
    tb.write_file(kFile, std::string("\nmnt:/tw/disk1 devuuid:") + kUuid1 + " drivenum:0/32:5\n");
    tb.on("dmidecode -t system", 0,
          "System Information\n\tManufacturer: Dell Inc.\n\tProduct Name: PowerEdge R740xd\n"
          "\tVersion: Not Specified\n\tSerial Number: 4X2Y3Z2\n");
    tb.set_key("nDriveLocateIntervalInMinutes", "0");
    for (const char* verb : {"-stop", "-start"})
        tb.on(std::string("/opt/MegaRAID/MegaCli/MegaCli64 -PdLocate ") + verb + " -physdrv[32:5] -a0", 0);
    tw_platform p;
    // Dell Inc. is located through MegaCli64, for 15 minutes when the key says 0.
    EXPECT_EQ(tw_platform_peer::drive_locate_past_gate(p, "/tw/disk1"), 0);
    EXPECT_EQ(commands_starting(tb, "/opt/MegaRAID/MegaCli/MegaCli64 -PdLocate -start"),
              std::vector<std::string>{"/opt/MegaRAID/MegaCli/MegaCli64 -PdLocate -start -physdrv[32:5] -a0"});
    EXPECT_EQ(tb.sleeps, std::vector<unsigned>{900000});
    EXPECT_TRUE(tb.logged(3, "tw_platform::drive_locate", "Using Drive Locate interval of 15 mins"));

    // No key: the default, said so.
    tb.registry.clear();
    tb.sleeps.clear();
    tw_platform_peer::drive_locate_past_gate(p, "/tw/disk1");
    EXPECT_TRUE(tb.logged(3, "tw_platform::drive_locate",
                          "Failed to get value for registry [nDriveLocateIntervalInMinutes]. Using default locate time "
                          "of 15 mins."));
    tb.set_key("nDriveLocateIntervalInMinutes", "2");
    tb.sleeps.clear();
    tw_platform_peer::drive_locate_past_gate(p, "/tw/disk1");
    EXPECT_EQ(tb.sleeps, std::vector<unsigned>{120000});

    // A mount path the file does not hold: one update, one more search, then no.
    tb.logs.clear();
    tb.sleeps.clear();
    EXPECT_EQ(tw_platform_peer::drive_locate_past_gate(p, "/tw/disk9"), -1);
    int searches = 0;
    for (const auto& l : tb.logs) searches += l.text == "Reading mountpath file info: [" + kFile + "]";
    EXPECT_EQ(searches, 2);
    EXPECT_TRUE(tb.logged(3, "tw_platform::mpath_fileinfo_update",
                          "No drives found. Cannot update location information in registry. Drive operations not "
                          "supported."));
    EXPECT_TRUE(tb.logged(-1, "tw_platform::drive_locate", "Mountpath [/tw/disk9] not found in Mpath fileinfo."));
    EXPECT_TRUE(tb.sleeps.empty());
}
