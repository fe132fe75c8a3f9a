// Teardown: the earlier layout's mounts undone and its group and physical
// volumes removed; only the group's volumes and file systems this node stamped
// are unmounted.

#include <tidewall/tw_fsm.h>
#include <tidewall/tw_lvm.h>
#include <tidewall/tw_resource_mgr.h>
#include <tidewall/tw_storage.h>

#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"
#include "metadata/layout_disk_checks.h"
#include "metadata/resource_mgr_internal.h"

using tidewall::metadata::inner_step_failed;

int tw_resource_mgr::unconfigure_meta_data_storage(std::string& node_type, std::string& vg_name, std::string& pv_list) {
    operation op(*this);
    tidewall::locks::operation_lock lock(tidewall::locks::operation::metadata_configure);
    if (!lock.held()) {
        fail("tw_resource_mgr::unconfigure_meta_data_storage", "%s", lock.message().c_str());
        return 1;
    }
    std::string vg;
    std::list<std::string> disks;
    int rc = find_earlier_storage(vg_name, pv_list, vg, disks);
    if (rc != 0) return rc;
    if (vg.empty() || disks.empty()) {
        log_.logMessage("tw_resource_mgr::unconfigure_meta_data_storage", tidewall::log_level::step,
                        "skipping cleanup no old VG or PV found");
        return 0;
    }
    return tear_down_earlier(node_type, vg, disks);
}

int tw_resource_mgr::tear_down_earlier(std::string& node_type, const std::string& vg,
                                       const std::list<std::string>& disks) {
    const char* tag = "tw_resource_mgr::unconfigure_meta_data_storage";
    // The mounts undone are the default mount paths of the node type and
    // platform; the disks are the earlier group's. Only the paths matter here,
    // so a layout that could not be built still names them.
    tw_md_storage_config config;
    int rc = config.init(node_type);
    if (rc != 0)
        return inner_step_failed(log_, failures_, config.get_failures(), tag, "storage config init failed", rc);
    rc = config.create_layout_as_set(disks);
    if (rc != 0)
        return inner_step_failed(log_, failures_, config.get_failures(), tag, "creating storage config data failed",
                                 rc);
    config.get_vg().set_name(vg);
    rc = unconfigure_meta_data_storage_internal(config);
    if (rc != 0) {
        fail(tag, "unconfigure meta data  storage failed");
        return rc;
    }
    return 0;
}

int tw_resource_mgr::unconfigure_meta_data_storage_internal(tw_md_storage_config& config) {
    operation op(*this);
    const char* tag = "tw_resource_mgr::unconfigure_meta_data_storage_internal";
    tw_fsm fsm;
    std::list<tw_fs_mount> own;
    int rc = own_mounts(config, fsm, own);
    if (rc == 0) rc = fsm.unconfigure_fs_mount(own);
    if (rc != 0) return inner_step_failed(log_, failures_, fsm.get_failures(), tag, "fs mount unconfigure  failed", rc);
    tw_lvm lvm(config.get_vg());
    rc = lvm.unconfigure_vg();
    if (rc != 0) return inner_step_failed(log_, failures_, lvm.get_failures(), tag, "VG unconfig failed", rc);
    return 0;
}

int tw_resource_mgr::own_mounts(tw_md_storage_config& config, tw_fsm& fsm, std::list<tw_fs_mount>& own) {
    const char* tag = "tw_resource_mgr::unconfigure_meta_data_storage_internal";
    std::list<TsMntInfo> table;
    if (fsm.scan_mounted_fs(table) != 0) return 1;
    const std::string& vg = config.get_vg().get_name();
    for (const auto& m : config.get_fs_mount_list()) {
        const std::string& path = m.get_mnt_path();
        const TsMntInfo* top = nullptr;
        for (const auto& e : table)
            if (e.GetMountPoint() == path) top = &e;
        if (!top) continue;
        // A path of the layout may hold somebody else's file system (the
        // operator's, another product's): only a volume of the group or a file
        // system this node stamped as its own is unmounted.
        if (tidewall::metadata::is_volume_of_group(top->GetBackingDevice(), vg) || stamped_as_own(path)) {
            own.push_back(m);
        } else {
            log_.logMessage(tag, tidewall::log_level::step,
                            "leaving [%s] mounted: [%s] is neither a volume of [%s] nor stamped by this node",
                            path.c_str(), top->GetBackingDevice().c_str(), vg.c_str());
        }
    }
    return 0;
}

bool tw_resource_mgr::stamped_as_own(const std::string& path) {
    auto& host = tidewall::host::current();
    std::string mnt, tsln;
    return host.get_xattr(tidewall::host::path(path), tw_storage::kMntStamp, mnt) == 0 && mnt == path &&
           host.get_xattr(tidewall::host::path(path), tw_storage::kTslnStamp, tsln) == 0 &&
           tsln == tw_storage::kTslnStampValue;
}
