// The appliance platform type: which model table applies, which servers are
// appliances, forcing reference architecture, and the C240 driver blacklist.

#include "fixture.h"
#include "storage_fixture.h"

#include <gtest/gtest.h>

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

const std::string kModelCommand = tidewall::testing::fixture("golden/server_model.cmd");

const char* const kV1 = "Tessaline Arrowfield 1.5 build 12";
const char* const kV2 = "Tessaline Arrowfield 2.1 build 7";

struct platform_case {
    const char* model;
    const char* image;  // nullptr: no image identifier
    const char* appliance;  // nullptr: a reference-architecture node
};

class PlatformTable : public ::testing::TestWithParam<platform_case> {};

TEST_P(PlatformTable, RecordsTheModelOfTheImagesTableOrReferenceArchitecture) {
    const auto& c = GetParam();
    test_backend tb;
    tb.on(kModelCommand, 0, std::string(c.model) + "\n");
    if (c.image) tb.set_key("sArrowfieldImageidentifier", c.image);
    tb.set_key("sArrowfieldApplianceType", "previous");
    storage_under_test s(tb);
    ASSERT_EQ(0, s.storage.set_arrowfield_platform_type());
    if (c.appliance) {
        EXPECT_EQ(c.appliance, tb.key("sArrowfieldApplianceType"));
        EXPECT_EQ("Arrowfield", tb.key("sScaleoutPlatformType"));
    } else {
        EXPECT_EQ("previous", tb.key("sArrowfieldApplianceType"));
        EXPECT_EQ("ReferenceArchitecture", tb.key("sScaleoutPlatformType"));
    }
    EXPECT_FALSE(tb.exists("/etc/modprobe.d/ahci.conf"));
}

INSTANTIATE_TEST_SUITE_P(Models, PlatformTable,
                         ::testing::Values(platform_case{"FUJITSU_PRIMERGYRX2530M4", kV1, "RM-110"},
                                           platform_case{"FUJITSU_PRIMERGYRX2530M4", kV2, "RM-110"},
                                           platform_case{"FUJITSU_PRIMERGYRX2540M4", kV1, "RM-310"},
                                           platform_case{"FUJITSU_PRIMERGYRX2540M4", kV2, "RM-310"},
                                           platform_case{"FUJITSU_PRIMERGYRX2530M5", kV1, "RM-110"},
                                           platform_case{"FUJITSU_PRIMERGYRX2530M5", kV2, "RM-210"},
                                           platform_case{"FUJITSU_PRIMERGYRX2540M5", kV1, "RM-310"},
                                           platform_case{"FUJITSU_PRIMERGYRX2540M5", kV2, "RM-410"},
                                           platform_case{"Supermicro_SuperServer", kV1, nullptr},
                                           platform_case{"Supermicro_SuperServer", kV2, "RM-210"},
                                           platform_case{"Supermicro_SSG-6029P-E1CR16T", kV1, nullptr},
                                           platform_case{"Supermicro_SSG-6029P-E1CR16T", kV2, "RM-410"},
                                           // No identifier: the version 1 table.
                                           platform_case{"FUJITSU_PRIMERGYRX2540M5", nullptr, "RM-310"},
                                           platform_case{"Supermicro_SuperServer", nullptr, nullptr},
                                           // Exact model names only.
                                           platform_case{"FUJITSU_PRIMERGYRX2540M5X", kV2, nullptr},
                                           platform_case{"fujitsu_primergyrx2540m5", kV2, nullptr},
                                           platform_case{"DellInc._PowerEdgeR740xd", kV2, nullptr},
                                           platform_case{"", kV1, nullptr}));

TEST(PlatformType, LogsWhichTableAndWhyAtTheirLevels) {
    test_backend tb;
    tb.on(kModelCommand, 0, "FUJITSU_PRIMERGYRX2530M5\n");
    tb.set_key("sArrowfieldImageidentifier", kV2);
    storage_under_test s(tb);
    s.storage.set_arrowfield_platform_type();
    const char* tag = "tw_storage::set_arrowfield_platform_type";
    EXPECT_TRUE(tb.logged(-1, tag, "Server model [FUJITSU_PRIMERGYRX2530M5]"));
    EXPECT_TRUE(tb.logged(0, tag, "This is Arrowfield Version 2.x"));
    EXPECT_TRUE(tb.logged(0, tag, std::string("Image id = ") + kV2));
}

TEST(PlatformType, UnreadableImageIdentifierMeansTheVersion1Table) {
    const char* tag = "tw_storage::set_arrowfield_platform_type";
    test_backend tb2;
    storage_under_test s2(tb2);
    s2.storage.set_arrowfield_platform_type();
    EXPECT_TRUE(tb2.logged(-1, tag, "Failed to query registry key sArrowfieldImageidentifier"));
    EXPECT_FALSE(tb2.logged("This is Arrowfield Version 2.x"));
}

TEST(PlatformType, ForcedNodeIsReferenceArchitectureAndKeepsItsApplianceType) {
    for (const char* force : {"y", "Yes", "YES please"}) {
        test_backend tb;
        tb.on(kModelCommand, 0, "FUJITSU_PRIMERGYRX2540M5\n");
        tb.set_key("sArrowfieldForceRefArchPlatform", force);
        tb.set_key("sArrowfieldApplianceType", "RM-310");
        storage_under_test s(tb);
        ASSERT_EQ(0, s.storage.set_arrowfield_platform_type());
        EXPECT_EQ("ReferenceArchitecture", tb.key("sScaleoutPlatformType")) << force;
        EXPECT_EQ("RM-310", tb.key("sArrowfieldApplianceType"));
        EXPECT_TRUE(tb.logged(-1, "tw_storage::set_arrowfield_platform_type",
                              "Forcing the platform type as Reference architecture"));
    }
    for (const char* not_forced : {"", "no", " y"}) {
        test_backend tb;
        tb.on(kModelCommand, 0, "FUJITSU_PRIMERGYRX2540M5\n");
        tb.set_key("sArrowfieldForceRefArchPlatform", not_forced);
        storage_under_test s(tb);
        ASSERT_EQ(0, s.storage.set_arrowfield_platform_type());
        EXPECT_EQ("Arrowfield", tb.key("sScaleoutPlatformType")) << "[" << not_forced << "]";
        EXPECT_EQ("RM-310", tb.key("sArrowfieldApplianceType"));
    }
}

TEST(PlatformType, SetRefarchThenSetRecordsReferenceArchitecture) {
    test_backend tb;
    tb.on(kModelCommand, 0, "FUJITSU_PRIMERGYRX2540M5\n");
    storage_under_test s(tb);
    ASSERT_EQ(0, s.storage.set_refarch_platform());
    EXPECT_EQ("Y", tb.key("sArrowfieldForceRefArchPlatform"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::set_refarch_platform",
                          "Successfully set the platform type as Reference Architecture"));
    ASSERT_EQ(0, s.storage.set_arrowfield_platform_type());
    std::string platform, appliance;
    EXPECT_EQ(0, s.storage.get_platform_type(platform, appliance));
    EXPECT_EQ("ReferenceArchitecture", platform);
    EXPECT_EQ("", appliance);
}

TEST(PlatformType, RegistryWriteFailuresFail) {
    test_backend tb;
    tb.on(kModelCommand, 0, "FUJITSU_PRIMERGYRX2540M5\n");
    tb.registry_read_only = true;
    storage_under_test s(tb);
    EXPECT_EQ(-1, s.storage.set_arrowfield_platform_type());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::set_arrowfield_platform_type",
                          "Failed to set registry key sArrowfieldApplianceType"));
    EXPECT_EQ(-1, s.storage.set_refarch_platform());
    EXPECT_TRUE(tb.logged(-1, "tw_storage::set_refarch_platform",
                          "Failed to set registry key to force the platform as Reference Architecture"));
}

TEST(PlatformType, ReferenceArchitectureNotRecordableFails) {
    test_backend tb2;
    tb2.on(kModelCommand, 0, "DellInc._PowerEdgeR740xd\n");
    tb2.registry_read_only = true;
    storage_under_test s2(tb2);
    EXPECT_EQ(-1, s2.storage.set_arrowfield_platform_type());
    EXPECT_TRUE(
        tb2.logged(-1, "tw_storage::set_arrowfield_platform_type", "Failed to set registry key sScaleoutPlatformType"));
    std::string platform, appliance;
    EXPECT_EQ(-1, s2.storage.get_platform_type(platform, appliance));
}

TEST(PlatformType, CiscoC240BlacklistsAhciWhateverItsType) {
    test_backend tb;
    tb.on(kModelCommand, 0, "CiscoSystemsInc_UCSC-C240-M5L\n");
    tb.make_dir("/etc/modprobe.d");
    storage_under_test s(tb);
    ASSERT_EQ(0, s.storage.set_arrowfield_platform_type());
    EXPECT_EQ("blacklist ahci", tb.read_file("/etc/modprobe.d/ahci.conf"));
    EXPECT_EQ("ReferenceArchitecture", tb.key("sScaleoutPlatformType"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::set_arrowfield_platform_type", "Found C240 model."));
}

TEST(PlatformType, FailedAhciBlacklistIsOnlyLogged) {
    // Without the directory the write fails: logged, not a failure.
    test_backend tb2;
    tb2.on(kModelCommand, 0, "CiscoSystemsInc_UCSC-C240-M4S\n");
    storage_under_test s2(tb2);
    EXPECT_EQ(0, s2.storage.set_arrowfield_platform_type());
    EXPECT_TRUE(tb2.logged(-1, "tw_storage::set_arrowfield_platform_type", "Failed to blacklist ahci"));
}

}  // namespace
