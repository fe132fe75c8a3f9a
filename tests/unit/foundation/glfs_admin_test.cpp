#include "foundation/glfs_admin.h"

#include "test_backend.h"

#include <tidewall/ts_exception.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using tidewall::testing::test_backend;

namespace {

const char* kList = "gluster --mode=script volume list --xml";

std::string fixture(const std::string& name) {
    std::ifstream f(std::string(TW_FIXTURES_DIR) + "/" + name);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

TEST(GlfsAdmin, ListsVolumesFromRealXmlOutput) {
    test_backend tb;
    tb.on(kList, 0, fixture("gluster/volume-list-xml-exporter.txt"));
    std::list<std::string> unused;
    glfs_admin admin(unused);
    EXPECT_EQ((std::list<std::string>{"gv_cluster", "gv_test"}), admin.scanned_volumes());
    std::list<std::string> names;
    EXPECT_EQ(0, admin.list_volumes(names));
    EXPECT_EQ((std::list<std::string>{"gv_cluster", "gv_test"}), names);
    EXPECT_EQ(100, tb.time_limits.at(0));
}

TEST(GlfsAdmin, ConstructorThrowsWhenGlusterCannotBeAsked) {
    test_backend tb;  // the command is not scripted: "not found", 127
    std::list<std::string> unused;
    try {
        glfs_admin admin(unused);
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_NE(std::string::npos, e.formatError().find("gluster command line not available"));
        EXPECT_EQ(-1, e.code());
    }
    tb.on(kList, 1, "", "Connection failed. Please check if gluster daemon is operational.\n");
    EXPECT_THROW(glfs_admin{unused}, TsException);
}

TEST(GlfsAdmin, FailedOperationAndGarbageAreFailuresNotEmptyLists) {
    std::list<std::string> names;
    std::string error;
    EXPECT_NE(0, glfs_admin::parse_volume_list(
                     "<cliOutput><opRet>-1</opRet><opErrno>2</opErrno><opErrstr>No volumes present</opErrstr></cliOutput>",
                     names, error));
    EXPECT_EQ("No volumes present", error);
    EXPECT_NE(0, glfs_admin::parse_volume_list("Connection failed", names, error));
    EXPECT_NE(0, glfs_admin::parse_volume_list("<other/>", names, error));
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(0, glfs_admin::parse_volume_list(
                     "<cliOutput><opRet>0</opRet><volList><count>0</count></volList></cliOutput>", names, error));
    EXPECT_TRUE(names.empty());
}

TEST(GlfsBrick, SpecificationSplitsHostAndPath) {
    glfs_brick b("node1sds.example.net:/tw/disk1/tw_brick");
    EXPECT_EQ("node1sds.example.net", b.get_host_name());
    EXPECT_EQ("/tw/disk1/tw_brick", b.get_mnt_path());
    EXPECT_FALSE(b.get_is_online());
    EXPECT_EQ("node1sds.example.net:/tw/disk1/tw_brick", b.get_brick_path());
}

} // namespace
