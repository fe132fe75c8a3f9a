// Metadata storage on real lvm2, xfsprogs and mount, inside the sandbox, on
// loop devices. This kernel has no device-mapper: LVM runs with activation
// off (the sandbox's LVM filter, set to see only this test's loop devices), so
// physical volumes, the group and logical-volume metadata are real, while thin
// pools go through a fake lvcreate that records its arguments and stands a
// thick volume of the pool's size in for the pool. File systems are made on
// loop devices named in the documents as the block devices.

#include "foundation/host/host_backend.h"
#include "foundation/host/real_backend.h"

#include <tidewall/tw_fsm.h>
#include <tidewall/tw_lvm.h>
#include <tidewall/tw_resource_mgr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include "shell.h"

namespace {

using tidewall::testing::loop_device;
using tidewall::testing::mounted_at;
using tidewall::testing::sh;
using tidewall::testing::slurp;
using tidewall::testing::xattr;

using strings = std::vector<std::string>;
const std::string kIndexPath = "/opt/tessaline/Dockwright64/IndexCache";

strings words(const std::string& text) {
    strings out;
    std::istringstream in(text);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

// The machine as it is, except that the 10 s wait for device nodes is
// recorded instead of slept: without device-mapper there are none to wait for.
class quick_sleep_backend : public tidewall::host::real_backend {
public:
    void sleep_ms(unsigned ms) override { sleeps.push_back(ms); }
    std::vector<unsigned> sleeps;
};

class MetadataStorage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX"))
            << "run through sandbox.sh: this test writes LVM labels on loop devices";
        work_ = sh("mktemp -d /tmp/twmeta.XXXXXX");
        ASSERT_FALSE(work_.empty());
        saved_path_ = std::getenv("PATH");
        real_lvcreate_ = sh("command -v lvcreate");
        ASSERT_FALSE(real_lvcreate_.empty()) << "no lvm2";
        const char* filter = std::getenv("TW_LVM_FILTER");
        ASSERT_TRUE(filter) << "the sandbox names the LVM filter script";
        lvm_filter_ = filter;
        tidewall::host::install(&backend_);
    }
    void TearDown() override {
        tidewall::host::install(nullptr);
        // Only what this test made goes: the groups on its own devices and
        // their labels (LVM sees nothing else), then the devices and images.
        if (!lvm_devices_.empty()) {
            std::string devices;
            for (const auto& d : lvm_devices_) devices += " " + d;
            for (const auto& vg : words(sh("pvs --noheadings -o vg_name" + devices + " 2>/dev/null | sort -u")))
                sh("vgremove -ff " + vg + " >/dev/null 2>&1");
            sh("pvremove -ff -y" + devices + " >/dev/null 2>&1");
            sh(lvm_filter_);
        }
        loops_.clear();
        ::setenv("PATH", saved_path_.c_str(), 1);
        std::filesystem::remove_all(work_);
    }

    const loop_device& loop(const std::string& name) {
        loops_.push_back(std::make_unique<loop_device>(work_, name));
        EXPECT_EQ(0u, loops_.back()->path().rfind("/dev/loop", 0)) << "no loop device";
        return *loops_.back();
    }

    // LVM (activation off) sees the loop devices made so far and nothing else
    // of the machine: the sandbox's filter, set to name exactly these.
    void use_lvm_on_loops() {
        lvm_devices_.clear();
        for (const auto& l : loops_) lvm_devices_.push_back(l->path());
        std::string cmd = lvm_filter_;
        for (const auto& d : lvm_devices_) cmd += " " + d;
        int status = -1;
        sh(cmd, &status);
        ASSERT_EQ(0, status) << cmd;
    }

    // A fake lvcreate first on PATH: records every call; a thin pool becomes a
    // thick volume of the pool's extents, a thin volume in an existing pool
    // takes nothing; everything else goes to the real tool.
    void use_fake_lvcreate() {
        std::string bin = work_ + "/bin";
        std::filesystem::create_directories(bin);
        // lvcreate -y --extents N -T VG/POOL    becomes  lvcreate -y --extents N --name POOL VG
        // lvcreate -y -V SIZE -T VG/POOL -n LV  succeeds when VG/POOL exists
        std::ofstream(bin + "/lvcreate")
            << "#!/bin/sh\n"
            << "echo \"$*\" >> " << work_ << "/lvcreate.calls\n"
            << "case \" $* \" in\n"
            << "*\" -T \"*)\n"
            << "  if [ \"$2\" = -V ]; then\n"
            << "    lvs \"$5\" >/dev/null 2>&1 || { echo \"pool $5 not found\" >&2; exit 5; }\n"
            << "    exit 0\n"
            << "  fi\n"
            << "  exec " << real_lvcreate_ << " -y --extents \"$3\" --name \"${5#*/}\" \"${5%%/*}\"\n"
            << "  ;;\n"
            << "esac\n"
            << "exec " << real_lvcreate_ << " \"$@\"\n";
        std::filesystem::permissions(bin + "/lvcreate", std::filesystem::perms(0755));
        ::setenv("PATH", (bin + ":" + saved_path_).c_str(), 1);
    }
    strings lvcreate_calls() {
        strings out;
        std::istringstream in(slurp(work_ + "/lvcreate.calls"));
        std::string line;
        while (std::getline(in, line)) out.push_back(line);
        return out;
    }

    // Extents of each logical volume of vg as LVM reports them.
    std::map<std::string, unsigned long long> lv_extents(const std::string& vg) {
        std::map<std::string, unsigned long long> out;
        strings f = words(sh("lvs --noheadings -o lv_name,seg_size_pe " + vg + " 2>/dev/null"));
        for (size_t i = 0; i + 1 < f.size(); i += 2) out[f[i]] = std::stoull(f[i + 1]);
        return out;
    }
    unsigned long long vg_field(const std::string& vg, const std::string& field) {
        std::string v = sh("vgs --noheadings -o " + field + " " + vg + " 2>/dev/null");
        return v.empty() ? ~0ULL : std::stoull(v);
    }
    std::string pv_uuid(const std::string& dev) {
        return sh("pvs --noheadings -o pv_uuid " + dev + " 2>/dev/null | tr -d ' '");
    }
    std::string lvm_labels() { return sh("pvs --noheadings -o pv_name,vg_name 2>/dev/null"); }

    void set_reg(const std::string& key, const std::string& value) {
        ASSERT_TRUE(tidewall::host::current().reg_set("Dockwright", key, value));
    }
    std::string reg(const std::string& key) {
        std::string v;
        return tidewall::host::current().reg_get("Dockwright", key, v) ? v : "<absent>";
    }

    quick_sleep_backend backend_;
    std::string work_, saved_path_, real_lvcreate_, lvm_filter_;
    std::vector<std::unique_ptr<loop_device>> loops_;
    std::vector<std::string> lvm_devices_;
};

tw_lv lv_of(const std::string& name, unsigned long long min, unsigned long long max, bool thin) {
    tw_lv lv;
    lv.set_name(name);
    lv.set_min_percentage(min);
    lv.set_max_size(max);
    lv.set_thin_volume(thin);
    return lv;
}

// A Control node's layout on a reference-architecture platform: thick index,
// thin ddb, both file systems on the devices named.
std::string control_document(const strings& pvs, const std::string& ddb_dev, const std::string& index_dev);

// The same volumes with the file systems and mounts given (device, path).
std::string document_with_mounts(const strings& pvs, const std::vector<std::pair<std::string, std::string>>& mounts) {
    std::string doc = control_document(pvs, "DDB", "INDEX");
    std::string fs = "\"fileSystem\": [", fsm = "\"fileSystemMount\": [";
    for (size_t i = 0; i < mounts.size(); ++i) {
        fs += (i ? ", " : "") + std::string("{\"blkDevice\": \"") + mounts[i].first + "\", \"fsType\": \"xfs\"}";
        fsm += (i ? ", " : "") + std::string("{\"blkDevice\": \"") + mounts[i].first +
               "\", \"fsType\": \"xfs\", \"mntPath\": \"" + mounts[i].second +
               "\", \"fsArgs\": \"noatime,inode64,nofail\", \"fsFreq\": 1, \"fsPassno\": 1}";
    }
    return doc.substr(0, doc.find("\"fileSystem\"")) + fs + "],\n" + fsm + "]\n}\n";
}

std::string control_document(const strings& pvs, const std::string& ddb_dev, const std::string& index_dev) {
    std::string doc = "{\n\"disk\": [";
    for (size_t i = 0; i < pvs.size(); ++i) doc += (i ? ", " : "") + std::string("{\"name\": \"") + pvs[i] + "\"}";
    doc +=
        "],\n\"volumeGroup\": {\"name\": \"metadatavg\", \"extentSize\": 4, \"rsvdPercentage\": 10,\n"
        "  \"physicalVolume\": [";
    for (size_t i = 0; i < pvs.size(); ++i) doc += (i ? ", " : "") + std::string("{\"name\": \"") + pvs[i] + "\"}";
    doc +=
        "],\n  \"logicalVolume\": [\n"
        "    {\"name\": \"index\", \"minPercentage\": 45, \"maxSize\": 4096, \"thinVolume\": false},\n"
        "    {\"name\": \"ddb\", \"minPercentage\": 50, \"maxSize\": 4096, \"thinVolume\": true}]},\n"
        "\"fileSystem\": [{\"blkDevice\": \"" +
        ddb_dev +
        "\", \"fsType\": \"xfs\"},\n"
        "  {\"blkDevice\": \"" +
        index_dev +
        "\", \"fsType\": \"xfs\"}],\n"
        "\"fileSystemMount\": [\n"
        "  {\"blkDevice\": \"" +
        ddb_dev +
        "\", \"fsType\": \"xfs\", \"mntPath\": \"/tw/ddb\", "
        "\"fsArgs\": \"noatime,inode64,nofail\", \"fsFreq\": 1, \"fsPassno\": 1},\n"
        "  {\"blkDevice\": \"" +
        index_dev + "\", \"fsType\": \"xfs\", \"mntPath\": \"" + kIndexPath +
        "\", "
        "\"fsArgs\": \"noatime,inode64,nofail\", \"fsFreq\": 1, \"fsPassno\": 1}]\n}\n";
    return doc;
}

TEST_F(MetadataStorage, GroupAndThickVolumesOnRealLvmMatchTheBookkeeping) {
    const auto& a = loop("pv-a");
    const auto& b = loop("pv-b");
    use_lvm_on_loops();
    tw_vg vg;
    vg.set_name("metadatavg");
    vg.set_extent_size(4);
    vg.set_rsvd_percentage_cap(10);
    for (const auto* d : {&a, &b}) {
        tw_pv pv;
        pv.set_name(d->path());
        vg.add_pv(pv);
    }
    vg.add_lv(lv_of("index", 45, 4096, false));
    vg.add_lv(lv_of("dav_vm", 30, 4096, false));
    vg.add_lv(lv_of("dav_he", 10, 4096, false));
    tw_lvm lvm(vg);
    ASSERT_EQ(0, lvm.configure_vg()) << ::testing::PrintToString(lvm.get_failures());

    const tw_vg& held = lvm.get_vg();
    unsigned long long total = vg_field("metadatavg", "vg_extent_count");
    unsigned long long lvm_free = vg_field("metadatavg", "vg_free_count");
    ASSERT_GT(total, 200u);  // two 512 MiB disks of 4 MiB extents, less LVM's own metadata
    unsigned long long reserve = total * 10 / 100;
    EXPECT_EQ(total - reserve, held.get_total_extents());
    // Every share is of the same whole: the free extents after the reserve.
    auto lvs = lv_extents("metadatavg");
    EXPECT_EQ(3u, lvs.size());
    EXPECT_EQ(held.get_total_extents() * 45 / 100, lvs["index"]);
    EXPECT_EQ(held.get_total_extents() * 30 / 100, lvs["dav_vm"]);
    EXPECT_EQ(held.get_total_extents() * 10 / 100, lvs["dav_he"]);
    // What the library counted is what LVM counts; the reserve stays free.
    EXPECT_EQ(total - lvm_free, held.get_alloc_extents());
    EXPECT_EQ(lvm_free - reserve, held.get_free_extents());
    strings uuids;
    for (const auto& pv : held.get_pv_list()) uuids.push_back(pv.get_uuid());
    EXPECT_EQ((strings{pv_uuid(a.path()), pv_uuid(b.path())}), uuids);
    EXPECT_FALSE(uuids[0].empty());

    // A volume that no longer fits changes nothing in LVM.
    tw_lv big = lv_of("big", 0, 0, false);
    big.set_num_extents(held.get_free_extents() + 1);
    EXPECT_EQ(1, lvm.create_thick_lv(big));
    EXPECT_EQ(3u, lv_extents("metadatavg").size());

    tw_lvm remover(vg);
    ASSERT_EQ(0, remover.unconfigure_vg()) << ::testing::PrintToString(remover.get_failures());
    EXPECT_EQ("", lvm_labels());
    EXPECT_EQ(0, remover.remove_vg());  // gone: nothing to do
}

TEST_F(MetadataStorage, ThinPoolCommandsThroughTheFakeLvcreate) {
    const auto& a = loop("thin-a");
    use_lvm_on_loops();
    use_fake_lvcreate();
    tw_vg vg;
    vg.set_name("metadatavg");
    vg.set_extent_size(4);
    tw_pv pv;
    pv.set_name(a.path());
    vg.add_pv(pv);
    vg.add_lv(lv_of("ddb", 80, 4096, true));
    vg.add_lv(lv_of("index", 10, 4096, false));
    tw_lvm lvm(vg);
    ASSERT_EQ(0, lvm.configure_vg()) << ::testing::PrintToString(lvm.get_failures());

    unsigned long long total = vg_field("metadatavg", "vg_extent_count");
    unsigned long long share = total * 80 / 100, pool = share - 64, index = total * 10 / 100;
    EXPECT_EQ((strings{"-y --extents " + std::to_string(pool) + " -T metadatavg/ddb_pool",
                       "-y -V " + std::to_string(pool * 90 / 100 * 4) + "M -T metadatavg/ddb_pool -n ddb",
                       "-y --extents " + std::to_string(index) + " --name index metadatavg"}),
              lvcreate_calls());
    auto lvs = lv_extents("metadatavg");
    EXPECT_EQ(pool, lvs["ddb_pool"]);
    EXPECT_EQ(index, lvs["index"]);
    // The 256 MiB held back stay free for the pool's metadata.
    EXPECT_EQ(total - vg_field("metadatavg", "vg_free_count"), lvm.get_vg().get_alloc_extents());
    EXPECT_EQ(pool + index, lvm.get_vg().get_alloc_extents());
    EXPECT_EQ(total - pool - index, lvm.get_vg().get_free_extents());
}

TEST_F(MetadataStorage, FileSystemsMountsStampsAndFstabOnLoopDevices) {
    const auto& ddb = loop("fs-ddb");
    const auto& index = loop("fs-index");
    std::list<tw_fs> fs_list(2);
    fs_list.front().set_blk_device(ddb.path());
    fs_list.front().set_fs_type("xfs");
    fs_list.back().set_blk_device(index.path());
    fs_list.back().set_fs_type("xfs");
    std::list<tw_fs_mount> mounts(2);
    int i = 0;
    for (auto& m : mounts) {
        m.set_blk_device(i == 0 ? ddb.path() : index.path());
        m.set_mnt_path(i == 0 ? "/tw/ddb" : kIndexPath);
        m.set_fs_type("xfs");
        m.set_fs_args("noatime,inode64,nofail");
        ++i;
    }
    std::filesystem::remove_all("/opt/tessaline");
    tw_fsm fsm;
    ASSERT_EQ(0, fsm.configure_fs(fs_list)) << ::testing::PrintToString(fsm.get_failures());
    EXPECT_EQ("xfs", sh("blkid -p -c /dev/null -o value -s TYPE " + index.path()));
    ASSERT_EQ(0, fsm.configure_fs_mount(mounts)) << ::testing::PrintToString(fsm.get_failures());

    EXPECT_TRUE(mounted_at(ddb.path(), "/tw/ddb"));
    EXPECT_TRUE(mounted_at(index.path(), kIndexPath));
    EXPECT_NE(std::string::npos, sh("xfs_info " + kIndexPath).find("isize=512"));
    std::string opts = sh("awk '$2 == \"/tw/ddb\" { print $4 }' /proc/self/mounts");
    EXPECT_NE(std::string::npos, opts.find("noatime")) << opts;
    EXPECT_NE(std::string::npos, opts.find("inode64")) << opts;
    struct stat st {};
    ASSERT_EQ(0, ::stat("/opt/tessaline", &st));
    EXPECT_EQ(0755u, st.st_mode & 07777);
    EXPECT_EQ(kIndexPath, xattr(kIndexPath, "trusted.mntstamp"));
    EXPECT_EQ("arrowfield@tsln", xattr(kIndexPath, "trusted.tslnstamp"));
    EXPECT_EQ("", xattr("/tw/ddb", "trusted.blkdevstamp"));
    std::string fstab = slurp("/etc/fstab");
    EXPECT_EQ(0u, fstab.find("#\n#/etc/fstab\n#Created by Tessaline Tidewall Storage\n")) << fstab;
    EXPECT_NE(std::string::npos,
              fstab.find(ddb.path() + "      /tw/ddb      xfs      noatime,inode64,nofail      0   0\n"))
        << fstab;
    EXPECT_NE(std::string::npos, fstab.find(index.path() + "      " + kIndexPath + "      xfs")) << fstab;

    // Mounting again finds the paths in use and mounts nothing over them.
    tw_fsm again;
    EXPECT_EQ(1, again.fs_mount(mounts));
    EXPECT_EQ("mntpath [/tw/ddb] is in use", again.get_failures().front());

    ASSERT_EQ(0, fsm.unconfigure_fs_mount(mounts));
    EXPECT_FALSE(mounted_at(ddb.path(), "/tw/ddb"));
    EXPECT_FALSE(mounted_at(index.path(), kIndexPath));
    EXPECT_EQ(fstab, slurp("/etc/fstab"));  // entries stay for the next configure
    EXPECT_TRUE(std::filesystem::is_directory(kIndexPath));
}

TEST_F(MetadataStorage, ConfigureThenUnconfigureThroughTheRegistry) {
    const auto& a = loop("e2e-a");
    const auto& b = loop("e2e-b");
    use_lvm_on_loops();  // the file-system devices need no LVM
    const auto& ddb = loop("e2e-ddb");
    const auto& index = loop("e2e-index");
    use_fake_lvcreate();
    set_reg("sArrowfieldNodeType", "Control");
    set_reg("sScaleoutPlatformType", "ReferenceArchitecture");
    std::string doc = control_document({a.path(), b.path()}, ddb.path(), index.path());

    tw_resource_mgr mgr;
    // A first build: the disks it clears beforehand are named.
    std::string type = "Control", vg = "metadatavg", pvs = a.path() + "," + b.path();
    ASSERT_EQ(0, mgr.configure_meta_data_storage(doc, type, vg, pvs)) << ::testing::PrintToString(mgr.get_failures());

    EXPECT_EQ((std::vector<unsigned>{10000}), backend_.sleeps);
    EXPECT_EQ(pv_uuid(a.path()) + "," + pv_uuid(b.path()), reg("sArrowfieldMetadataPV"));
    EXPECT_EQ("metadatavg", reg("sArrowfieldMetadataVG"));
    auto lvs = lv_extents("metadatavg");
    EXPECT_EQ(1u, lvs.count("index"));
    EXPECT_EQ(1u, lvs.count("ddb_pool"));
    EXPECT_TRUE(mounted_at(ddb.path(), "/tw/ddb"));
    EXPECT_TRUE(mounted_at(index.path(), kIndexPath));
    EXPECT_EQ("arrowfield@tsln", xattr("/tw/ddb", "trusted.tslnstamp"));
    EXPECT_NE(std::string::npos, slurp("/etc/fstab").find(index.path() + "      " + kIndexPath));

    std::string none;
    ASSERT_EQ(0, mgr.unconfigure_meta_data_storage(none, none, none)) << ::testing::PrintToString(mgr.get_failures());
    EXPECT_FALSE(mounted_at(ddb.path(), "/tw/ddb"));
    EXPECT_FALSE(mounted_at(index.path(), kIndexPath));
    EXPECT_EQ("", lvm_labels());
    EXPECT_EQ("", sh("blkid -p -c /dev/null -o value -s TYPE " + a.path()));

    // Nothing left to find: a second teardown has nothing to do.
    ASSERT_EQ(0, mgr.unconfigure_meta_data_storage(none, none, none));
}

TEST_F(MetadataStorage, FailedVolumeCreationLeavesNoGroupAndNoPhysicalVolume) {
    const auto& a = loop("fail-a");
    const auto& b = loop("fail-b");
    use_lvm_on_loops();
    const auto& ddb = loop("fail-ddb");
    const auto& index = loop("fail-index");
    set_reg("sArrowfieldNodeType", "Control");
    set_reg("sScaleoutPlatformType", "ReferenceArchitecture");
    set_reg("sArrowfieldMetadataVG", "");
    set_reg("sArrowfieldMetadataPV", "");
    // The real lvcreate: no thin pool without device-mapper.
    std::string doc = control_document({a.path(), b.path()}, ddb.path(), index.path());
    tw_resource_mgr mgr;
    std::string type, vg, pvs;
    EXPECT_NE(0, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    const auto& f = mgr.get_failures();
    EXPECT_NE(f.end(), std::find(f.begin(), f.end(), "create thin pool failed vg [metadatavg] thin pool [ddb_pool]"))
        << ::testing::PrintToString(f);
    EXPECT_EQ("configure meta data storage  failed", f.back());
    EXPECT_EQ("", lvm_labels());
    EXPECT_EQ("", sh("vgs --noheadings 2>/dev/null"));
    EXPECT_EQ("", sh("blkid -p -c /dev/null -o value -s TYPE " + b.path()));
    EXPECT_FALSE(mounted_at(index.path(), kIndexPath));
    EXPECT_TRUE(backend_.sleeps.empty());
    EXPECT_EQ("", reg("sArrowfieldMetadataPV"));
}

// What the node holds that is not this storage's: a volume group named like
// the metadata group on a loop device outside LVM's filter, an XFS mounted
// elsewhere, and an XFS mounted at IndexCache before the calls. A failed
// configure, a configure and an unconfigure leave each as it was.
TEST_F(MetadataStorage, ForeignGroupAndFileSystemsSurviveConfigureFailureAndUnconfigure) {
    const auto& foreign_pv = loop("foreign-pv");
    const auto& foreign_fs = loop("foreign-fs");
    const auto& foreign_index = loop("foreign-index");
    const std::string only_foreign =
        "--config 'devices { global_filter = [ \"a|^" + foreign_pv.path() + "$|\", \"r|.*|\" ] }'";
    int status = -1;
    sh("vgcreate -q " + only_foreign + " metadatavg " + foreign_pv.path() + " 2>&1", &status);
    ASSERT_EQ(0, status) << "foreign group";
    for (const auto* l : {&foreign_fs, &foreign_index}) {
        sh("mkfs.xfs -q -f " + l->path(), &status);
        ASSERT_EQ(0, status);
    }
    std::filesystem::create_directories("/srv/foreign");
    std::filesystem::create_directories(kIndexPath);
    sh("mount " + foreign_fs.path() + " /srv/foreign && mount " + foreign_index.path() + " " + kIndexPath, &status);
    ASSERT_EQ(0, status);
    std::ofstream("/srv/foreign/data") << "operator data\n";
    std::ofstream(kIndexPath + "/cache") << "another product's index\n";
    auto foreign_state = [&] {
        return sh("vgs " + only_foreign + " --noheadings -o vg_name,vg_uuid,pv_count,lv_count 2>&1") + "|" +
               sh("head -c 4M " + foreign_pv.path() + " | sha256sum") + "|" + slurp("/srv/foreign/data") + "|" +
               slurp(kIndexPath + "/cache") + "|" + std::to_string(mounted_at(foreign_fs.path(), "/srv/foreign")) +
               std::to_string(mounted_at(foreign_index.path(), kIndexPath));
    };
    const std::string before = foreign_state();
    ASSERT_NE(std::string::npos, before.find("metadatavg")) << before;
    ASSERT_NE(std::string::npos, before.find("|11")) << before;

    const auto& a = loop("own-a");
    const auto& b = loop("own-b");
    // LVM sees these two; the foreign group stays outside its filter.
    lvm_devices_ = {a.path(), b.path()};
    sh(lvm_filter_ + " " + a.path() + " " + b.path(), &status);
    ASSERT_EQ(0, status);
    const auto& ddb = loop("own-ddb");
    use_fake_lvcreate();
    set_reg("sArrowfieldNodeType", "Control");
    set_reg("sScaleoutPlatformType", "ReferenceArchitecture");
    set_reg("sArrowfieldMetadataVG", "");
    set_reg("sArrowfieldMetadataPV", "");

    // A layout naming the foreign group's disk, or the disk mounted elsewhere,
    // is refused before anything happens, whatever LVM's filter shows.
    tw_resource_mgr mgr;
    std::string type = "Control", vg, pvs;
    for (const auto* taken : {&foreign_pv, &foreign_fs}) {
        std::string doc = document_with_mounts({a.path(), taken->path()}, {{ddb.path(), "/tw/ddb"}});
        EXPECT_EQ(1, mgr.configure_meta_data_storage(doc, type, vg, pvs));
        EXPECT_EQ("the disks cannot take the layout, nothing was changed", mgr.get_failures().back());
        EXPECT_EQ("", lvm_labels());
        EXPECT_FALSE(mounted_at(ddb.path(), "/tw/ddb"));
        EXPECT_EQ(before, foreign_state());
    }

    // Fails at IndexCache, in use: the ddb mount this run made goes again,
    // the file system that was there stays.
    std::string doc = document_with_mounts({a.path(), b.path()}, {{ddb.path(), "/tw/ddb"}, {ddb.path(), kIndexPath}});
    EXPECT_NE(0, mgr.configure_meta_data_storage(doc, type, vg, pvs));
    EXPECT_EQ("configure meta data storage  failed", mgr.get_failures().back());
    EXPECT_FALSE(mounted_at(ddb.path(), "/tw/ddb"));
    EXPECT_EQ("", lvm_labels());
    EXPECT_EQ(before, foreign_state());

    // A layout beside it builds, under the same group name as the foreign one.
    doc = document_with_mounts({a.path(), b.path()}, {{ddb.path(), "/tw/ddb"}});
    vg = "metadatavg";
    pvs = a.path() + "," + b.path();
    ASSERT_EQ(0, mgr.configure_meta_data_storage(doc, type, vg, pvs)) << ::testing::PrintToString(mgr.get_failures());
    EXPECT_TRUE(mounted_at(ddb.path(), "/tw/ddb"));
    EXPECT_EQ(2u, vg_field("metadatavg", "pv_count"));
    EXPECT_EQ(before, foreign_state());

    // The teardown takes its own mount and group; IndexCache is not its own.
    std::string none;
    ASSERT_EQ(0, mgr.unconfigure_meta_data_storage(none, none, none)) << ::testing::PrintToString(mgr.get_failures());
    EXPECT_FALSE(mounted_at(ddb.path(), "/tw/ddb"));
    EXPECT_EQ("", lvm_labels());
    EXPECT_EQ(before, foreign_state());
    sh("umount " + kIndexPath + " /srv/foreign");
}

}  // namespace
