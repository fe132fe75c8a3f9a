// The file-system manager's operations over a storage configuration's lists:
// make the file systems, mount them (never over a path already in use), stamp
// the mount paths, record them in /etc/fstab, and unmount them again.

#include <tidewall/tw_fsm.h>
#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/ts_mnt_parser.h"

namespace {

constexpr int kMountAttempts = 3;

// Mount points are created traversable: a directory left without search
// permission (as a file mode would leave it) locks every non-root service out
// of whatever lies below it when the mount is missing.
constexpr unsigned kMountPointMode = 0755;

}  // namespace

int tw_fsm::configure_fs(std::list<tw_fs>& fs_list) {
    const char* tag = "tw_fsm::configure_fs";
    for (const auto& fs : fs_list) {
        int rc = mkfs_cmd(fs.get_blk_device(), fs.get_fs_type());
        if (rc != 0) {
            fail(tag, "mkfs failed blk dev [%s] fs [%s]", fs.get_blk_device().c_str(), fs.get_fs_type().c_str());
            return rc;
        }
    }
    return 0;
}

int tw_fsm::configure_fs_mount(std::list<tw_fs_mount>& mounts) {
    const char* tag = "tw_fsm::configure_fs_mount";
    int rc = fs_mount(mounts);
    if (rc != 0) {
        fail(tag, "mount failed");
        return rc;
    }
    rc = set_fs_meta_data(mounts);
    if (rc != 0) {
        fail(tag, "set meta data failed");
        return rc;
    }
    rc = update_fstab(mounts);
    if (rc != 0) {
        fail(tag, "add fs tab entryfailed");
        return rc;
    }
    return 0;
}

int tw_fsm::fs_mount(std::list<tw_fs_mount>& mounts) {
    const char* tag = "tw_fsm::fs_mount";
    if (tsaf_utils::systemctl_reload_cmd() != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "systemctl reload failed");
    for (const auto& m : mounts) {
        const std::string& path = m.get_mnt_path();
        int rc = create_dir(path, kMountPointMode);
        if (rc != 0) {
            fail(tag, "mkdir failed [%s]", path.c_str());
            return rc;
        }
        if (is_mounted(path)) {
            fail(tag, "mntpath [%s] is in use", path.c_str());
            return 1;
        }
        bool mounted = false;
        for (int attempt = 0; attempt < kMountAttempts && !mounted; ++attempt) {
            if (is_mounted(path)) {
                mounted = true;
            } else if (mount_cmd(m.get_blk_device(), path, m.get_fs_type(), m.get_fs_args()) == 0) {
                log_.logMessage(tag, tidewall::log_level::step, "Successfully mounted blkdev [%s] on mntpath [%s]",
                                m.get_blk_device().c_str(), path.c_str());
                mounted = true;
            } else {
                fail(tag, "mount failed for blkdev [%s] mntpath [%s]", m.get_blk_device().c_str(), path.c_str());
            }
        }
        if (!mounted) {
            fail(tag, "mount failed");
            return 1;
        }
        // Not mounted when this call looked first: whatever is there now came
        // from its attempts.
        mounted_paths_.push_back(path);
    }
    return 0;
}

int tw_fsm::set_fs_meta_data(std::list<tw_fs_mount>& mounts) {
    const char* tag = "tw_fsm::set_fs_meta_data";
    for (const auto& m : mounts) {
        const std::string& path = m.get_mnt_path();
        int rc = set_xattr_cmd(path, tw_storage::kMntStamp, path);
        if (rc == 0) rc = set_xattr_cmd(path, tw_storage::kTslnStamp, tw_storage::kTslnStampValue);
        if (rc == 0) rc = set_xattr_cmd(path, tw_storage::kBlkdevStamp, "");
        if (rc != 0) {
            fail(tag, "set xattr failed");
            return rc;
        }
    }
    return 0;
}

int tw_fsm::update_fstab(std::list<tw_fs_mount>& mounts) {
    const char* tag = "tw_fsm::update_fstab";
    tw_storage storage;
    for (const auto& m : mounts) {
        int rc = -1;
        try {
            std::string options = storage.get_mount_options(tw_storage::MNT_PATH_DDB);
            // What the rewrite will replace, so that a clean-up can put it back.
            fstab_change change{m.get_mnt_path(), {}};
            std::list<TsMntInfo> before;
            TsMntParser(tidewall::host::system_paths::fstab).ParseMountPointInfo(before);
            bool present = false;
            for (const auto& e : before) {
                if (e.GetMountPoint() != m.get_mnt_path() && e.GetBackingDevice() != m.get_blk_device()) continue;
                present = present || (e.GetMountPoint() == m.get_mnt_path() &&
                                      e.GetBackingDevice() == m.get_blk_device() && e.GetFileSystemType() == "xfs" &&
                                      tsaf_utils::create_file_sys_args(e.MountOptions()) == options);
                change.replaced.push_back(e);
            }
            rc = storage.update_sysconfig_files(m.get_mnt_path(), m.get_blk_device(), "xfs", options,
                                                tidewall::host::system_paths::fstab);
            if (rc == 0 && !present) fstab_changes_.push_back(std::move(change));
        } catch (const TsException&) {
            rc = -1;  // the storage manager has logged why; the file is unchanged
        }
        if (rc != 0) {
            fail(tag, "Failed to update fstab for blkdev [%s] argument with nofail.", m.get_blk_device().c_str());
            return 1;
        }
    }
    return 0;
}

int tw_fsm::unconfigure_fs_mount(std::list<tw_fs_mount>& mounts) {
    const char* tag = "tw_fsm::unconfigure_fs_mount";
    std::list<std::string> mounted;
    int rc = scan_mounted_fs(mounted);
    if (rc != 0) {
        fail(tag, "scan_mounted_fs failed");
        return rc;
    }
    for (const auto& m : mounts) {
        if (!check_fs_mounted(mounted, m.get_mnt_path())) continue;
        rc = umount_cmd(m.get_mnt_path());
        if (rc != 0) {
            fail(tag, "unmount failed");
            return rc;
        }
    }
    return 0;
}

int tw_fsm::scan_mounted_fs(std::list<std::string>& mounted) {
    std::list<TsMntInfo> entries;
    int rc = scan_mounted_fs(entries);
    for (const auto& e : entries) mounted.push_back(e.GetMountPoint());
    return rc;
}

int tw_fsm::scan_mounted_fs(std::list<TsMntInfo>& entries) {
    const char* tag = "tw_fsm::scan_mounted_fs";
    std::list<TsMntInfo> read;
    if (TsMntParser(tidewall::host::system_paths::mtab).ParseMountPointInfo(read) != 0) {
        fail(tag, "failed to open mount config file");
        return 1;
    }
    entries.splice(entries.end(), read);
    return 0;
}

int tw_fsm::check_fs_mounted(std::list<std::string>& mounted, const std::string& path) {
    for (const auto& m : mounted)
        if (m == path) return 1;
    return 0;
}

bool tw_fsm::is_mounted(const std::string& path) {
    const char* tag = "tw_fsm::is_mounted";
    std::list<std::string> mounted;
    if (scan_mounted_fs(mounted) != 0) {
        // Unknown counts as mounted: a path is never mounted over blindly.
        fail(tag, "scan_mounted_fs failed");
        return true;
    }
    return check_fs_mounted(mounted, path) == 1;
}
