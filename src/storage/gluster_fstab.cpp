// The gluster mounts of /etc/fstab: entries whose mount directory lies under
// /tw/glus, split into the serving host and the volume, and sorted into the
// mount this node serves and those served by other nodes.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/ts_mnt_parser.h"

namespace {

const char* const kGlusterMountPrefix = "/tw/glus";

// Host and volume of a mount source "host:/volume". The volume is what follows
// the ':' without its leading '/', so "host:volume" names the same volume.
// A source without ':' is no gluster source.
bool split_source(const std::string& source, std::string& host, std::string& volume) {
    size_t colon = source.find(':');
    if (colon == std::string::npos) return false;
    host = source.substr(0, colon);
    volume = source.substr(colon + 1);
    if (!volume.empty() && volume[0] == '/') volume.erase(0, 1);
    return true;
}

// The gluster mounts of /etc/fstab in file order; false when it cannot be read.
bool read_gluster_mounts(std::list<std::pair<std::string, gluster_vol_mount_info>>& mounts) {
    std::list<TsMntInfo> entries;
    if (TsMntParser(tidewall::host::system_paths::fstab).ParseMountPointInfo(entries) != 0) return false;
    for (const auto& e : entries) {
        if (e.GetMountPoint().compare(0, std::char_traits<char>::length(kGlusterMountPrefix), kGlusterMountPrefix) != 0)
            continue;
        gluster_vol_mount_info info;
        if (!split_source(e.GetBackingDevice(), info.host_name, info.vol_name)) continue;
        info.mnt_path = e.GetMountPoint();
        info.mnt_opts = tsaf_utils::create_file_sys_args(e.MountOptions());
        mounts.emplace_back(e.GetBackingDevice(), info);
    }
    return true;
}

void log_mount(tw_debug& log, const char* tag, const gluster_vol_mount_info& m) {
    log.logMessage(tag, tidewall::log_level::detail, "host_name [%s] vol_name [%s] mnt_path[%s] mnt_opts[%s]",
                   m.host_name.c_str(), m.vol_name.c_str(), m.mnt_path.c_str(), m.mnt_opts.c_str());
}

// The gluster mounts of /etc/fstab with this node's storage host name, asked
// only when there is a mount to compare; 0, or 1 after logging the failure.
int mounts_with_storage_name(tw_storage& storage, tw_debug& log, const char* tag,
                             std::list<std::pair<std::string, gluster_vol_mount_info>>& mounts, std::string& hname) {
    if (!read_gluster_mounts(mounts)) {
        log.logMessage(tag, tidewall::log_level::failure, "failed to open mount config file");
        return 1;
    }
    std::string address;
    if (!mounts.empty() && storage.get_tw_hname(hname, address) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "get sds hostname failed");
        return 1;
    }
    return 0;
}

}  // namespace

void tw_storage::get_info_by_fstab(std::string, std::string& host, std::string& volume) {
    const char* tag = "tw_storage::get_info_by_fstab";
    std::list<std::string> lines;
    if (tsaf_utils::read_file(tidewall::host::system_paths::fstab, lines) != 0) return;
    for (const auto& raw : lines) {
        std::string line = tsaf_utils::trim(raw);
        // Comments name paths too; only entries count.
        if (line.empty() || line[0] == '#' || line.find(kGlusterMountPrefix) == std::string::npos) continue;
        std::string source = line.substr(0, line.find_first_of(" \t"));
        std::string h, rest;
        if (tsaf_utils::get_name_value_pair(source, h, rest) != 0) return;
        host = h;
        volume = rest.empty() ? rest : rest.substr(1);
        log_.logMessage(tag, tidewall::log_level::step, "Extracted hostname and volname from fstab entry");
        log_.logMessage(tag, tidewall::log_level::step, "hostname    [%s]", host.c_str());
        log_.logMessage(tag, tidewall::log_level::step, "volname     [%s]", volume.c_str());
        return;
    }
}

int tw_storage::get_gluster_vols_mount_info(std::list<gluster_vol_mount_info>& list) {
    const char* tag = "tw_storage::get_gluster_vols_mount_info";
    std::list<std::pair<std::string, gluster_vol_mount_info>> mounts;
    if (!read_gluster_mounts(mounts)) {
        log_.logMessage(tag, tidewall::log_level::failure, "failed to open mount config file");
        return 1;
    }
    for (const auto& [source, m] : mounts) {
        list.push_back(m);
        log_mount(log_, tag, m);
    }
    return 0;
}

int tw_storage::get_glus_vol_mount_info(const std::string& volume, gluster_vol_mount_info& rec) {
    const char* tag = "tw_storage::get_glus_vol_mount_info";
    log_.logMessage(tag, tidewall::log_level::detail, "Get mount info for gluster volume [%s]", volume.c_str());
    std::list<std::pair<std::string, gluster_vol_mount_info>> mounts;
    if (!read_gluster_mounts(mounts)) {
        log_.logMessage(tag, tidewall::log_level::failure, "failed to open mount config file");
        return 1;
    }
    // A source naming vol10 contains vol1 as well: only the exact name ends the search.
    for (const auto& [source, m] : mounts) {
        if (source.find(volume) == std::string::npos) continue;
        rec = m;
        log_mount(log_, tag, m);
        if (m.vol_name == volume) return 0;
    }
    return 1;
}

int tw_storage::get_gluster_local_vol_mount_info(gluster_vol_mount_info& rec) {
    const char* tag = "tw_storage::get_gluster_local_vol_mount_info";
    std::list<std::pair<std::string, gluster_vol_mount_info>> mounts;
    std::string hname;
    if (mounts_with_storage_name(*this, log_, tag, mounts, hname) != 0) return 1;
    for (const auto& [source, m] : mounts) {
        if (m.host_name == hname) {
            rec = m;
            log_mount(log_, tag, m);
            return 0;
        }
    }
    return 1;
}

int tw_storage::get_gluster_remote_vols_mount_info(std::list<gluster_vol_mount_info>& list) {
    const char* tag = "tw_storage::get_gluster_remote_vols_mount_info";
    std::list<std::pair<std::string, gluster_vol_mount_info>> mounts;
    std::string hname;
    if (mounts_with_storage_name(*this, log_, tag, mounts, hname) != 0) return 1;
    for (const auto& [source, m] : mounts) {
        if (m.host_name == hname) continue;
        list.push_back(m);
        log_mount(log_, tag, m);
    }
    return 0;
}
