// Version 6: Maldor node stamps.

#include "tuning_fixture.h"

#include "tuning/perf_params_versions.h"

using namespace tidewall::testing;

namespace {

void maldor_drives(test_backend& tb) {
    use_maldor_flavour(tb);
    tb.write_file("/etc/mtab", "/dev/sdb /maldor/d1 xfs rw 0 0\n/dev/sdd /maldor/d3 xfs rw 0 0\n");
    for (const char* d : {"/maldor/d1", "/maldor/d3"}) {
        tb.make_dir(d);
        tb.usage[d] = {100ULL << 30, 50ULL << 30};
    }
}

TEST(VersionSix, MaldorNodeStampsTheNodeListOnEveryDataDrive) {
    test_backend tb;
    maldor_drives(tb);
    tb.set_key("sMaldorClusterNodes", "n1,n2,n3");
    EXPECT_EQ(0, tw_perf_params_version_v6().configure());
    EXPECT_EQ("n1,n2,n3", tb.xattrs["/maldor/d1"]["trusted.maldorclusternodes"]);
    EXPECT_EQ("n1,n2,n3", tb.xattrs["/maldor/d3"]["trusted.maldorclusternodes"]);
}

TEST(VersionSix, MaldorStampFailureFailsTheVersion) {
    test_backend tb;
    maldor_drives(tb);  // no node list recorded
    EXPECT_EQ(1, tw_perf_params_version_v6().configure());
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_version_v6::configure", "Failed to stamp Maldor nodes as extended attributes"));
}

TEST(VersionSix, OtherFlavoursChangeNothing) {
    for (bool gluster : {true, false}) {
        test_backend tb;
        maldor_drives(tb);
        tb.set_key("sMaldorClusterNodes", "n1,n2,n3");
        if (gluster)
            use_gluster_flavour(tb);
        else
            tb.registry["Dockwright"].erase("sArrowfieldApplianceType");  // flavour undetermined
        EXPECT_EQ(0, tw_perf_params_version_v6().configure());
        EXPECT_TRUE(tb.xattrs.empty());
    }
}

} // namespace
