// Configure: the default layout document for a set of disks, and the build of
// a document's layout, checked first against the disks and preceded by the
// teardown of the earlier layout.

#include <tidewall/tw_fsm.h>
#include <tidewall/tw_lvm.h>
#include <tidewall/tw_resource_mgr.h>

#include "foundation/fs/node_lock.h"
#include "foundation/host/sync.h"
#include "foundation/log/log_level.h"
#include "metadata/layout_disk_checks.h"
#include "metadata/resource_mgr_internal.h"

using tidewall::metadata::inner_step_failed;

namespace {

// Time for the device nodes of new logical volumes to appear before they are
// formatted.
constexpr unsigned kDeviceSettleMs = 10000;

}  // namespace

int tw_resource_mgr::create_meta_data_storage_config(std::list<std::string>& disks, std::string& config_out,
                                                     std::string& node_type) {
    operation op(*this);
    const char* tag = "tw_resource_mgr::create_meta_data_storage_config";
    tw_md_storage_config config;
    int rc = config.init(node_type);
    if (rc != 0)
        return inner_step_failed(log_, failures_, config.get_failures(), tag, "storage config init failed", rc);
    rc = config.create_config_data(disks);
    if (rc == 0) rc = config.get_config_data(config_out);
    if (rc != 0)
        return inner_step_failed(log_, failures_, config.get_failures(), tag, "creating storage config data failed",
                                 rc);
    log_.logMessage(tag, tidewall::log_level::step, "config data:\n%s\n", config_out.c_str());
    return 0;
}

int tw_resource_mgr::configure_meta_data_storage(std::string& config_text, std::string& node_type, std::string& vg_name,
                                                 std::string& pv_list) {
    operation op(*this);
    const char* tag = "tw_resource_mgr::configure_meta_data_storage";
    tidewall::locks::operation_lock lock(tidewall::locks::operation::metadata_configure);
    if (!lock.held()) {
        fail(tag, "%s", lock.message().c_str());
        return 1;
    }
    // Everything that can be checked without changing the node is checked
    // before the earlier storage is torn down: a layout that cannot be built
    // must not cost the node the storage it has.
    // The layout comes from the document; init only settles and checks the
    // node type.
    tw_md_storage_config config;
    int rc = config.init(node_type);
    if (rc != 0)
        return inner_step_failed(log_, failures_, config.get_failures(), tag, "storage config init failed", rc);
    rc = config.read_config_data(config_text);
    if (rc != 0)
        return inner_step_failed(log_, failures_, config.get_failures(), tag, "reading storage config data failed", rc);
    std::string earlier_vg;
    std::list<std::string> earlier_disks;
    rc = find_earlier_storage(vg_name, pv_list, earlier_vg, earlier_disks);
    if (rc != 0) {
        fail(tag, "unconfigure meta data storage failed");
        return rc;
    }
    bool teardown = !earlier_vg.empty() && !earlier_disks.empty();
    // A file system at one of the outgoing layout's paths that this node
    // stamped for that path is the node's own: the teardown unmounts it first.
    std::vector<std::string> own_paths;
    if (teardown) {
        tw_md_storage_config outgoing;
        if (outgoing.init(node_type) == 0 && outgoing.create_layout_as_set(earlier_disks) == 0)
            for (const auto& m : outgoing.get_fs_mount_list())
                if (stamped_as_own(m.get_mnt_path())) own_paths.push_back(m.get_mnt_path());
    }
    if (!disks_can_take(tag, config, teardown ? earlier_vg : std::string(),
                        teardown ? earlier_disks : std::list<std::string>(), own_paths))
        return 1;
    rc = teardown ? tear_down_earlier(node_type, earlier_vg, earlier_disks) : 0;
    if (rc != 0) {
        fail(tag, "unconfigure meta data storage failed");
        return rc;
    }
    rc = build_or_clean_up(tag, config, "configure meta data storage  failed");
    if (rc != 0) return rc;
    if (!node_type.empty() && write_reg_key(tag, tidewall::metadata::kNodeTypeKey, node_type) != 0) return 1;
    // The group recorded is the one just built, so that a later teardown
    // finds it whatever the document named it.
    if (!vg_name.empty() && write_reg_key(tag, tidewall::metadata::kMetadataVgKey, config.get_vg().get_name()) != 0)
        return 1;
    log_.logMessage(tag, tidewall::log_level::step, "configure meta data storage completed.");
    return 0;
}

bool tw_resource_mgr::disks_can_take(const char* tag, const tw_md_storage_config& config,
                                     const std::string& outgoing_vg, const std::list<std::string>& outgoing_disks,
                                     const std::vector<std::string>& own_mounts) {
    std::vector<std::string> problems =
        tidewall::metadata::check_layout_disks(config, outgoing_vg, outgoing_disks, own_mounts);
    for (const auto& p : problems) fail(tag, "%s", p.c_str());
    if (problems.empty()) return true;
    fail(tag, "the disks cannot take the layout, nothing was changed");
    return false;
}

int tw_resource_mgr::build_or_clean_up(const char* tag, tw_md_storage_config& config, const char* failed_message) {
    tw_lvm lvm(config.get_vg());
    tw_fsm fsm;
    int rc = configure_internal(config, lvm, fsm);
    if (rc != 0) {
        if (clean_up_failed_configure(config, lvm, fsm) != 0) fail(tag, "unconfigure meta data storage failed");
        fail(tag, "%s", failed_message);
    }
    return rc;
}

int tw_resource_mgr::configure_m5_meta_data_storage(std::string& config_text) {
    operation op(*this);
    const char* tag = "tw_resource_mgr::configure_m5_meta_data_storage";
    tidewall::locks::operation_lock lock(tidewall::locks::operation::metadata_configure);
    if (!lock.held()) {
        fail(tag, "%s", lock.message().c_str());
        return 1;
    }
    tw_md_storage_config config;
    int rc = config.read_config_data(config_text);
    if (rc != 0)
        return inner_step_failed(log_, failures_, config.get_failures(), tag, "reading storage config data failed", rc);
    if (!disks_can_take(tag, config, "", {})) return 1;
    rc = build_or_clean_up(tag, config, "configure meta data storage failed");
    if (rc != 0) return rc;
    log_.logMessage(tag, tidewall::log_level::step, "configure meta data storage completed.");
    return 0;
}

int tw_resource_mgr::configure_meta_data_storage_internal(tw_md_storage_config& config) {
    operation op(*this);
    tw_lvm lvm(config.get_vg());
    tw_fsm fsm;
    return configure_internal(config, lvm, fsm);
}

int tw_resource_mgr::configure_internal(tw_md_storage_config& config, tw_lvm& lvm, tw_fsm& fsm) {
    const char* tag = "tw_resource_mgr::configure_meta_data_storage_internal";
    int rc = lvm.configure_vg();
    if (rc != 0) return inner_step_failed(log_, failures_, lvm.get_failures(), tag, " VG configure failed", rc);
    ZUSLEEP_InTeRnAl(kDeviceSettleMs);
    rc = fsm.configure_fs(config.get_fs_list());
    if (rc != 0) return inner_step_failed(log_, failures_, fsm.get_failures(), tag, "fs configure failed", rc);
    rc = fsm.configure_fs_mount(config.get_fs_mount_list());
    if (rc != 0) return inner_step_failed(log_, failures_, fsm.get_failures(), tag, "fs mount configure failed", rc);
    rc = update_meta_data_pv_registry_entry(lvm.get_vg().get_pv_list());
    if (rc != 0) {
        fail(tag, "update meta data pv registry entry failed");
        return rc;
    }
    return 0;
}
