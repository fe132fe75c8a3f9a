// The LVM manager: command texts and their order, the extent arithmetic
// (reserve, shares of one whole, caps, thin-pool hold-back, 90 % virtual size),
// stopping at the first failure, and removal.

#include <tidewall/tw_lvm.h>

#include "lvm_setup.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tidewall::testing;

namespace {

using strings = std::vector<std::string>;

class LvmManager : public ::testing::Test {
protected:
    test_backend tb;

    // PVs, group and extent queries of a two-disk group with the given free count.
    void script_group(const std::string& free) {
        tb.on("pvcreate -ff -y /dev/sdb", 0);
        tb.on("pvcreate -ff -y /dev/sdc", 0);
        tb.on(kPvScan, 0, "/dev/sda2\nsys-uuid\n/dev/sdb\nuuid-b\n/dev/sdc\nuuid-c\n");
        tb.on("vgcreate  metadatavg --physicalextentsize 4M /dev/sdb /dev/sdc ", 0);
        tb.on(alloc_query("metadatavg"), 0, "0\n");
        tb.on(free_query("metadatavg"), 0, free);
    }
};

TEST_F(LvmManager, ControlNodeLayoutCommandsAndBookkeeping) {
    script_group("  1000000\n");
    const strings lvcreates = {
        "lvcreate -y --extents 225000 --name index metadatavg",  // 25 % of 900000
        "lvcreate -y --extents 269936 -T metadatavg/ddb_pool",  // 30 % less 256 MiB
        "lvcreate -y -V 971768M -T metadatavg/ddb_pool -n ddb",  // 90 % of the pool
        "lvcreate -y --extents 140800 --name dav_vm metadatavg",  // capped at 550 GiB
        "lvcreate -y --extents 16384 --name dav_he metadatavg",  // capped at 64 GiB
    };
    for (const auto& c : lvcreates) tb.on(c, 0);
    tw_vg vg = make_vg("metadatavg", 4, 10, {"/dev/sdb", "/dev/sdc"},
                       {make_lv("index", 25, 4096, false), make_lv("ddb", 30, 4096, true),
                        make_lv("dav_vm", 30, 550, false), make_lv("dav_he", 10, 64, false)});
    tw_lvm lvm(vg);
    ASSERT_EQ(0, lvm.configure_vg());

    strings expected = {"pvcreate -ff -y /dev/sdb",
                        "pvcreate -ff -y /dev/sdc",
                        kPvScan,
                        "vgcreate  metadatavg --physicalextentsize 4M /dev/sdb /dev/sdc ",
                        alloc_query("metadatavg"),
                        free_query("metadatavg")};
    expected.insert(expected.end(), lvcreates.begin(), lvcreates.end());
    EXPECT_EQ(expected, tb.commands);
    for (int limit : tb.time_limits) EXPECT_EQ(100, limit);  // a hung LVM tool must not hang the caller

    const tw_vg& held = lvm.get_vg();
    EXPECT_EQ(900000u, held.get_total_extents());
    EXPECT_EQ(225000u + 269936u + 140800u + 16384u, held.get_alloc_extents());
    EXPECT_EQ(900000u - (225000u + 269936u + 140800u + 16384u), held.get_free_extents());
    strings uuids;
    for (const auto& pv : held.get_pv_list()) uuids.push_back(pv.get_uuid());
    EXPECT_EQ((strings{"uuid-b", "uuid-c"}), uuids);
    EXPECT_EQ(1, lvm.check_pv_exist("uuid-c"));
    EXPECT_EQ(0, lvm.check_pv_exist("sys-uuid"));
    // The caller's record is not touched.
    EXPECT_EQ(0u, vg.get_free_extents());
    EXPECT_EQ("", vg.get_pv_list().front().get_uuid());
    EXPECT_TRUE(lvm.created_vg());
    EXPECT_EQ((std::list<std::string>{"/dev/sdb", "/dev/sdc"}), lvm.created_pvs());

    EXPECT_TRUE(tb.logged(0, "tw_lvm::create_vg_cmd", "VG created [metadatavg] extent size [4]"));
    EXPECT_TRUE(tb.logged(0, "tw_lvm::create_vg", "vg [metadatavg] reserved extents [100000]"));
    EXPECT_TRUE(tb.logged(0, "tw_lvm::create_vg", "vg [metadatavg] free extents [900000]"));
    EXPECT_TRUE(tb.logged(0, "tw_lvm::create_thin_pool_cmd", "thin pool created name [ddb_pool] num extents [269936]"));
    EXPECT_TRUE(tb.logged(0, "tw_lvm::create_thin_lv_cmd", "thin lv created name [ddb] num extents [242942]"));
    EXPECT_TRUE(tb.logged(0, "tw_lvm::create_thick_lv_cmd", "lv created name [dav_he] num extents [16384]"));
    EXPECT_TRUE(tb.logged(0, "tw_lvm::create_pv", "pv created for disk [/dev/sdc]"));
}

TEST_F(LvmManager, ReserveOfTenPerCentSizesFromTheRest) {
    tb.on("pvcreate -ff -y /dev/sdb", 0);
    tb.on(kPvScan, 0, "/dev/sdb\nuuid-b\n");
    tb.on("vgcreate  metadatavg --physicalextentsize 4M /dev/sdb ", 0);
    tb.on(alloc_query("metadatavg"), 0, "0\n");
    tb.on(free_query("metadatavg"), 0, "1000\n");
    tb.on("lvcreate -y --extents 450 --name index metadatavg", 0);
    tb.on("lvcreate -y --extents 450 --name dav_vm metadatavg", 0);
    tw_vg vg = make_vg("metadatavg", 4, 10, {"/dev/sdb"},
                       {make_lv("index", 50, 4096, false), make_lv("dav_vm", 50, 4096, false)});
    tw_lvm lvm(vg);
    ASSERT_EQ(0, lvm.configure_vg());
    EXPECT_TRUE(tb.logged(0, "tw_lvm::create_vg", "vg [metadatavg] reserved extents [100]"));
    // Both shares are of the 900 after the reserve, not of what the first left.
    EXPECT_EQ("lvcreate -y --extents 450 --name dav_vm metadatavg", tb.commands.back());
    EXPECT_EQ(0u, lvm.get_vg().get_free_extents());
    EXPECT_EQ(900u, lvm.get_vg().get_alloc_extents());
}

TEST_F(LvmManager, ThinVolumeOfAThousandExtents) {
    tb.on("lvcreate -y --extents 936 -T metadatavg/ddb_pool", 0);
    tb.on("lvcreate -y -V 3368M -T metadatavg/ddb_pool -n ddb", 0);
    tw_vg vg = make_vg("metadatavg", 4, 0, {}, {});
    vg.set_free_extents(5000);
    vg.set_alloc_extents(7);
    tw_lvm lvm(vg);
    tw_lv lv = make_lv("ddb", 0, 0, true);
    lv.set_num_extents(1000);
    ASSERT_EQ(0, lvm.create_thin_lv(lv));
    EXPECT_EQ((strings{"lvcreate -y --extents 936 -T metadatavg/ddb_pool",
                       "lvcreate -y -V 3368M -T metadatavg/ddb_pool -n ddb"}),
              tb.commands);
    EXPECT_EQ(5000u - 936u, lvm.get_vg().get_free_extents());
    EXPECT_EQ(7u + 936u, lvm.get_vg().get_alloc_extents());

    // The pool command itself hands the reduced count back to its caller.
    unsigned long long extents = 1000, extent_size = 8;
    tb.on("lvcreate -y --extents 968 -T metadatavg/p", 0);
    ASSERT_EQ(0, lvm.create_thin_pool_cmd("metadatavg", "p", extents, extent_size));
    EXPECT_EQ(968u, extents);
}

TEST_F(LvmManager, ThinShareNoLargerThanTheHoldBackIsRefusedWithoutACommand) {
    tw_vg vg = make_vg("metadatavg", 4, 0, {}, {});
    vg.set_free_extents(5000);
    tw_lvm lvm(vg);
    tw_lv lv = make_lv("ddb", 0, 0, true);
    lv.set_num_extents(64);  // exactly the 256 MiB the pool's metadata needs
    EXPECT_NE(0, lvm.create_thin_lv(lv));
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_EQ(5000u, lvm.get_vg().get_free_extents());
    EXPECT_TRUE(
        tb.logged(-1, "tw_lvm::create_thin_lv", "create thin pool failed vg [metadatavg] thin pool [ddb_pool]"));
}

TEST_F(LvmManager, VolumeThatDoesNotFitTheRunningFreeCountStopsTheRest) {
    script_group("1000\n");
    tb.on("lvcreate -y --extents 600 --name index metadatavg", 0);
    tw_vg vg = make_vg(
        "metadatavg", 4, 0, {"/dev/sdb", "/dev/sdc"},
        {make_lv("index", 60, 4096, false), make_lv("dav_vm", 60, 4096, false), make_lv("dav_he", 1, 4096, false)});
    tw_lvm lvm(vg);
    EXPECT_EQ(1, lvm.configure_vg());
    EXPECT_EQ("lvcreate -y --extents 600 --name index metadatavg", tb.commands.back());
    EXPECT_EQ((strings{
                  // The group's name stands first, as the message has always been written.
                  "tw_lvm::create_thick_lv: lv [metadatavg] create failed. vg [dav_vm] free extents [400] requested "
                  "extents [600]",
                  "tw_lvm::create_lv: lv create failed for vg [metadatavg]",
                  "tw_lvm::configure_vg: lv create failed",
              }),
              failures_logged(tb));
    EXPECT_EQ(400u, lvm.get_vg().get_free_extents());
    EXPECT_EQ(600u, lvm.get_vg().get_alloc_extents());
}

TEST(LvmManagerSteps, EachStepStopsAtItsFirstFailure) {
    {
        test_backend t;
        t.on("pvcreate -ff -y /dev/sdb", 0);
        t.on("pvcreate -ff -y /dev/sdc", 5, "", "  Cannot use /dev/sdc: device is partitioned\n");
        tw_vg vg = make_vg("metadatavg", 4, 0, {"/dev/sdb", "/dev/sdc", "/dev/sdd"}, {});
        tw_lvm lvm(vg);
        EXPECT_EQ(1, lvm.configure_vg());
        EXPECT_EQ((strings{"pvcreate -ff -y /dev/sdb", "pvcreate -ff -y /dev/sdc"}), t.commands);
        EXPECT_EQ((strings{"tw_lvm::create_pv_cmd: command [pvcreate -ff -y /dev/sdc] failed with error [  Cannot use "
                           "/dev/sdc: device is partitioned\n]",
                           "tw_lvm::create_pv: pv create failed for disk [/dev/sdc]",
                           "tw_lvm::configure_vg: pv create failed"}),
                  failures_logged(t));
        EXPECT_EQ((std::list<std::string>{"/dev/sdb"}), lvm.created_pvs());
        EXPECT_FALSE(lvm.created_vg());
        EXPECT_EQ(failures_logged(t).size(), lvm.get_failures().size());
    }
    {
        test_backend t;
        t.on("pvcreate -ff -y /dev/sdb", 0);
        t.on(kPvScan, 0, "/dev/sdb\nuuid-b\n");
        t.on("vgcreate  metadatavg --physicalextentsize 4M /dev/sdb ", 5, "",
             "  A volume group called metadatavg already exists.\n");
        tw_vg vg = make_vg("metadatavg", 4, 0, {"/dev/sdb"}, {make_lv("index", 90, 4096, false)});
        tw_lvm lvm(vg);
        EXPECT_EQ(1, lvm.configure_vg());
        EXPECT_EQ("vgcreate  metadatavg --physicalextentsize 4M /dev/sdb ", t.commands.back());
        EXPECT_TRUE(t.logged(-1, "tw_lvm::create_vg", "vg create failed [metadatavg]"));
        EXPECT_TRUE(t.logged(-1, "tw_lvm::configure_vg", "vg create failed"));
        EXPECT_FALSE(lvm.created_vg());
    }
    {
        test_backend t;
        t.on("pvcreate -ff -y /dev/sdb", 0);
        t.on(kPvScan, 0, "/dev/sdb\nuuid-b\n");
        t.on("vgcreate  metadatavg --physicalextentsize 4M /dev/sdb ", 0);
        t.on(alloc_query("metadatavg"), 0, "0\n");
        t.on(free_query("metadatavg"), 0, "1000\n");
        t.on("lvcreate -y --extents 936 -T metadatavg/ddb_pool", 5, "",
             "  Can't create thin-pool without using device-mapper kernel driver.\n");
        tw_vg vg = make_vg("metadatavg", 4, 0, {"/dev/sdb"},
                           {make_lv("ddb", 100, 4096, true), make_lv("index", 0, 4096, false)});
        tw_lvm lvm(vg);
        EXPECT_EQ(1, lvm.configure_vg());
        EXPECT_EQ("lvcreate -y --extents 936 -T metadatavg/ddb_pool", t.commands.back());
        EXPECT_TRUE(
            t.logged(-1, "tw_lvm::create_thin_lv", "create thin pool failed vg [metadatavg] thin pool [ddb_pool]"));
        EXPECT_EQ(1000u, lvm.get_vg().get_free_extents());
        EXPECT_TRUE(lvm.created_vg());
    }
    {
        // A thin volume that fails after its pool leaves the pool counted.
        test_backend t;
        t.on("lvcreate -y --extents 936 -T metadatavg/ddb_pool", 0);
        t.on("lvcreate -y -V 3368M -T metadatavg/ddb_pool -n ddb", 5);
        tw_vg vg = make_vg("metadatavg", 4, 0, {}, {});
        vg.set_free_extents(1000);
        tw_lvm lvm(vg);
        tw_lv lv = make_lv("ddb", 0, 0, true);
        lv.set_num_extents(1000);
        EXPECT_EQ(1, lvm.create_thin_lv(lv));
        EXPECT_TRUE(t.logged(-1, "tw_lvm::create_thin_lv", "lv [metadatavg] create failed. vg [ddb] pool [ddb_pool]"));
        EXPECT_EQ(64u, lvm.get_vg().get_free_extents());
    }
}

TEST_F(LvmManager, SharesAndCapsNeverWrapAround) {
    tb.on("lvcreate -y --extents 131072 --name index metadatavg", 0);
    tw_vg vg =
        make_vg("metadatavg", 4, 0, {}, {make_lv("index", std::numeric_limits<unsigned long long>::max(), 512, false)});
    vg.set_free_extents(1ULL << 40);
    tw_lvm lvm(vg);
    ASSERT_EQ(0, lvm.create_lv());  // the cap binds, not a wrapped share
    EXPECT_EQ((strings{"lvcreate -y --extents 131072 --name index metadatavg"}), tb.commands);

    tw_vg huge =
        make_vg("metadatavg", 4, 0, {}, {make_lv("index", 50, std::numeric_limits<unsigned long long>::max(), false)});
    huge.set_free_extents(1000);
    tb.on("lvcreate -y --extents 500 --name index metadatavg", 0);
    tw_lvm by_share(huge);
    ASSERT_EQ(0, by_share.create_lv());
    EXPECT_EQ("lvcreate -y --extents 500 --name index metadatavg", tb.commands.back());

    tw_vg no_size = make_vg("metadatavg", 0, 0, {}, {make_lv("index", 50, 10, false)});
    tw_lvm zero(no_size);
    EXPECT_NE(0, zero.create_lv());
    EXPECT_EQ(2u, tb.commands.size());
}

TEST_F(LvmManager, ExtentQueriesReadTheLeadingNumber) {
    tw_lvm lvm;
    unsigned long long n = 77;
    tb.on(free_query("metadatavg"), 0, "   410\n");
    EXPECT_EQ(0, lvm.get_vg_free_extents("metadatavg", n));
    EXPECT_EQ(410u, n);
    EXPECT_TRUE(tb.logged(0, "tw_lvm::get_vg_free_extents", "vg name [metadatavg] free extents [410]"));
    // No such group: the pipeline succeeds with nothing to read.
    tb.on(free_query("gone"), 0, "");
    EXPECT_EQ(0, lvm.get_vg_free_extents("gone", n));
    EXPECT_EQ(410u, n);
    tb.on(alloc_query("metadatavg"), 0, "100\n");
    EXPECT_EQ(0, lvm.get_vg_alloc_extents("metadatavg", n));
    EXPECT_EQ(100u, n);
    tb.on(alloc_query("odd"), 0, "n/a\n");
    EXPECT_EQ(0, lvm.get_vg_alloc_extents("odd", n));
    EXPECT_EQ(100u, n);
}

TEST_F(LvmManager, ScansReadTheToolsLines) {
    // pvdisplay | grep | awk on this project's machine, two PVs of one group.
    tb.on(kPvScan, 0,
          "/dev/loop1\nPh2PgK-rnEZ-3HIC-K1sz-iHe9-Ssxj-zv2zeR\n/dev/loop2\nUQU2z3-IS0X-k1fJ-Xaxq-FrA4-9kXE-cMtAAz\n");
    tb.on(kVgScan, 0, "systemvg\nmetadatavg\n");
    tw_lvm lvm;
    std::list<tw_pv> pvs;
    ASSERT_EQ(0, lvm.scan_pv(pvs));
    ASSERT_EQ(2u, pvs.size());
    EXPECT_EQ("/dev/loop2", pvs.back().get_name());
    EXPECT_EQ("UQU2z3-IS0X-k1fJ-Xaxq-FrA4-9kXE-cMtAAz", pvs.back().get_uuid());
    EXPECT_TRUE(tb.logged(0, "tw_lvm::scan_pv", "pv uuid [Ph2PgK-rnEZ-3HIC-K1sz-iHe9-Ssxj-zv2zeR]"));
    std::list<std::string> vgs;
    ASSERT_EQ(0, lvm.scan_vg_cmd(vgs));
    EXPECT_EQ((std::list<std::string>{"systemvg", "metadatavg"}), vgs);
    EXPECT_TRUE(tb.logged(0, "tw_lvm::scan_vg_cmd", "vg name [metadatavg]"));

    tb.on(
        "lvs --noheadings --separator '|' --units b --nosuffix -o lv_name,lv_attr,lv_size,vg_extent_size "
        "metadatavg 2>/dev/null",
        0, "  index|-wi-------|419430400|4194304\n  ddb|Vwi---tz--|3531603968|4194304\n");
    std::list<tw_lv> lvs;
    ASSERT_EQ(0, lvm.scan_lv("metadatavg", lvs));
    ASSERT_EQ(2u, lvs.size());
    EXPECT_EQ(100u, lvs.front().get_num_extents());
    EXPECT_FALSE(lvs.front().is_thin_volume());
    EXPECT_EQ("ddb", lvs.back().get_name());
    EXPECT_EQ(842u, lvs.back().get_num_extents());
    EXPECT_TRUE(lvs.back().is_thin_volume());
}

TEST_F(LvmManager, RemovalSkipsAnAbsentGroupAndUnknownVolumes) {
    tb.on(kVgScan, 0, "systemvg\n");
    tb.on("pvremove -ff -y /dev/sdb", 0);
    tb.on("pvremove -ff -y /dev/sdc", 0);
    tw_vg vg = make_vg("metadatavg", 4, 0, {"/dev/sdb", "unknown", "/dev/sdc"}, {});
    tw_lvm lvm(vg);
    ASSERT_EQ(0, lvm.unconfigure_vg());
    EXPECT_EQ((strings{kVgScan, "pvremove -ff -y /dev/sdb", "pvremove -ff -y /dev/sdc"}), tb.commands);
    EXPECT_TRUE(tb.logged(0, "tw_lvm::remove_pv", "Skipping deleting pv[unknown]."));
    EXPECT_TRUE(tb.logged(0, "tw_lvm::remove_pv_cmd", "pv removed [/dev/sdc]"));
}

TEST_F(LvmManager, RemovalOfAPresentGroupStopsAtTheFirstVolumeLeft) {
    tb.on(kVgScan, 0, "metadatavg\n");
    tb.on("vgremove -ff metadatavg", 0);
    tb.on("pvremove -ff -y /dev/sdb", 5);
    tw_vg vg = make_vg("metadatavg", 4, 0, {"/dev/sdb", "/dev/sdc"}, {});
    tw_lvm lvm(vg);
    EXPECT_EQ(1, lvm.unconfigure_vg());
    EXPECT_EQ((strings{kVgScan, "vgremove -ff metadatavg", "pvremove -ff -y /dev/sdb"}), tb.commands);
    EXPECT_TRUE(tb.logged(0, "tw_lvm::remove_vg_cmd", "vg removed [metadatavg]"));
    EXPECT_TRUE(tb.logged(-1, "tw_lvm::remove_pv", "remove pv failed"));
    EXPECT_TRUE(tb.logged(-1, "tw_lvm::unconfigure_vg", "unconfigure pv failed"));
}

TEST_F(LvmManager, ValuesWithShellSyntaxAreQuoted) {
    tw_vg vg = make_vg("meta vg", 4, 0, {"/dev/disk/by-id/usb-X Y", "/dev/sdb;reboot"}, {});
    tw_lvm lvm(vg);
    lvm.create_pv();
    EXPECT_EQ("pvcreate -ff -y '/dev/disk/by-id/usb-X Y'", tb.commands.back());
    lvm.create_vg();
    EXPECT_EQ("vgcreate  'meta vg' --physicalextentsize 4M '/dev/disk/by-id/usb-X Y' '/dev/sdb;reboot' ",
              tb.commands.back());
    unsigned long long n = 10, e = 4;
    lvm.create_thick_lv_cmd("meta vg", "$(id)", n);
    EXPECT_EQ("lvcreate -y --extents 10 --name '$(id)' 'meta vg'", tb.commands.back());
    n = 100;
    lvm.create_thin_pool_cmd("meta vg", "p", n, e);
    EXPECT_EQ("lvcreate -y --extents 36 -T 'meta vg/p'", tb.commands.back());
    lvm.remove_vg_cmd("a'b");
    EXPECT_EQ("vgremove -ff 'a'\\''b'", tb.commands.back());
}

}  // namespace
