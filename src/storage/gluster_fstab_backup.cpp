// The backup of the node's gluster mounts on its data disks: one "fstab-bkp"
// file in the root of each data disk that holds a brick of the volume, so that
// a reinstalled node finds which volumes it mounted.
//
// One line a mount: "host:volume mount-path glusterfs options 0 0". Lines are
// only ever appended. Blanks, tabs, line breaks and backslashes inside a field
// are written as fstab writes them (\040, \011, \012, \134).

#include <tidewall/tw_storage.h>

#include "foundation/log/log_level.h"
#include "foundation/mount/ts_mnt_parser.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/text/lines.h"

#include <vector>

using tidewall::mount_table::escape_field;
using tidewall::mount_table::unescape_field;

namespace {

const char* const kBackupFile = "fstab-bkp";

// The data disk's root of a brick directory: the path up to its "tw_brick"
// component (/tw/disk1/tw_brick gives /tw/disk1/). Empty when the directory
// has no such component.
std::string disk_root_of(const std::string& brick_dir) {
    const std::string component = "/tw_brick";
    for (size_t pos = brick_dir.find(component); pos != std::string::npos; pos = brick_dir.find(component, pos + 1)) {
        size_t end = pos + component.size();
        if (end == brick_dir.size() || brick_dir[end] == '/') return brick_dir.substr(0, pos + 1);
    }
    return "";
}

std::string backup_line(const gluster_vol_mount_info& m) {
    // A mount without options is written "defaults": an empty field would shift
    // the dump field into the options when the line is read back.
    std::string options = m.mnt_opts.empty() ? "defaults" : m.mnt_opts;
    return escape_field(m.host_name) + ":" + escape_field(m.vol_name) + " " + escape_field(m.mnt_path) + " glusterfs " +
           escape_field(options) + " 0 0\n";
}

}  // namespace

int tw_storage::backup_gluster_remote_vol_mount_info(std::string& volume, gluster_vol_mount_info& rec) {
    const char* tag = "tw_storage::backup_gluster_remote_vol_mount_info";
    std::list<std::string> dirs;
    if (get_mount_path_list(volume, dirs) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "failed to get data disk list");
        return 1;
    }
    const std::string line = backup_line(rec);
    for (const auto& dir : dirs) {
        std::string root = disk_root_of(dir);
        if (root.empty()) {
            log_.logMessage(tag, tidewall::log_level::failure, "not a data disk");
            return 1;
        }
        std::string file = root + kBackupFile;
        int rc = tidewall::file_io::append(tidewall::host::path(file), line);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "cannot create file [%s] error [%d]", file.c_str(), rc);
            return 1;
        }
        log_.logMessage(tag, tidewall::log_level::step, "Recorded gluster mount [%s:%s] in [%s]", rec.host_name.c_str(),
                        rec.vol_name.c_str(), file.c_str());
    }
    return 0;
}

int tw_storage::get_gluster_remote_vols_mount_info_from_bkp(std::string& volume,
                                                            std::list<gluster_vol_mount_info>& list) {
    const char* tag = "tw_storage::get_gluster_remote_vols_mount_info_from_bkp";
    std::list<std::string> dirs;
    if (get_mount_path_list(volume, dirs) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "failed to get data disk list");
        return 1;
    }
    std::string content;
    bool opened = false;
    for (const auto& dir : dirs) {
        std::string root = disk_root_of(dir);
        if (root.empty()) {
            log_.logMessage(tag, tidewall::log_level::failure, "not a data disk");
            return 1;
        }
        std::string file = root + kBackupFile;
        int rc = tsaf_utils::read(file, content);
        if (rc == 0) {
            opened = true;
            log_.logMessage(tag, tidewall::log_level::step, "Reading gluster mounts from [%s]", file.c_str());
            break;
        }
        log_.logMessage(tag, tidewall::log_level::failure, "file [%s] not found error [%d]", file.c_str(), rc);
    }
    if (!opened) {
        log_.logMessage(tag, tidewall::log_level::failure, "bkp file not found on data disk");
        return 0;
    }
    for (const auto& line : tidewall::text::split_lines(content)) {
        std::vector<std::string> fields;
        tsaf_utils::tokenize(line.c_str(), " \t", fields);
        // A line cut short (the disk filled up, the node lost power) names no whole mount.
        if (fields.size() < 4) continue;
        gluster_vol_mount_info m;
        if (tsaf_utils::get_name_value_pair(fields[0], m.host_name, m.vol_name) != 0) continue;
        m.host_name = unescape_field(m.host_name);
        m.vol_name = unescape_field(m.vol_name);
        m.mnt_path = unescape_field(fields[1]);
        m.mnt_opts = unescape_field(fields[3]);
        log_.logMessage(tag, tidewall::log_level::detail, "host_name [%s] vol_name [%s] mnt_path[%s] mnt_opts[%s]",
                        m.host_name.c_str(), m.vol_name.c_str(), m.mnt_path.c_str(), m.mnt_opts.c_str());
        list.push_back(m);
    }
    return 0;
}
