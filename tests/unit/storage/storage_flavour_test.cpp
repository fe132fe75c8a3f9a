#include <tidewall/tw_storage.h>

#include "fixture.h"
#include "test_backend.h"

#include <gtest/gtest.h>

using tidewall::testing::test_backend;

namespace {

const std::string kModelCommand = tidewall::testing::fixture("golden/server_model.cmd");

TEST(ServerModel, RunsTheDmidecodePipelineAndTrimsItsFirstLine) {
    test_backend tb;
    tb.on(kModelCommand, 0, "DellInc._PowerEdgeR740xd\nsecond line ignored\n");
    tw_storage s;
    std::string model = "old";
    EXPECT_EQ(0, s.get_server_model(model));
    EXPECT_EQ("DellInc._PowerEdgeR740xd", model);
    EXPECT_TRUE(
        tb.logged(2, "tw_storage::get_server_model", "Found the server model to be [DellInc._PowerEdgeR740xd]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_server_model",
                          "Server model will be extracted using the command [" + kModelCommand + "]"));
}

TEST(ServerModel, RealDmidecodeOutputThroughTheRealAwkProgram) {
    // The pipeline's awk program itself, run over a real server's dmidecode text.
    test_backend tb;
    std::string fixture = std::string(TW_FIXTURES_DIR) + "/dmidecode/tsystem-blocks-from-full-dell-r640.txt";
    std::string cmd = kModelCommand;
    cmd.replace(cmd.find("dmidecode --type system"), 23, "cat " + fixture);
    auto r = tidewall::host::real().run(cmd, 10);
    ASSERT_EQ(0, r.status) << r.err;
    tb.on(kModelCommand, 0, r.out);
    tw_storage s;
    std::string model;
    s.get_server_model(model);
    EXPECT_EQ("DellInc._PowerEdgeR640", model);
}

TEST(ServerModel, FailedCommandLeavesTheModelButTrimsIt) {
    test_backend tb;
    tb.on(kModelCommand, 1, "", "/dev/mem: No such file or directory\n");
    tw_storage s;
    std::string model = "  kept \n";
    EXPECT_EQ(0, s.get_server_model(model));
    EXPECT_EQ("kept", model);
}

struct image_case {
    const char* identifier;
    int rc, major, minor;
};

TEST(ImagingId, ParsesTheFirstDigitsDotDigitsToken) {
    const image_case cases[] = {
        {"Tessaline Arrowfield 2.1 build 7", 0, 2, 1},
        {"Tessaline Arrowfield 1.5", 0, 1, 5},
        {"Tessaline Arrowfield 2.1.3 3.4", 0, 3, 4},  // 2.1.3 is no whole match: skipped
        {"Tessaline Arrowfield 2..1 0.9", 0, 0, 9},
        {"Tessaline Arrowfield build", -1, -7, -7},
        {"Tessaline Arrowfield", -1, -7, -7},  // no trailing blank: no prefix
        {"tessaline Arrowfield 2.1", -1, -7, -7},
        {"Tessaline Arrowfield 99999999999.1", -1, -7, -7},  // too large for an int
    };
    for (const auto& c : cases) {
        test_backend tb;
        tb.set_key("sArrowfieldImageidentifier", c.identifier);
        tw_storage s;
        int major = -7, minor = -7;
        EXPECT_EQ(c.rc, s.get_imaging_id(major, minor)) << c.identifier;
        EXPECT_EQ(c.major, major) << c.identifier;
        EXPECT_EQ(c.minor, minor) << c.identifier;
    }
}

TEST(ImagingId, FailuresAreLoggedAsErrors) {
    test_backend tb;
    tw_storage s;
    int a = 0, b = 0;
    EXPECT_EQ(-1, s.get_imaging_id(a, b));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_imaging_id", "Failed to query registry key sArrowfieldImageidentifier"));
    tb.set_key("sArrowfieldImageidentifier", "Other 2.1");
    EXPECT_EQ(-1, s.get_imaging_id(a, b));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_imaging_id",
                          "Failed to parse sArrowfieldImageidentifier, treating it as gluster sds"));
}

TEST(SdsType, KindTwoDecidesByImageVersion) {
    test_backend tb;
    tb.set_key("nArrowfieldApplianceKind", "2");
    tb.set_key("sArrowfieldApplianceType", "RM-110");  // not consulted on kind 2
    tw_storage s;
    tb.set_key("sArrowfieldImageidentifier", "Tessaline Arrowfield 2.1 build 7");
    EXPECT_EQ(2u, s.get_sds_type());
    tb.set_key("sArrowfieldImageidentifier", "Tessaline Arrowfield 1.5");
    EXPECT_EQ(1u, s.get_sds_type());
    tb.set_key("sArrowfieldImageidentifier", "Tessaline Arrowfield 0.9");
    EXPECT_EQ(1u, s.get_sds_type());
    tb.set_key("sArrowfieldImageidentifier", "Arrowfield 2.1");
    EXPECT_EQ(1u, s.get_sds_type());
    tb.set_key("sArrowfieldImageidentifier", "Tessaline Arrowfield two");
    EXPECT_EQ(1u, s.get_sds_type());
    tb.registry["Dockwright"].erase("sArrowfieldImageidentifier");
    EXPECT_EQ(1u, s.get_sds_type());
}

TEST(SdsType, OtherKindsDecideByApplianceType) {
    test_backend tb;
    tw_storage s;
    EXPECT_EQ(255u, s.get_sds_type());
    for (const char* t : {"RM-110", "RM-310"}) {
        tb.set_key("sArrowfieldApplianceType", t);
        EXPECT_EQ(1u, s.get_sds_type()) << t;
    }
    for (const char* t : {"RM-210", "RM-410", "", "rm-110", "RM-110 "}) {
        tb.set_key("sArrowfieldApplianceType", t);
        EXPECT_EQ(2u, s.get_sds_type()) << t;
    }
}

}  // namespace
