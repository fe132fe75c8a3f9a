// The metadata storage resource manager: strings the storage configuration,
// the LVM manager and the file-system manager together to build a node's
// metadata storage from a layout document or tear an earlier one down, and
// keeps the registry values that let a later run find what an earlier one built.

#include <tidewall/tw_fsm.h>
#include <tidewall/tw_lvm.h>
#include <tidewall/tw_resource_mgr.h>
#include <tidewall/tw_storage.h>

#include "metadata/failure_record.h"
#include "metadata/layout_disk_checks.h"
#include "foundation/error/status.h"
#include "foundation/host/host_backend.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/sync.h"
#include "foundation/compat/tsaf_utils.h"

#include <cstdarg>
#include <cstdio>

namespace {

const char* const kNodeTypeKey = "sArrowfieldNodeType";
const char* const kMetadataVgKey = "sArrowfieldMetadataVG";
const char* const kMetadataPvKey = "sArrowfieldMetadataPV";

// Time for the device nodes of new logical volumes to appear before they are
// formatted.
constexpr unsigned kDeviceSettleMs = 10000;

// The pieces of a comma-separated list; an empty piece between two commas is
// an entry of its own, an empty text is no entry at all.
std::list<std::string> split_commas(const std::string& text) {
    std::list<std::string> pieces;
    if (text.empty()) return pieces;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        pieces.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return pieces;
}

} // namespace

tw_resource_mgr::operation::operation(tw_resource_mgr& m) : mgr(m) {
    tidewall::enter_call();
    if (mgr.depth_++ == 0) mgr.failures_.clear();
}

tw_resource_mgr::operation::~operation() {
    --mgr.depth_;
    tidewall::leave_call();
}

tw_resource_mgr::tw_resource_mgr() {
    log_.logMessage("tw_resource_mgr::tw_resource_mgr", 2, "Creating tw_resource_mgr instance");
}

tw_resource_mgr::~tw_resource_mgr() {
    log_.logMessage("tw_resource_mgr::~tw_resource_mgr", 2, "Cleaning tw_resource_mgr instance");
}

void tw_resource_mgr::fail(const char* tag, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    tidewall::metadata::record_failure(log_, failures_, tag, fmt, args);
    va_end(args);
}

void tw_resource_mgr::take_failures(const std::list<std::string>& inner) {
    failures_.insert(failures_.end(), inner.begin(), inner.end());
}

int tw_resource_mgr::write_reg_key(const char* tag, const std::string& key, const std::string& value) {
    if (tsaf_utils::set_reg_key(key, value) != 0) {
        fail(tag, "writing reg key failed for [%s]", key.c_str());
        return 1;
    }
    log_.logMessage(tag, 0, "reg key [%s] = [%s]", key.c_str(), value.c_str());
    return 0;
}

int tw_resource_mgr::create_meta_data_storage_config(std::list<std::string>& disks, std::string& config_out,
                                                     std::string& node_type) {
    operation op(*this);
    const char* tag = "tw_resource_mgr::create_meta_data_storage_config";
    tw_md_storage_config config;
    int rc = config.init(node_type);
    if (rc != 0) {
        take_failures(config.get_failures());
        fail(tag, "storage config init failed");
        return rc;
    }
    rc = config.create_config_data(disks);
    if (rc == 0) rc = config.get_config_data(config_out);
    if (rc != 0) {
        take_failures(config.get_failures());
        fail(tag, "creating storage config data failed");
        return rc;
    }
    log_.logMessage(tag, 0, "config data:\n%s\n", config_out.c_str());
    return 0;
}

int tw_resource_mgr::configure_meta_data_storage(std::string& config_text, std::string& node_type,
                                                 std::string& vg_name, std::string& pv_list) {
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
    if (rc != 0) {
        take_failures(config.get_failures());
        fail(tag, "storage config init failed");
        return rc;
    }
    rc = config.read_config_data(config_text);
    if (rc != 0) {
        take_failures(config.get_failures());
        fail(tag, "reading storage config data failed");
        return rc;
    }
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
    if (!node_type.empty() && write_reg_key(tag, kNodeTypeKey, node_type) != 0) return 1;
    // The group recorded is the one just built, so that a later teardown
    // finds it whatever the document named it.
    if (!vg_name.empty() && write_reg_key(tag, kMetadataVgKey, config.get_vg().get_name()) != 0) return 1;
    log_.logMessage(tag, 0, "configure meta data storage completed.");
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
    if (rc != 0) {
        take_failures(config.get_failures());
        fail(tag, "reading storage config data failed");
        return rc;
    }
    if (!disks_can_take(tag, config, "", {})) return 1;
    rc = build_or_clean_up(tag, config, "configure meta data storage failed");
    if (rc != 0) return rc;
    log_.logMessage(tag, 0, "configure meta data storage completed.");
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
    if (rc != 0) {
        take_failures(lvm.get_failures());
        fail(tag, " VG configure failed");
        return rc;
    }
    ZUSLEEP_InTeRnAl(kDeviceSettleMs);
    rc = fsm.configure_fs(config.get_fs_list());
    if (rc != 0) {
        take_failures(fsm.get_failures());
        fail(tag, "fs configure failed");
        return rc;
    }
    rc = fsm.configure_fs_mount(config.get_fs_mount_list());
    if (rc != 0) {
        take_failures(fsm.get_failures());
        fail(tag, "fs mount configure failed");
        return rc;
    }
    rc = update_meta_data_pv_registry_entry(lvm.get_vg().get_pv_list());
    if (rc != 0) {
        fail(tag, "update meta data pv registry entry failed");
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
    if (rc != 0) {
        take_failures(fsm.get_failures());
        fail(tag, "fs mount unconfigure  failed");
        return rc;
    }
    tw_lvm lvm(config.get_vg());
    rc = lvm.unconfigure_vg();
    if (rc != 0) {
        take_failures(lvm.get_failures());
        fail(tag, "VG unconfig failed");
        return rc;
    }
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
            log_.logMessage(tag, 0, "leaving [%s] mounted: [%s] is neither a volume of [%s] nor stamped by this node",
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

int tw_resource_mgr::clean_up_failed_configure(tw_md_storage_config& config, const tw_lvm& built,
                                               tw_fsm& fsm) {
    const char* tag = "tw_resource_mgr::unconfigure_meta_data_storage_internal";
    // Exactly what this run did is undone, newest first: its fstab entries
    // (a line naming a volume about to be removed would be waited for at
    // boot), its mounts (paths mounted before the call were never mounted by
    // it and stay), then the group if it made it, then the labels it wrote.
    // What was there before the call stays as it was.
    if (undo_fstab_changes(tag, fsm) != 0) return 1;
    const auto& mounted = fsm.mounted_paths();
    for (auto it = mounted.rbegin(); it != mounted.rend(); ++it) {
        if (fsm.umount_cmd(*it) != 0) {
            take_failures(fsm.get_failures());
            fail(tag, "fs mount unconfigure  failed");
            return 1;
        }
    }
    if (built.created_vg()) {
        tw_lvm group(config.get_vg());
        int rc = group.remove_vg();
        if (rc != 0) {
            take_failures(group.get_failures());
            fail(tag, "VG unconfig failed");
            return rc;
        }
    } else {
        log_.logMessage(tag, 0, "vg [%s] was not created by this configure, leaving it alone",
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
    if (rc != 0) {
        take_failures(lvm.get_failures());
        fail(tag, "VG unconfig failed");
        return rc;
    }
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
            log_.logMessage(tag, 0, "fstab entry for [%s] undone, %zu earlier entr%s put back", it->path.c_str(),
                            it->replaced.size(), it->replaced.size() == 1 ? "y" : "ies");
        }
    } catch (const TsException&) {
        fail(tag, "fstab entries of this configure could not be undone");
        return 1;
    }
    return 0;
}

int tw_resource_mgr::unconfigure_meta_data_storage(std::string& node_type, std::string& vg_name,
                                                   std::string& pv_list) {
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
        log_.logMessage("tw_resource_mgr::unconfigure_meta_data_storage", 0, "skipping cleanup no old VG or PV found");
        return 0;
    }
    return tear_down_earlier(node_type, vg, disks);
}

int tw_resource_mgr::find_earlier_storage(const std::string& vg_name, const std::string& pv_list, std::string& vg,
                                          std::list<std::string>& disks) {
    const char* tag = "tw_resource_mgr::unconfigure_meta_data_storage";
    vg = vg_name;
    if (vg.empty() && tsaf_utils::get_reg_key(kMetadataVgKey, vg) != 0) {
        fail(tag, "reading reg key failed for [%s]", kMetadataVgKey);
        return 1;
    }
    disks = split_commas(pv_list);
    if (disks.empty()) {
        std::string uuids;
        if (tsaf_utils::get_reg_key(kMetadataPvKey, uuids) != 0) {
            fail(tag, "reading reg key failed for [%s]", kMetadataPvKey);
            return 1;
        }
        int rc = create_disk_list(uuids, disks);
        if (rc != 0) {
            fail(tag, "create disk list failed");
            return rc;
        }
    }
    return 0;
}

int tw_resource_mgr::tear_down_earlier(std::string& node_type, const std::string& vg,
                                       const std::list<std::string>& disks) {
    const char* tag = "tw_resource_mgr::unconfigure_meta_data_storage";
    // The mounts undone are the default mount paths of the node type and
    // platform; the disks are the earlier group's. Only the paths matter here,
    // so a layout that could not be built still names them.
    tw_md_storage_config config;
    int rc = config.init(node_type);
    if (rc != 0) {
        take_failures(config.get_failures());
        fail(tag, "storage config init failed");
        return rc;
    }
    rc = config.create_layout_as_set(disks);
    if (rc != 0) {
        take_failures(config.get_failures());
        fail(tag, "creating storage config data failed");
        return rc;
    }
    config.get_vg().set_name(vg);
    rc = unconfigure_meta_data_storage_internal(config);
    if (rc != 0) {
        fail(tag, "unconfigure meta data  storage failed");
        return rc;
    }
    return 0;
}

int tw_resource_mgr::create_disk_list(std::string& uuid_text, std::list<std::string>& disks) {
    operation op(*this);
    const char* tag = "tw_resource_mgr::create_disk_list";
    tw_lvm lvm;
    std::list<tw_pv> scanned;
    int rc = lvm.scan_pv(scanned);
    if (rc != 0) {
        take_failures(lvm.get_failures());
        fail(tag, "PV scan failed");
        return rc;
    }
    for (const auto& uuid : split_commas(uuid_text))
        for (const auto& pv : scanned)
            if (pv.get_uuid() == uuid) disks.push_back(pv.get_name());
    return 0;
}

int tw_resource_mgr::update_meta_data_pv_registry_entry(std::list<tw_pv>& pvs) {
    operation op(*this);
    std::string joined;
    bool first = true;
    for (const auto& pv : pvs) {
        if (!first) joined += ",";
        joined += pv.get_uuid();
        first = false;
    }
    return write_reg_key("tw_resource_mgr::update_meta_data_pv_registry_entry", kMetadataPvKey, joined);
}

int tw_resource_mgr::get_recorded_storage(std::string& node_type, std::string& vg_name, std::string& pv_uuids) {
    node_type.clear();
    vg_name.clear();
    pv_uuids.clear();
    tsaf_utils::get_reg_key(kNodeTypeKey, node_type);
    tsaf_utils::get_reg_key(kMetadataPvKey, pv_uuids);
    return tsaf_utils::get_reg_key(kMetadataVgKey, vg_name) == 0 ? 0 : 1;
}
