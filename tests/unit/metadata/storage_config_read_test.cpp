// Reading a caller's layout document: what is taken from it, and every way it
// can be refused, with the messages the node's operators look for in the log.

#include <tidewall/tw_md_storage_config.h>

#include "test_backend.h"

#include <gtest/gtest.h>

#include <limits>
#include <list>
#include <string>

using tidewall::testing::test_backend;

namespace {

// As an operator would write it: comments, any key order, no node part needed.
const std::string kDocument = R"({
  // metadata layout for node 7
  "disk": [{"name": "/dev/sdb"}, {"name": "/dev/sdc"}],
  "volumeGroup": {
    "name": "metadatavg", "extentSize": 4, "rsvdPercentage": 10,
    "physicalVolume": [{"name": "/dev/sdb"}, {"name": "/dev/sdc"}],
    "logicalVolume": [
      {"name": "index", "minPercentage": 30, "maxSize": 4096, "thinVolume": false},
      {"name": "ddb", "minPercentage": 40, "maxSize": 4096, "thinVolume": true}
    ]
  },
  "fileSystem": [{"fsType": "xfs", "blkDevice": "/dev/metadatavg/ddb"},
                 {"fsType": "xfs", "blkDevice": "/dev/metadatavg/index"}],
  "fileSystemMount": [
    {"blkDevice": "/dev/metadatavg/ddb", "fsType": "xfs", "mntPath": "/tw/ddb", "fsArgs": "noatime,inode64,nofail", "fsFreq": 1, "fsPassno": 2},
    {"blkDevice": "/dev/metadatavg/index", "fsType": "xfs", "mntPath": "/opt/x", "fsArgs": "noatime", "fsFreq": 0, "fsPassno": 0}
  ]
})";

std::string with(const std::string& from, const std::string& to) {
    std::string doc = kDocument;
    auto at = doc.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    if (at != std::string::npos) doc.replace(at, from.size(), to);
    return doc;
}

TEST(StorageConfigRead, TakesEveryRecordOfAHandWrittenDocument) {
    test_backend tb;
    tw_md_storage_config c;
    ASSERT_EQ(0, c.read_config_data(kDocument));
    ASSERT_EQ(2u, c.get_disk_list().size());
    EXPECT_EQ("/dev/sdc", c.get_disk_list().back().get_name());
    const tw_vg& vg = c.get_vg();
    EXPECT_EQ("metadatavg", vg.get_name());
    EXPECT_EQ(4u, vg.get_extent_size());
    EXPECT_EQ(10u, vg.get_rsvd_percentage_cap());
    ASSERT_EQ(2u, vg.get_pv_list().size());
    EXPECT_EQ("/dev/sdb", vg.get_pv_list().front().get_name());
    EXPECT_EQ("", vg.get_pv_list().front().get_uuid());
    ASSERT_EQ(2u, vg.get_lv_list().size());
    const tw_lv& ddb = vg.get_lv_list().back();
    EXPECT_EQ("ddb", ddb.get_name());
    EXPECT_TRUE(ddb.is_thin_volume());
    EXPECT_EQ(40u, ddb.get_min_percentage());
    EXPECT_EQ(4096u, ddb.get_max_size());
    EXPECT_EQ(0u, ddb.get_num_extents());
    ASSERT_EQ(2u, c.get_fs_list().size());
    EXPECT_EQ("/dev/metadatavg/index", c.get_fs_list().back().get_blk_device());
    ASSERT_EQ(2u, c.get_fs_mount_list().size());
    const tw_fs_mount& m = c.get_fs_mount_list().front();
    EXPECT_EQ("/tw/ddb", m.get_mnt_path());
    EXPECT_EQ("noatime,inode64,nofail", m.get_fs_args());
    EXPECT_EQ(1u, m.get_fs_freq());
    EXPECT_EQ(2u, m.get_fs_passno());
    EXPECT_TRUE(c.get_failures().empty());
}

TEST(StorageConfigRead, ReserveAboveNinetyNineIsTakenAsNone) {
    test_backend tb;
    tw_md_storage_config hundred, ninety_nine;
    ASSERT_EQ(0, hundred.read_config_data(with("\"rsvdPercentage\": 10", "\"rsvdPercentage\": 100")));
    EXPECT_EQ(0u, hundred.get_vg().get_rsvd_percentage_cap());
    ASSERT_EQ(0, ninety_nine.read_config_data(with("\"rsvdPercentage\": 10", "\"rsvdPercentage\": 99")));
    EXPECT_EQ(99u, ninety_nine.get_vg().get_rsvd_percentage_cap());
}

TEST(StorageConfigRead, NumbersAreTruncatedAndHeldWithinTheFieldsRange) {
    test_backend tb;
    std::string doc = with("\"extentSize\": 4", "\"extentSize\": 4.9");
    doc.replace(doc.find("\"maxSize\": 4096"), 15, "\"maxSize\": 1e30");
    doc.replace(doc.find("\"minPercentage\": 30"), 19, "\"minPercentage\": -30");
    doc.replace(doc.find("\"fsFreq\": 1"), 11, "\"fsFreq\": 4294967296");
    doc.replace(doc.find("\"rsvdPercentage\": 10"), 20, "\"rsvdPercentage\": 1e12");
    tw_md_storage_config c;
    ASSERT_EQ(0, c.read_config_data(doc));
    EXPECT_EQ(4u, c.get_vg().get_extent_size());
    EXPECT_EQ(std::numeric_limits<unsigned long long>::max(), c.get_vg().get_lv_list().front().get_max_size());
    EXPECT_EQ(0u, c.get_vg().get_lv_list().front().get_min_percentage());
    EXPECT_EQ(std::numeric_limits<unsigned>::max(), c.get_fs_mount_list().front().get_fs_freq());
    EXPECT_EQ(0u, c.get_vg().get_rsvd_percentage_cap());  // held at the top, then above 99
}

struct refusal {
    std::string from, to;
    const char* inner_tag;
    std::list<std::string> messages;  // innermost first; the last is read_config_data's
};

std::ostream& operator<<(std::ostream& os, const refusal& r) {
    return os << r.messages.front() << " with " << r.to.substr(0, 40);
}

class StorageConfigRefuses : public ::testing::TestWithParam<refusal> {};

TEST_P(StorageConfigRefuses, WithEveryMessageOnTheWayOut) {
    const refusal& r = GetParam();
    test_backend tb;
    tw_md_storage_config c;
    ::testing::internal::CaptureStderr();
    int rc = c.read_config_data(with(r.from, r.to));
    ::testing::internal::GetCapturedStderr();
    EXPECT_NE(0, rc);
    EXPECT_EQ(r.messages, c.get_failures());
    EXPECT_TRUE(tb.logged(-1, r.inner_tag, r.messages.front()));
    EXPECT_TRUE(tb.logged(-1, "tw_md_storage_config::read_config_data", r.messages.back()));
}

const char* kDisk = "tw_md_storage_config::read_disk_config";
const char* kVg = "tw_md_storage_config::read_vg_config";
const char* kPv = "tw_md_storage_config::read_pv_config";
const char* kLv = "tw_md_storage_config::read_lv_config";
const char* kFs = "tw_md_storage_config::read_fs_config";
const char* kMount = "tw_md_storage_config::read_fs_mount_config";
const char* kRead = "tw_md_storage_config::read_config_data";
const std::string kIndexMount =
    R"({"blkDevice": "/dev/metadatavg/index", "fsType": "xfs", "mntPath": "/opt/x", "fsArgs": "noatime", "fsFreq": 0, "fsPassno": 0})";

std::string index_mount(const std::string& from, const std::string& to) {
    std::string m = kIndexMount;
    m.replace(m.find(from), from.size(), to);
    return m;
}

INSTANTIATE_TEST_SUITE_P(
    EveryMessage, StorageConfigRefuses,
    ::testing::Values(
        refusal{"{\n", "[\n", kRead, {"parsing storage config data failed"}},
        refusal{"\"fsPassno\": 0}\n  ]", "\"fsPassno\": 0}\n  ", kRead, {"parsing storage config data failed"}},
        refusal{"\"disk\": [", "\"disks\": [", kDisk, {"disk config data missing", "reading disk config data failed"}},
        refusal{"\"disk\": [{\"name\": \"/dev/sdb\"}, {\"name\": \"/dev/sdc\"}]",
                "\"disk\": {\"name\": \"/dev/sdb\"}",
                kDisk,
                {"disk config data missing", "reading disk config data failed"}},
        refusal{"{\"name\": \"/dev/sdc\"}],\n  \"volumeGroup\"",
                "{\"Name\": \"/dev/sdc\"}],\n  \"volumeGroup\"",
                kDisk,
                {"disk config name missing", "reading disk config data failed"}},
        // An element that is no object is looked up all the same; the lookup
        // failure comes back to the reader instead of ending the process.
        refusal{"\"disk\": [{\"name\": \"/dev/sdb\"}",
                "\"disk\": [\"/dev/sdb\"",
                kDisk,
                {"disk config name missing", "reading disk config data failed"}},
        refusal{"\"volumeGroup\"",
                "\"VolumeGroup\"",
                kVg,
                {"volume group config data missing", "reading vg config data failed"}},
        refusal{"\"name\": \"metadatavg\"",
                "\"name\": [\"metadatavg\"]",
                kVg,
                {"vg config name missing", "reading vg config data failed"}},
        refusal{"\"extentSize\": 4",
                "\"extentSize\": \"4\"",
                kVg,
                {"vg config extentSize missing", "reading vg config data failed"}},
        refusal{"\"rsvdPercentage\": 10",
                "\"rsvdPercentage\": null",
                kVg,
                {"vg config rsvdPercentage missing", "reading vg config data failed"}},
        refusal{
            "\"physicalVolume\"",
            "\"physicalVolumes\"",
            kPv,
            {"Physical Volume config data missing", "reading pv config data failed", "reading vg config data failed"}},
        refusal{"\"physicalVolume\": [{\"name\": \"/dev/sdb\"}",
                "\"physicalVolume\": [{\"name\": \"/dev/sdb\"}, 7",
                kPv,
                {"pv config name missing", "reading pv config data failed", "reading vg config data failed"}},
        refusal{
            "\"logicalVolume\"",
            "\"logicalVolumes\"",
            kLv,
            {"Logical Volume config data missing", "reading lv config data failed", "reading vg config data failed"}},
        refusal{"\"logicalVolume\": [",
                "\"logicalVolume\": [[], ",
                kLv,
                {"lv config name missing", "reading lv config data failed", "reading vg config data failed"}},
        refusal{"{\"name\": \"ddb\"",
                "{\"nam\": \"ddb\"",
                kLv,
                {"lv config name missing", "reading lv config data failed", "reading vg config data failed"}},
        refusal{"\"thinVolume\": true",
                "\"thinVolume\": 1",
                kLv,
                {"lv config thin volume  missing", "reading lv config data failed", "reading vg config data failed"}},
        refusal{"\"minPercentage\": 40",
                "\"minPercentage\": \"40\"",
                kLv,
                {"lv config min percentage missing", "reading lv config data failed", "reading vg config data failed"}},
        refusal{"\"maxSize\": 4096, \"thinVolume\": true",
                "\"thinVolume\": true",
                kLv,
                {"lv config max size  missing", "reading lv config data failed", "reading vg config data failed"}},
        refusal{"\"fileSystem\"", "\"filesystem\"", kFs, {"fs config data missing", "reading fs config data failed"}},
        refusal{"\"blkDevice\": \"/dev/metadatavg/index\"}",
                "\"blkdevice\": \"/dev/metadatavg/index\"}",
                kFs,
                {"fs config blk Device missing", "reading fs config data failed"}},
        refusal{"{\"fsType\": \"xfs\", \"blkDevice\": \"/dev/metadatavg/ddb\"}",
                "{\"fsType\": false, \"blkDevice\": \"/dev/metadatavg/ddb\"}",
                kFs,
                {"fs configfs type  missing", "reading fs config data failed"}},
        refusal{"\"fileSystem\": [",
                "\"fileSystem\": [true, ",
                kFs,
                {"fs config blk Device missing", "reading fs config data failed"}},
        refusal{"\"fileSystemMount\"",
                "\"fileSystemMounts\"",
                kMount,
                {"fs mount config data missing", "reading fs mount config data failed"}},
        refusal{kIndexMount,
                index_mount("\"blkDevice\"", "\"device\""),
                kMount,
                {"fs mount config name missing", "reading fs mount config data failed"}},
        refusal{kIndexMount,
                index_mount("\"mntPath\"", "\"mountPath\""),
                kMount,
                {"fs mount config mnt path missing", "reading fs mount config data failed"}},
        refusal{kIndexMount,
                index_mount("\"fsType\": \"xfs\"", "\"fsType\": {}"),
                kMount,
                {"fs mount config fs type missing", "reading fs mount config data failed"}},
        refusal{kIndexMount,
                index_mount("\"fsArgs\": \"noatime\"", "\"fsArgs\": 0"),
                kMount,
                {"fs mount config fs args missing", "reading fs mount config data failed"}},
        refusal{kIndexMount,
                index_mount("\"fsFreq\": 0", "\"fsFreq\": \"0\""),
                kMount,
                {"fs mount config fs freq  missing", "reading fs mount config data failed"}},
        refusal{kIndexMount,
                index_mount("\"fsPassno\": 0", "\"fsPassno\": false"),
                kMount,
                {"fs mount config fs passno missing", "reading fs mount config data failed"}},
        refusal{kIndexMount, "null", kMount, {"fs mount config name missing", "reading fs mount config data failed"}}));

TEST(StorageConfigRead, ElementsBeforeABadOneStayAndAFailedGroupIsNotTaken) {
    test_backend tb;
    ::testing::internal::CaptureStderr();
    tw_md_storage_config bad_mount;
    EXPECT_NE(0, bad_mount.read_config_data(with(kIndexMount, "[]")));
    std::string diagnostics = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, diagnostics.find("[TWJSON] expression '")) << diagnostics;
    EXPECT_EQ(2u, bad_mount.get_disk_list().size());
    EXPECT_EQ("metadatavg", bad_mount.get_vg().get_name());
    EXPECT_EQ(2u, bad_mount.get_fs_list().size());
    ASSERT_EQ(1u, bad_mount.get_fs_mount_list().size());
    EXPECT_EQ("/tw/ddb", bad_mount.get_fs_mount_list().front().get_mnt_path());

    tw_md_storage_config bad_lv;
    EXPECT_NE(0, bad_lv.read_config_data(with("\"thinVolume\": true", "\"thinVolume\": null")));
    EXPECT_EQ(2u, bad_lv.get_disk_list().size());
    EXPECT_EQ("", bad_lv.get_vg().get_name());
    EXPECT_TRUE(bad_lv.get_vg().get_lv_list().empty());
    EXPECT_TRUE(bad_lv.get_vg().get_pv_list().empty());
    EXPECT_TRUE(bad_lv.get_fs_list().empty());
}

}  // namespace
