// The storage manager's checks behind the storage monitor: DAV volumes (mounted,
// brick daemons on this node online) and the Maldor vdisk (mounted).

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "foundation/text/comma_list.h"
#include "gluster/glfs_admin.h"

#include <vector>

namespace {

bool is_dav_volume(const std::string& name) {
    return name.find("dav_he_vol") != std::string::npos || name.find("dav_vm_vol") != std::string::npos;
}

// The volume a gluster mount source names: "host:/vol", "host:vol" or a
// subdirectory mount "host:/vol/dir" all name vol.
std::string source_volume(const std::string& source) {
    size_t colon = source.find(':');
    if (colon == std::string::npos) return "";
    std::string rest = source.substr(colon + 1);
    if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    return rest.substr(0, rest.find('/'));
}

}  // namespace

int tw_storage::get_davvollist(std::list<std::string>& names) {
    const char* tag = "tw_storage::get_davvollist";
    names.clear();
    int ovirt = probe_hosted_engine();
    if (ovirt == -1) {
        // A hung probe says nothing either way; the DAV volumes went unchecked.
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Hosted engine status did not answer in time. DAV volumes not checked.");
        return -2;
    }
    if (ovirt == 0) {
        log_.logMessage(tag, tidewall::log_level::step,
                        "Ovirt is not enabled on this setup. Skipping data collection for DAV volumes.");
        return 0;
    }
    std::list<std::string> all;
    try {
        std::list<std::string> unused;
        glfs_admin admin(unused);
        all = admin.scanned_volumes();
    } catch (const TsException& e) {
        // No listing is no answer, not "no DAV volume": the caller must know.
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to scan gluster volumes error [%s]",
                        e.formatError().c_str());
        return -1;
    }
    for (const auto& name : all) {
        if (is_dav_volume(name))
            names.push_back(name);
        else
            log_.logMessage(tag, tidewall::log_level::dump, "Non DAV gluster volume: %s", name.c_str());
    }
    return 0;
}

int tw_storage::davvol_ismounted(const std::string& volume, bool& mounted) {
    const char* tag = "davvol_ismounted";
    mounted = false;
    std::list<TsMntInfo> entries;
    TsMntParser(tidewall::host::system_paths::mtab).ParseMountPointInfo(entries);
    for (const auto& e : entries) {
        // The volume the source names, not any source that holds the name:
        // dav_vm_vol_2 mounted does not make dav_vm_vol mounted.
        if (source_volume(e.GetBackingDevice()) != volume) continue;
        log_.logMessage(tag, tidewall::log_level::detail,
                        "DAV volume [%s] with backing device [%s] found mounted at [%s].", volume.c_str(),
                        e.GetBackingDevice().c_str(), e.GetMountPoint().c_str());
        mounted = true;
    }
    log_.logMessage(tag, tidewall::log_level::detail, "DAV volume [%s] mount status - %s", volume.c_str(),
                    tsaf_utils::booltostr(mounted).c_str());
    return 0;
}

int tw_storage::davvol_brickd_check(const std::string& volume, bool& online) {
    const char* tag = "tw_storage::davvol_brickd_check";
    online = true;
    std::string hostname, address;
    if (tidewall::host::current().host_name(hostname) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get hostname.");
        return -1;
    }
    if (tsaf_utils::resolve_hname(hostname, address) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to resolve hostname [%s]", hostname.c_str());
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::detail, "Extracting brick daemon status for volume [%s]", volume.c_str());
    try {
        glfs_admin spare;
        glfs_admin& admin = glfs_ ? *glfs_ : spare;
        glfs_volume vol;
        // A volume gluster cannot tell about (busy past the retry time, no
        // answer) is a check that did not run: neither online nor offline.
        if (admin.extract_volume_info(volume, vol, true) != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Brick daemon check for volume [%s] could not run",
                            volume.c_str());
            return -2;
        }
        std::list<glfs_brick> bricks;
        vol.get_brick_list(bricks);
        for (auto& brick : bricks) {
            // This node's bricks: named by this host's name or by any other name
            // of this node (the storage network's, for one).
            std::string brick_address;
            bool local =
                (tsaf_utils::resolve_hname(brick.get_host_name(), brick_address) == 0 && brick_address == address) ||
                is_loop_back_hname(brick.get_host_name()) == 1;
            if (!local) continue;
            vol.extract_brick_details(brick);
            log_.logMessage(tag, tidewall::log_level::detail, "Brick daemon status for brick [%s] is : %s",
                            brick.get_brick_path().c_str(), tsaf_utils::booltostr(brick.get_is_online()).c_str());
            // Every local brick counts: one daemon down is a volume in trouble,
            // whatever the others say.
            if (!brick.get_is_online()) online = false;
        }
    } catch (const std::exception& e) {
        // Brick details half read are no verdict: the check did not run, not
        // "every brick online".
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to extract brick details for volume [%s]: %s",
                        volume.c_str(), e.what());
        online = true;
        return -2;
    }
    return 0;
}

std::string tw_storage::get_spvdisk_name() {
    std::string list;
    if (tsaf_utils::get_reg_key("sVDiskList", list) != 0) return "";
    auto items = tidewall::text::split_commas(list, tidewall::text::empty_items::drop);
    return items.empty() ? "" : items.front();
}

int tw_storage::get_maldor_vdisk_mount_status(const std::string& vdisk, bool& mounted) {
    const char* tag = "tw_storage::get_maldor_vdisk_mount_status";
    mounted = false;
    std::string path = get_maldor_vdisk_mntpath_prefix() + "/" + vdisk;
    log_.logMessage(tag, tidewall::log_level::detail, "Vdisk [%s] mount check at path [%s].", vdisk.c_str(),
                    path.c_str());
    std::string dev, fstype;
    std::list<std::string> options;
    mounted = is_mounted(path, dev, fstype, options) == 1;
    if (!mounted)
        log_.logMessage(tag, tidewall::log_level::failure, "Vdisk [%s] not mounted at mount path [%s]", vdisk.c_str(),
                        path.c_str());
    return 0;
}

int tw_storage::enumerate_maldor_vdisk_mpaths(std::list<maldor_vdisk_mount_info>& list) {
    const char* tag = "tw_storage::enumerate_maldor_vdisk_mpaths";
    std::list<TsMntInfo> entries;
    if (TsMntParser(tidewall::host::system_paths::fstab).ParseMountPointInfo(entries) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "failed to open mount config file");
        return 1;
    }
    std::string prefix = get_maldor_vdisk_mntpath_prefix();
    for (const auto& e : entries) {
        if (e.GetMountPoint().compare(0, prefix.size(), prefix) != 0) continue;
        const std::string& source = e.GetBackingDevice();
        size_t colon = source.find(':');
        maldor_vdisk_mount_info m;
        m.host_name = source.substr(0, colon);
        m.vdisk_name = colon == std::string::npos || colon + 2 > source.size() ? "" : source.substr(colon + 2);
        m.mnt_path = e.GetMountPoint();
        m.mnt_opts = tsaf_utils::create_file_sys_args(e.MountOptions());
        log_.logMessage(tag, tidewall::log_level::detail, "host_name [%s] vol_name [%s] mnt_path[%s] mnt_opts[%s]",
                        m.host_name.c_str(), m.vdisk_name.c_str(), m.mnt_path.c_str(), m.mnt_opts.c_str());
        list.push_back(m);
    }
    return 0;
}
