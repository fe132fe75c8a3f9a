// Default layouts: which volumes, shares, caps, file systems and mounts each
// node type gets on each platform and server model, and the document written
// for them.

#include <tidewall/tw_md_storage_config.h>

#include "node_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using tidewall::testing::set_node;
using tidewall::testing::test_backend;

namespace {

const char* kFujitsu = "FUJITSU_PRIMERGYRX2540M4";
const char* kDell = "DellInc._PowerEdgeR740xd";

struct lv_row {
    std::string name;
    unsigned long long min, max;
    bool thin;
    bool operator==(const lv_row& o) const {
        return std::tie(name, min, max, thin) == std::tie(o.name, o.min, o.max, o.thin);
    }
};

std::ostream& operator<<(std::ostream& os, const lv_row& r) {
    return os << r.name << " min " << r.min << " max " << r.max << (r.thin ? " thin" : " thick");
}

struct layout_case {
    const char* node;
    const char* platform;
    const char* model;
    std::vector<lv_row> lvs;
    std::vector<std::string> mounted_lvs;  // file systems and mounts, in order
};

std::ostream& operator<<(std::ostream& os, const layout_case& c) {
    return os << c.node << "/" << c.platform << "/" << c.model;
}

std::string mount_path_of(const std::string& lv) {
    if (lv == "ddb") return "/tw/ddb";
    if (lv == "index") return "/opt/tessaline/Dockwright64/IndexCache";
    return "/tw/" + lv;
}

std::vector<lv_row> lvs_of(const tw_vg& vg) {
    std::vector<lv_row> out;
    for (const auto& lv : vg.get_lv_list())
        out.push_back({lv.get_name(), lv.get_min_percentage(), lv.get_max_size(), lv.is_thin_volume()});
    return out;
}

// Everything a write and read must carry over, as comparable text.
std::string records_of(const tw_md_storage_config& c) {
    std::string s;
    for (const auto& d : c.get_disk_list()) s += "disk " + d.get_name() + "\n";
    const tw_vg& vg = c.get_vg();
    s += "vg " + vg.get_name() + " " + std::to_string(vg.get_extent_size()) + " " +
         std::to_string(vg.get_rsvd_percentage_cap()) + "\n";
    for (const auto& pv : vg.get_pv_list()) s += "pv " + pv.get_name() + "\n";
    for (const auto& lv : lvs_of(vg)) s += ::testing::PrintToString(lv) + "\n";
    for (const auto& fs : c.get_fs_list()) s += "fs " + fs.get_blk_device() + " " + fs.get_fs_type() + "\n";
    for (const auto& m : c.get_fs_mount_list())
        s += "mount " + m.get_blk_device() + " " + m.get_fs_type() + " " + m.get_mnt_path() + " " + m.get_fs_args() +
             " " + std::to_string(m.get_fs_freq()) + " " + std::to_string(m.get_fs_passno()) + "\n";
    return s;
}

class DefaultLayout : public ::testing::TestWithParam<layout_case> {};

TEST_P(DefaultLayout, VolumesFileSystemsAndMountsThenTheSameAfterWriteAndRead) {
    const layout_case& c = GetParam();
    test_backend tb;
    set_node(tb, "", c.platform, c.model);
    tw_md_storage_config config;
    ASSERT_EQ(0, config.init(c.node));
    bool buildable = true;
    for (const auto& lv : c.lvs) buildable &= lv.min > 0;
    if (buildable) {
        ASSERT_EQ(0, config.create_config_data({"/dev/sdb", "/dev/sdc"}));
    } else {
        // No share for a volume: no provisioning could build it, so it is
        // refused before anything is built, naming the node type and platform.
        EXPECT_EQ(1, config.create_config_data({"/dev/sdb", "/dev/sdc"}));
        ASSERT_EQ(1u, config.get_failures().size());
        EXPECT_EQ(std::string("no default metadata layout for node type [") + c.node + "] on platform [" + c.platform +
                      "]: logical volume(s) [index, dav_vm, dav_he] would get no share of the group",
                  config.get_failures().front());
        EXPECT_TRUE(config.get_disk_list().empty());
        EXPECT_TRUE(config.get_vg().get_lv_list().empty());
        EXPECT_TRUE(config.get_fs_mount_list().empty());
        // The layout as set still names its mounts (for undoing them).
        ASSERT_EQ(0, config.create_layout_as_set({"/dev/sdb", "/dev/sdc"}));
    }

    EXPECT_EQ(c.node, config.get_type());
    EXPECT_EQ(c.platform, config.get_platform_type());
    ASSERT_EQ(2u, config.get_disk_list().size());
    EXPECT_EQ("/dev/sdb", config.get_disk_list().front().get_name());
    const tw_vg& vg = config.get_vg();
    EXPECT_EQ("metadatavg", vg.get_name());
    EXPECT_EQ(4u, vg.get_extent_size());
    EXPECT_EQ(0u, vg.get_rsvd_percentage_cap());
    ASSERT_EQ(2u, vg.get_pv_list().size());
    EXPECT_EQ("/dev/sdc", vg.get_pv_list().back().get_name());
    EXPECT_EQ(c.lvs, lvs_of(vg));

    std::vector<std::string> fs_devs, mount_devs;
    for (const auto& fs : config.get_fs_list()) {
        EXPECT_EQ("xfs", fs.get_fs_type());
        fs_devs.push_back(fs.get_blk_device());
    }
    for (const auto& m : config.get_fs_mount_list()) {
        EXPECT_EQ("xfs", m.get_fs_type());
        EXPECT_EQ("noatime,inode64,nofail", m.get_fs_args());
        EXPECT_EQ(1u, m.get_fs_freq());
        EXPECT_EQ(1u, m.get_fs_passno());
        std::string lv = m.get_blk_device().substr(m.get_blk_device().rfind('/') + 1);
        EXPECT_EQ(mount_path_of(lv), m.get_mnt_path());
        mount_devs.push_back(m.get_blk_device());
    }
    std::vector<std::string> expected_devs;
    for (const auto& lv : c.mounted_lvs) expected_devs.push_back("/dev/metadatavg/" + lv);
    EXPECT_EQ(expected_devs, fs_devs);
    EXPECT_EQ(expected_devs, mount_devs);

    std::string doc;
    ASSERT_EQ(0, config.get_config_data(doc));
    tw_md_storage_config back;
    ASSERT_EQ(0, back.read_config_data(doc)) << doc;
    EXPECT_EQ(records_of(config), records_of(back));
    // Reading takes no node part and no settings.
    EXPECT_EQ("", back.get_type());
    EXPECT_TRUE(back.get_settings().empty());
}

INSTANTIATE_TEST_SUITE_P(
    PlatformRows, DefaultLayout,
    ::testing::Values(
        layout_case{"Control",
                    "ReferenceArchitecture",
                    kDell,
                    {{"index", 45, 4096, false}, {"ddb", 50, 4096, true}},
                    {"ddb", "index"}},
        // The platform row comes first: a reference architecture on the larger model stays one.
        layout_case{"Control",
                    "ReferenceArchitecture",
                    kFujitsu,
                    {{"index", 45, 4096, false}, {"ddb", 50, 4096, true}},
                    {"ddb", "index"}},
        layout_case{
            "Control",
            "Appliance",
            kFujitsu,
            {{"index", 30, 4096, false}, {"ddb", 40, 4096, true}, {"dav_vm", 20, 850, false}, {"dav_he", 5, 64, false}},
            {"ddb", "dav_he", "dav_vm", "index"}},
        layout_case{"Control",
                    "Appliance",
                    kDell,
                    {{"index", 25, 4096, false},
                     {"ddb", 30, 4096, true},
                     {"dav_vm", 30, 550, false},
                     {"dav_he", 10, 64, false}},
                    {"ddb", "dav_he", "dav_vm", "index"}},
        // No model at all (dmidecode found no tables) is just another model.
        layout_case{"Control",
                    "Appliance",
                    "",
                    {{"index", 25, 4096, false},
                     {"ddb", 30, 4096, true},
                     {"dav_vm", 30, 550, false},
                     {"dav_he", 10, 64, false}},
                    {"ddb", "dav_he", "dav_vm", "index"}},
        layout_case{"Data", "ReferenceArchitecture", kDell, {{"index", 90, 4096, false}}, {"index"}},
        layout_case{"Data",
                    "Appliance",
                    kFujitsu,
                    {{"index", 0, 4096, false}, {"dav_vm", 0, 850, false}, {"dav_he", 0, 64, false}},
                    {"dav_he", "dav_vm", "index"}},
        layout_case{"Data",
                    "Appliance",
                    kDell,
                    {{"index", 0, 4096, false}, {"dav_vm", 0, 550, false}, {"dav_he", 0, 64, false}},
                    {"dav_he", "dav_vm", "index"}}));

TEST(StorageConfigInit, NodeTypeFromTheRegistryAndTheSettingsItFills) {
    test_backend tb;
    set_node(tb, "Data", "ReferenceArchitecture", kFujitsu);
    tw_md_storage_config config;
    ASSERT_EQ(0, config.init(""));
    EXPECT_EQ("Data", config.get_setting("node_type"));
    EXPECT_EQ("ReferenceArchitecture", config.get_setting("platform_type"));
    EXPECT_EQ(kFujitsu, config.get_setting("model"));
    EXPECT_EQ("850", config.get_setting("md_cs_max_size"));
    EXPECT_EQ("4096", config.get_setting("md_lv_max_size"));
    EXPECT_EQ("64", config.get_setting("md_he_max_size"));
    EXPECT_EQ("4", config.get_setting("md_vg_extent_size"));
    EXPECT_EQ("90", config.get_setting("md_index_lv_min_size"));
    EXPECT_EQ(0u, config.get_settings().count("md_ddb_lv_min_size"));
    EXPECT_EQ("", config.get_setting("md_ddb_lv_min_size"));  // never set reads empty
    ASSERT_EQ(0, config.create_config_data({"/dev/sdb"}));
    ASSERT_EQ(1u, config.get_fs_mount_list().size());
    EXPECT_EQ("/opt/tessaline/Dockwright64/IndexCache", config.get_fs_mount_list().front().get_mnt_path());
}

TEST(StorageConfigInit, ExtentSizeFollowsTheGlobal) {
    test_backend tb;
    set_node(tb, "", "Appliance", kDell);
    const unsigned long long saved = TW_MD_VG_EXTENT_SIZE;
    TW_MD_VG_EXTENT_SIZE = 32;
    tw_md_storage_config config;
    int rc = config.init("Control");
    TW_MD_VG_EXTENT_SIZE = saved;
    ASSERT_EQ(0, rc);
    ASSERT_EQ(0, config.create_config_data({"/dev/sdb"}));
    EXPECT_EQ(32u, config.get_vg().get_extent_size());
}

struct init_failure {
    const char* argument;
    const char* registry_node_type;
    const char* registry_platform;
    const char* message;
};

class StorageConfigInitFails : public ::testing::TestWithParam<init_failure> {};

TEST_P(StorageConfigInitFails, WithItsMessage) {
    const init_failure& f = GetParam();
    test_backend tb;
    set_node(tb, f.registry_node_type, f.registry_platform, kDell);
    tw_md_storage_config config;
    EXPECT_EQ(1, config.init(f.argument));
    EXPECT_TRUE(tb.logged(-1, "tw_md_storage_config::init", f.message));
    EXPECT_EQ(std::list<std::string>{f.message}, config.get_failures());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StorageConfigInitFails,
    ::testing::Values(init_failure{"control", "Control", "Appliance", "not a valid node type [control]"},
                      init_failure{"", "", "Appliance", "reading reg key failed for [sArrowfieldNodeType]"},
                      init_failure{"Data", "", "", "reading reg key failed for [sScaleoutPlatformType]"},
                      // An unknown type in the registry is refused like an unknown argument.
                      init_failure{"", "Storage", "Appliance", "not a valid node type [Storage]"}));

TEST(StorageConfigInit, NoLayoutWithoutASuccessfulInit) {
    // Building from empty settings would give volumes named "" under "/dev//".
    test_backend tb;
    set_node(tb, "", "", kDell);
    tw_md_storage_config config;
    EXPECT_EQ(1, config.create_config_data({"/dev/sdb"}));
    EXPECT_EQ(1, config.init("Data"));  // no platform type
    EXPECT_EQ(1, config.create_config_data({"/dev/sdb"}));
    EXPECT_TRUE(tb.logged(-1, "tw_md_storage_config::create_config_data", "storage config is not initialised"));
    EXPECT_TRUE(config.get_disk_list().empty());
    EXPECT_TRUE(config.get_fs_mount_list().empty());
}

TEST(StorageConfigInit, EmptyRegistryValuesCountAsMissing) {
    test_backend tb;
    set_node(tb, "", "", kDell);
    tb.set_key("sArrowfieldNodeType", "");
    tw_md_storage_config config;
    EXPECT_EQ(1, config.init(""));
    EXPECT_TRUE(tb.logged(-1, "tw_md_storage_config::init", "reading reg key failed for [sArrowfieldNodeType]"));
    tb.set_key("sScaleoutPlatformType", "");
    EXPECT_EQ(1, config.init("Control"));
    EXPECT_TRUE(tb.logged(-1, "tw_md_storage_config::init", "reading reg key failed for [sScaleoutPlatformType]"));
}

TEST(StorageConfigDocument, ControlNodeOnTheLargerModelByteForByte) {
    test_backend tb;
    set_node(tb, "", "Appliance", kFujitsu);
    tw_md_storage_config config;
    ASSERT_EQ(0, config.init("Control"));
    ASSERT_EQ(0, config.create_config_data({"/dev/sdb", "/dev/sdc"}));
    std::string doc;
    ASSERT_EQ(0, config.get_config_data(doc));
    const std::string expected =
        "{\n"
        "\t\"disk\": [\n"
        "\t\t{\n"
        "\t\t\t\"name\": \"\\/dev\\/sdb\" \n"
        "\t\t},\n"
        "\t\t{\n"
        "\t\t\t\"name\": \"\\/dev\\/sdc\" \n"
        "\t\t} \n"
        "\t],\n"
        "\t\"fileSystem\": [\n"
        "\t\t{\n"
        "\t\t\t\"blkDevice\": \"\\/dev\\/metadatavg\\/ddb\",\n"
        "\t\t\t\"fsType\": \"xfs\" \n"
        "\t\t},\n"
        "\t\t{\n"
        "\t\t\t\"blkDevice\": \"\\/dev\\/metadatavg\\/dav_he\",\n"
        "\t\t\t\"fsType\": \"xfs\" \n"
        "\t\t},\n"
        "\t\t{\n"
        "\t\t\t\"blkDevice\": \"\\/dev\\/metadatavg\\/dav_vm\",\n"
        "\t\t\t\"fsType\": \"xfs\" \n"
        "\t\t},\n"
        "\t\t{\n"
        "\t\t\t\"blkDevice\": \"\\/dev\\/metadatavg\\/index\",\n"
        "\t\t\t\"fsType\": \"xfs\" \n"
        "\t\t} \n"
        "\t],\n"
        "\t\"fileSystemMount\": [\n"
        "\t\t{\n"
        "\t\t\t\"blkDevice\": \"\\/dev\\/metadatavg\\/ddb\",\n"
        "\t\t\t\"fsArgs\": \"noatime,inode64,nofail\",\n"
        "\t\t\t\"fsFreq\": 1,\n"
        "\t\t\t\"fsPassno\": 1,\n"
        "\t\t\t\"fsType\": \"xfs\",\n"
        "\t\t\t\"mntPath\": \"\\/tw\\/ddb\" \n"
        "\t\t},\n"
        "\t\t{\n"
        "\t\t\t\"blkDevice\": \"\\/dev\\/metadatavg\\/dav_he\",\n"
        "\t\t\t\"fsArgs\": \"noatime,inode64,nofail\",\n"
        "\t\t\t\"fsFreq\": 1,\n"
        "\t\t\t\"fsPassno\": 1,\n"
        "\t\t\t\"fsType\": \"xfs\",\n"
        "\t\t\t\"mntPath\": \"\\/tw\\/dav_he\" \n"
        "\t\t},\n"
        "\t\t{\n"
        "\t\t\t\"blkDevice\": \"\\/dev\\/metadatavg\\/dav_vm\",\n"
        "\t\t\t\"fsArgs\": \"noatime,inode64,nofail\",\n"
        "\t\t\t\"fsFreq\": 1,\n"
        "\t\t\t\"fsPassno\": 1,\n"
        "\t\t\t\"fsType\": \"xfs\",\n"
        "\t\t\t\"mntPath\": \"\\/tw\\/dav_vm\" \n"
        "\t\t},\n"
        "\t\t{\n"
        "\t\t\t\"blkDevice\": \"\\/dev\\/metadatavg\\/index\",\n"
        "\t\t\t\"fsArgs\": \"noatime,inode64,nofail\",\n"
        "\t\t\t\"fsFreq\": 1,\n"
        "\t\t\t\"fsPassno\": 1,\n"
        "\t\t\t\"fsType\": \"xfs\",\n"
        "\t\t\t\"mntPath\": \"\\/opt\\/tessaline\\/Dockwright64\\/IndexCache\" \n"
        "\t\t} \n"
        "\t],\n"
        "\t\"node\": {\n"
        "\t\t\"platform\": \"Appliance\",\n"
        "\t\t\"type\": \"Control\" \n"
        "\t},\n"
        "\t\"volumeGroup\": {\n"
        "\t\t\"extentSize\": 4,\n"
        "\t\t\"logicalVolume\": [\n"
        "\t\t\t{\n"
        "\t\t\t\t\"maxSize\": 4096,\n"
        "\t\t\t\t\"minPercentage\": 30,\n"
        "\t\t\t\t\"name\": \"index\",\n"
        "\t\t\t\t\"thinVolume\": false \n"
        "\t\t\t},\n"
        "\t\t\t{\n"
        "\t\t\t\t\"maxSize\": 4096,\n"
        "\t\t\t\t\"minPercentage\": 40,\n"
        "\t\t\t\t\"name\": \"ddb\",\n"
        "\t\t\t\t\"thinVolume\": true \n"
        "\t\t\t},\n"
        "\t\t\t{\n"
        "\t\t\t\t\"maxSize\": 850,\n"
        "\t\t\t\t\"minPercentage\": 20,\n"
        "\t\t\t\t\"name\": \"dav_vm\",\n"
        "\t\t\t\t\"thinVolume\": false \n"
        "\t\t\t},\n"
        "\t\t\t{\n"
        "\t\t\t\t\"maxSize\": 64,\n"
        "\t\t\t\t\"minPercentage\": 5,\n"
        "\t\t\t\t\"name\": \"dav_he\",\n"
        "\t\t\t\t\"thinVolume\": false \n"
        "\t\t\t} \n"
        "\t\t],\n"
        "\t\t\"name\": \"metadatavg\",\n"
        "\t\t\"physicalVolume\": [\n"
        "\t\t\t{\n"
        "\t\t\t\t\"name\": \"\\/dev\\/sdb\" \n"
        "\t\t\t},\n"
        "\t\t\t{\n"
        "\t\t\t\t\"name\": \"\\/dev\\/sdc\" \n"
        "\t\t\t} \n"
        "\t\t],\n"
        "\t\t\"rsvdPercentage\": 0 \n"
        "\t} \n"
        "} \n";
    EXPECT_EQ(expected, doc);
}

}  // namespace
