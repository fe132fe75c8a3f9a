// Maldor stamps: which data drives serve the Maldor storage service, for which
// cluster, and the cluster's node list recorded on every data drive.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "foundation/text/comma_list.h"

#include <vector>

namespace {

size_t count_tokens(const std::string& list) {
    return tidewall::text::split_commas(list, tidewall::text::empty_items::drop).size();
}

}  // namespace

bool tw_storage::is_maldor_data_drive(std::string mnt_path, std::string& cluster) {
    const char* tag = "tw_storage::is_maldor_data_drive";
    std::string value;
    if (tsaf_utils::getextendedattribute(mnt_path, kMaldorClusterStamp, value) != 0) {
        log_.logMessage(tag, tidewall::log_level::step,
                        "Directory [%s] does not have the trusted.tsaf2cluster attribute set on it", mnt_path.c_str());
        return false;
    }
    cluster = value;
    log_.logMessage(tag, tidewall::log_level::step, "Directory [%s] has maldor attributes set on it", mnt_path.c_str());
    return true;
}

int tw_storage::stamp_maldor_data_drive(std::string mnt_path, std::string cluster) {
    const char* tag = "tw_storage::stamp_maldor_data_drive";
    log_.logMessage(tag, tidewall::log_level::step, "Setting %s attribute on %s\n", kMaldorClusterStamp,
                    mnt_path.c_str());
    int rc = setextendedattribute(mnt_path, kMaldorClusterStamp, cluster);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to stamp %s with a id of %s\n", kMaldorClusterStamp,
                        cluster.c_str());
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully stamped %s attr on %s", kMaldorClusterStamp,
                    mnt_path.c_str());
    return rc;
}

int tw_storage::stamp_maldor_data_drives(std::string cluster) {
    const char* tag = "tw_storage::stamp_maldor_data_drives";
    std::list<free_space_info> drives;
    enumerate_data_drives(drives, false);
    for (const auto& d : drives) {
        int rc = stamp_maldor_data_drive(d.mnt_path, cluster);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::step,
                            "Failed to set maldor extended attributes for mount path %s", d.mnt_path.c_str());
            return rc;
        }
    }
    return 0;
}

int tw_storage::remove_maldor_xattrs(std::string mnt_path) {
    const char* tag = "tw_storage::remove_maldor_xattrs";
    log_.logMessage(tag, tidewall::log_level::step,
                    "Will remove extended attributes related to maldor vdisk from the mount path %s\n",
                    mnt_path.c_str());
    int rc = removeextendedattribute(mnt_path, kMaldorClusterStamp);
    if (rc != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to remove stamp %s on mount path %s",
                        kMaldorClusterStamp, mnt_path.c_str());
    else
        log_.logMessage(tag, tidewall::log_level::step, "Successfully removed stamp %s from mount path %s",
                        kMaldorClusterStamp, mnt_path.c_str());
    return rc;
}

int tw_storage::stamp_maldor_xattrs() {
    const char* tag = "tw_storage::stamp_maldor_xattrs";
    std::list<free_space_info> drives;
    enumerate_data_drives(drives, false);
    if (drives.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "No mounted data drives found.");
        return -1;
    }
    size_t existing = 0;
    std::string value;
    if (getextendedattribute(drives.front().mnt_path, kMaldorNodesStamp, value) >= 0) {
        log_.logMessage(tag, tidewall::log_level::trace, "Existing value of xattr [%s] is [%s].", kMaldorNodesStamp,
                        value.c_str());
        existing = count_tokens(value);
    }
    std::string nodes;
    if (tsaf_utils::get_maldor_cluster_nodes(nodes) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get Maldor nodes.");
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::trace, "Maldor cluster nodes : %s", nodes.c_str());
    // A shorter list is an older view of the cluster: never replace a longer one with it.
    if (count_tokens(nodes) < existing) {
        log_.logMessage(tag, tidewall::log_level::detail,
                        "Cluster nodes value is older than the existing value. Not setting xattr [%s].",
                        kMaldorNodesStamp);
        return 0;
    }
    for (const auto& d : drives) {
        if (setextendedattribute(d.mnt_path, kMaldorNodesStamp, nodes) != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to set extended attribute.");
            return -1;
        }
    }
    return 0;
}

int tw_storage::enumerate_maldor_metadata_drives(std::vector<std::string>& mnt_paths) {
    mnt_paths.clear();
    std::string vg;
    // sArrowfieldMaldorMetaVG: the Maldor metadata volume group.
    if (tsaf_utils::get_reg_key("sArrowfieldMaldorMetaVG", vg) != 0) vg = "maldormetavg";
    std::string prefix = "/dev/" + vg;
    std::list<TsMntInfo> entries;
    TsMntParser(tidewall::host::system_paths::fstab).ParseMountPointInfo(entries);
    for (const auto& e : entries)
        if (e.GetBackingDevice().compare(0, prefix.size(), prefix) == 0) mnt_paths.push_back(e.GetMountPoint());
    return 0;
}
