// The clean-up of a failed configure: exactly what the run did is undone,
// newest first; what was there before the call stays as it was.

#include <tidewall/tw_fsm.h>
#include <tidewall/tw_lvm.h>
#include <tidewall/tw_resource_mgr.h>
#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "metadata/resource_mgr_internal.h"

using tidewall::metadata::inner_step_failed;

int tw_resource_mgr::clean_up_failed_configure(tw_md_storage_config& config, const tw_lvm& built, tw_fsm& fsm) {
    const char* tag = "tw_resource_mgr::unconfigure_meta_data_storage_internal";
    // Its fstab entries first (a line naming a volume about to be removed
    // would be waited for at boot), its mounts (paths mounted before the call
    // were never mounted by it and stay), then the group if it made it, then
    // the labels it wrote.
    if (undo_fstab_changes(tag, fsm) != 0) return 1;
    const auto& mounted = fsm.mounted_paths();
    for (auto it = mounted.rbegin(); it != mounted.rend(); ++it)
        if (fsm.umount_cmd(*it) != 0)
            return inner_step_failed(log_, failures_, fsm.get_failures(), tag, "fs mount unconfigure  failed", 1);
    if (built.created_vg()) {
        tw_lvm group(config.get_vg());
        int rc = group.remove_vg();
        if (rc != 0) return inner_step_failed(log_, failures_, group.get_failures(), tag, "VG unconfig failed", rc);
    } else {
        log_.logMessage(tag, tidewall::log_level::step, "vg [%s] was not created by this configure, leaving it alone",
                        config.get_vg().get_name().c_str());
    }
    tw_vg labelled = config.get_vg();
    labelled.get_pv_list().clear();
    for (const auto& name : built.created_pvs()) {
        tw_pv pv;
        pv.set_name(name);
        labelled.add_pv(pv);
    }
    tw_lvm lvm(labelled);
    int rc = lvm.remove_pv();
    if (rc != 0) return inner_step_failed(log_, failures_, lvm.get_failures(), tag, "VG unconfig failed", rc);
    return 0;
}

int tw_resource_mgr::undo_fstab_changes(const char* tag, const tw_fsm& fsm) {
    const auto& changes = fsm.fstab_changes();
    if (changes.empty()) return 0;
    tw_storage storage;
    try {
        for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
            std::list<std::string> removed;
            storage.trim_sysconfig_files(it->path, "/etc/fstab", removed);
            for (const auto& e : it->replaced)
                storage.update_sysconfig_files(e.GetMountPoint(), e.GetBackingDevice(), e.GetFileSystemType(),
                                               tsaf_utils::create_file_sys_args(e.MountOptions()), "/etc/fstab");
            log_.logMessage(tag, tidewall::log_level::step, "fstab entry for [%s] undone, %zu earlier entr%s put back",
                            it->path.c_str(), it->replaced.size(), it->replaced.size() == 1 ? "y" : "ies");
        }
    } catch (const TsException&) {
        fail(tag, "fstab entries of this configure could not be undone");
        return 1;
    }
    return 0;
}
