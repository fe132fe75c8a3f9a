// Block-device provisioning: a new, empty disk becomes a data mount path of the
// node. Wipe its partition table, make the data-path file system, mount it at
// the next free numbered mount path and stamp it as the appliance's own.

#include <tidewall/tw_storage.h>

#include "foundation/blkdevmgr.h"
#include "foundation/czu_file.h"
#include "foundation/host_backend.h"
#include "foundation/mount_check.h"
#include "foundation/shell_quote.h"
#include "foundation/ts_process.h"
#include "foundation/tsaf_utils.h"
#include "storage/datapath_prefix.h"

#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

using tidewall::shell_quote;

int tw_storage::wipe_partition_table(std::string blkdev) {
    const char* tag = "tw_storage::wipe_partition_table";
    struct stat st {};
    int err = ::stat(tidewall::host::path(blkdev).c_str(), &st) == 0 ? 0 : errno;
    if (err == 0 && !S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) err = ENOTBLK;
    CZuFile file;
    if (err == 0) {
        // O_EXCL: the kernel refuses a block device that is mounted or held, so
        // a disk in use is never wiped.
        CZuError e = file.Open(blkdev, O_RDWR | O_EXCL, 0);
        err = e.GetError();
    }
    if (err != 0) {
        log_.logMessage(tag, -1, "Failed to open block device %s", blkdev.c_str());
        errno = err;
        return -1;
    }
    char zeros[512] = {};
    unsigned done = 0;
    CZuError written = file.Write(zeros, sizeof zeros, &done);
    CZuError closed = file.Close();
    // A wipe that did not reach the device is no wipe.
    if (written.IsFailure() || done != sizeof zeros || closed.IsFailure()) {
        err = written.IsFailure() ? written.GetError() : (closed.IsFailure() ? closed.GetError() : EIO);
        log_.logMessage(tag, -1, "Failed to write zeros to block device %s error: %s", blkdev.c_str(),
                        std::strerror(err));
        errno = err;
        return -1;
    }
    log_.logMessage(tag, 2, "Successfully wiped partition table on block device %s", blkdev.c_str());
    return 0;
}

namespace {

// Runs a mkfs command line of the format operations with their shared messages.
int run_mkfs(tw_debug& log, const char* tag, const std::string& cmd) {
    log.logMessage(tag, 2, "Filesystem will be created using command %s", cmd.c_str());
    std::string out, err;
    int rc = TsProcess::system(cmd, &out, &err, TsProcess::kMkfsTimeLimitS, false);
    if (rc != 0) log.logMessage(tag, -1, "command [%s] failed with error [%s]", cmd.c_str(), err.c_str());
    return rc;
}

// A file-system UUID as the tools print it: hex digits and dashes (a FAT
// volume id is 02DC-E00F), nothing else.
bool looks_like_fs_uuid(const std::string& v) {
    return !v.empty() && v.find_first_not_of("0123456789abcdefABCDEF-") == std::string::npos &&
           v.find_first_not_of("-") != std::string::npos;
}

} // namespace

int tw_storage::format_blkdev(std::string blkdev, std::string fstype) {
    const char* tag = "tw_storage::format_blkdev";
    log_.logMessage(tag, 2, "Request to create %s filesystem on block device  %s", fstype.c_str(), blkdev.c_str());
    std::string cmd = "echo y | mkfs -t " + shell_quote(fstype) + " ";
    if (fstype == "xfs") cmd += "-f ";
    cmd += shell_quote(blkdev);
    int rc = run_mkfs(log_, tag, cmd);
    if (rc != 0) return rc;
    log_.logMessage(tag, 2, "Successfully created %s filesystem on block device %s", fstype.c_str(), blkdev.c_str());
    return 0;
}

int tw_storage::format_blkdev_with_uuid(const std::string& blkdev, const std::string& fstype,
                                        const std::string& uuid) {
    const char* tag = "tw_storage::format_blkdev_with_uuid";
    log_.logMessage(tag, 2, "Request to create [%s] filesystem on block device [%s] with uuid [%s]", fstype.c_str(),
                    blkdev.c_str(), uuid.c_str());
    std::string cmd = "echo y | mkfs -t " + shell_quote(fstype) + " ";
    if (fstype == "xfs") cmd += "-f ";
    // mkfs.ext4 reads -m as the reserved-blocks percentage and fails on
    // "uuid=": the ext family takes the UUID with -U.
    if (fstype.compare(0, 3, "ext") == 0)
        cmd += "-U " + shell_quote(uuid) + " " + shell_quote(blkdev);
    else
        cmd += "-m uuid=" + shell_quote(uuid) + " " + shell_quote(blkdev);
    int rc = run_mkfs(log_, tag, cmd);
    if (rc != 0) return rc;
    log_.logMessage(tag, 2, "Successfully created [%s] filesystem on block device [%s] with uuid [%s]",
                    fstype.c_str(), blkdev.c_str(), uuid.c_str());
    return 0;
}

int tw_storage::extract_filesys_uuid(std::string blkdev, std::string fstype, std::string& uuid) {
    const char* tag = "tw_storage::extract_filesys_uuid";
    std::string dev = shell_quote(blkdev), cmd;
    if (fstype == "xfs") {
        cmd = "xfs_admin -u " + dev + " | awk '{print $3}'";
    } else if (fstype == "ext4") {
        cmd = "dumpe2fs " + dev + " 2>/dev/null | grep \"Filesystem UUID\" | awk '{print $3}'";
    } else if (fstype == "fat") {
        cmd = "blkid " + dev + " | awk '{print $2}' | cut -f 2 -d '=' | tr -d '\"'";
    } else {
        log_.logMessage(tag, -1, "Filesystem [%s] not supported", fstype.c_str());
        throw TsException(tag, "Filesystem not supported", "tw_storage", __LINE__, -1);
    }
    log_.logMessage(tag, 0, "UUID will be extracted using command %s", cmd.c_str());
    std::string out, err;
    if (TsProcess::system(cmd, &out, &err, 0, false) != 0) {
        log_.logMessage(tag, -1, "Command [%s] failed error [%s]", cmd.c_str(), err.c_str());
        throw TsException(tag, cmd + " failed", "tw_storage", __LINE__, -1);
    }
    // The pipeline's status is that of its last command: a blank or missing
    // device gives status 0 and no UUID, which is no success.
    std::string value = tsaf_utils::trim(out);
    if (!looks_like_fs_uuid(value)) {
        log_.logMessage(tag, -1, "Command [%s] gave no file-system UUID for [%s]: [%s]", cmd.c_str(), blkdev.c_str(),
                        value.c_str());
        throw TsException(tag, cmd + " failed", "tw_storage", __LINE__, -1);
    }
    uuid = value;
    return 0;
}

int tw_storage::process_blkdev(std::string blkdev, std::string mnt_path, std::string fstype, std::string options) {
    const char* tag = "tw_storage::process_blkdev";
    log_.logMessage(tag, 0,
                    "Request to process block device %s mount point %s file system %s file system mount options %s",
                    blkdev.c_str(), mnt_path.c_str(), fstype.c_str(), options.c_str());
    int rc = wipe_partition_table(blkdev);
    if (rc != 0) {
        int err = errno;
        log_.logMessage(tag, -1, "Failed to wipe partition table on block device  %s error: %s", blkdev.c_str(),
                        std::strerror(err));
        return rc;
    }
    rc = format_blkdev(blkdev, fstype);
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to format block device %s", blkdev.c_str());
        return rc;
    }
    // A directory that cannot be created fails this disk only; the caller goes
    // on with the next one.
    try {
        rc = mkdir(mnt_path, 0755);
    } catch (const TsException&) {
        rc = -1;
    }
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to create directory %s", mnt_path.c_str());
        return rc;
    }
    rc = mount(mnt_path, blkdev, fstype, options);
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to mount block device %s", blkdev.c_str());
        return rc;
    }
    rc = stamp_tsln_xattrs(blkdev, mnt_path, "");
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to stamp block device %s", blkdev.c_str());
        return rc;
    }
    return 0;
}

int tw_storage::check_datapath_target(std::string& why) {
    // Flavour 255 falls back to the Maldor prefix, whose parent a node of the
    // other flavour does not have: every disk would be wiped and none mounted.
    if (get_sds_type() == SDS_UNKNOWN) {
        why = "the appliance type of this node is not recorded: set registry key sArrowfieldApplianceType "
              "(section Dockwright)";
        return -1;
    }
    std::string prefix = get_datapath_prefix();
    const char* key = get_sds_type() == SDS_GLUSTERFS ? "sTidewallDataPathMountPathPrefix"
                                                       : "sTidewallMaldorDataPathMountPathPrefix";
    size_t slash = prefix.rfind('/');
    std::string parent = slash == std::string::npos || slash == 0 ? "/" : prefix.substr(0, slash);
    struct stat st {};
    if (prefix.empty() || prefix[0] != '/' || ::stat(tidewall::host::path(parent).c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
        why = "the directory [" + parent + "] of the data mount-path prefix [" + prefix +
              "] does not exist: create it or set registry key " + key + " (section Dockwright)";
        return -1;
    }
    return 0;
}

namespace {

// Whether a disk can be mounted at mnt_path: nothing but an empty directory may
// be there, and nothing may be mounted there.
bool mount_path_free(const std::string& mnt_path, std::string& why) {
    struct stat st {};
    if (::lstat(tidewall::host::path(mnt_path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        why = "[" + mnt_path + "] exists and is not a directory";
        return false;
    }
    if (tidewall::mount_check::is_mount_point(mnt_path)) {
        why = "something is already mounted at [" + mnt_path + "]";
        return false;
    }
    return true;
}

} // namespace

int tw_storage::mount_new_blkdev() {
    const char* tag = "tw_storage::mount_new_blkdev";
    std::vector<std::string> failed;
    size_t total = 0;
    try {
        tsaf_blkdevmgr manager;
        std::list<tsaf_blkdev_basic_info> disks;
        if (manager.enumerate_blkdevs(false) != 0 || manager.get_new_disks(disks) != 0) {
            log_.logMessage(tag, 0, "Failed to detect new disks on the server");
            return -1;
        }
        total = disks.size();
        std::string why;
        if (!disks.empty() && check_datapath_target(why) != 0) {
            // Checked before the first wipe: a disk that cannot be mounted
            // afterwards would only have lost what it held.
            log_.logMessage(tag, -1, "New disks cannot become data mount paths: %s", why.c_str());
            for (const auto& disk : disks)
                log_.logMessage(tag, -1, "Block device %s left untouched: %s", disk.get_devpath().c_str(),
                                why.c_str());
            return -1;
        }
        unsigned slot = get_data_mntpath_lastslot();
        std::string options = get_datapath_mount_options();
        std::string fstype = get_datapath_file_system();
        std::string prefix = get_datapath_prefix();
        tidewall::storage::remember_datapath_prefix(prefix);
        for (const auto& disk : disks) {
            ++slot;
            std::string mnt_path = prefix + std::to_string(slot);
            const std::string& dev = disk.get_devpath();
            // A failed disk keeps its slot: a half-provisioned disk may already
            // have created the directory.
            if (!mount_path_free(mnt_path, why)) {
                log_.logMessage(tag, -1, "Failed to process block device %s", dev.c_str());
                log_.logMessage(tag, -1, "Block device %s left untouched: %s", dev.c_str(), why.c_str());
                failed.push_back(dev);
            } else if (process_blkdev(dev, mnt_path, fstype, options) != 0) {
                log_.logMessage(tag, -1, "Failed to process block device %s", dev.c_str());
                log_.logMessage(tag, -1, "Block device %s not provisioned at [%s]: see the step that failed above",
                                dev.c_str(), mnt_path.c_str());
                failed.push_back(dev);
            } else {
                log_.logMessage(tag, 2, "Successfully processed block device %s", dev.c_str());
            }
        }
    } catch (const TsException&) {
        log_.logMessage(tag, 0, "Failed to detect new disks on the server");
        return -1;
    }
    if (failed.empty()) return 0;
    std::string list;
    for (const auto& dev : failed) list += (list.empty() ? "" : " ") + dev;
    log_.logMessage(tag, -1, "[%zu] of [%zu] new disks failed: %s", failed.size(), total, list.c_str());
    return 1;
}

int tw_storage::mount_new_blkdev(tsaf_blkdev_basic_info& disk, std::string& mnt_path) {
    const char* tag = "tw_storage::mount_new_blkdev";
    const std::string& dev = disk.get_devpath();
    try {
        std::string why;
        unsigned slot = get_data_mntpath_lastslot() + 1;
        std::string prefix = get_datapath_prefix();
        tidewall::storage::remember_datapath_prefix(prefix);
        mnt_path = prefix + std::to_string(slot);
        if (check_datapath_target(why) != 0 || !mount_path_free(mnt_path, why)) {
            log_.logMessage(tag, -1, "Block device %s left untouched: %s", dev.c_str(), why.c_str());
            return -1;
        }
        int rc = process_blkdev(dev, mnt_path, get_datapath_file_system(), get_datapath_mount_options());
        if (rc != 0)
            log_.logMessage(tag, -1, "Failed to process block device %s", dev.c_str());
        else
            log_.logMessage(tag, 2, "Successfully processed block device %s", dev.c_str());
        return rc;
    } catch (const TsException&) {
        log_.logMessage(tag, 0, "Failed to process the block device %s", dev.c_str());
        return -1;
    }
}

int tw_storage::mount_new_blkdev_with_uuid(tsaf_blkdev_basic_info& disk, const std::string& uuid,
                                           const std::string& mnt_path) {
    const char* tag = "tw_storage::mount_new_blkdev_with_uuid";
    const std::string& dev = disk.get_devpath();
    std::string fstype, options;
    try {
        fstype = get_datapath_file_system();
        options = get_datapath_mount_options();
        std::string mounted_dev, mounted_type;
        std::list<std::string> mounted_options;
        if (is_mounted(mnt_path, mounted_dev, mounted_type, mounted_options) == 1) {
            log_.logMessage(tag, 0, "blk dev  %s mnt path %s mounted", mounted_dev.c_str(), mnt_path.c_str());
            log_.logMessage(tag, 0, "unmounting mount point %s", mnt_path.c_str());
            unmount(mnt_path);
            log_.logMessage(tag, 0, "old block device %s  unmount succeeded", mounted_dev.c_str());
        }
        std::string cmd = "systemctl daemon-reload";
        log_.logMessage(tag, 0, "command [%s]", cmd.c_str());
        std::string out, err;
        int rc = TsProcess::system(cmd, &out, &err, 0, false);
        if (rc != 0) {
            log_.logMessage(tag, -1, "command [%s] failed with error [%s]", cmd.c_str(), err.c_str());
            return rc;
        }
        rc = wipe_partition_table(dev);
        if (rc != 0) {
            int e = errno;
            log_.logMessage(tag, -1, "Failed to wipe partition table on block device  %s error: %s", dev.c_str(),
                            std::strerror(e));
            return rc;
        }
        rc = format_blkdev_with_uuid(dev, fstype, uuid);
        if (rc != 0) {
            log_.logMessage(tag, -1, "Failed to format block device %s", dev.c_str());
            return rc;
        }
    } catch (const TsException&) {
        log_.logMessage(tag, 0, "Failed to process the block device %s", dev.c_str());
        return -1;
    }

    bool mounted = false;
    for (int attempt = 0; attempt < 2 && !mounted; ++attempt) {
        try {
            std::string mounted_dev, mounted_type;
            std::list<std::string> mounted_options;
            if (is_mounted(mnt_path, mounted_dev, mounted_type, mounted_options) != 1) {
                if (mount(mnt_path, dev, fstype, options) == 0)
                    mounted = true;
                else
                    log_.logMessage(tag, -1, "Failed to mount block device %s retrying...", dev.c_str());
            } else if (mounted_dev != dev) {
                log_.logMessage(tag, -1, "device mounted [%s] expected [%s]", mounted_dev.c_str(), dev.c_str());
                return 1;
            } else {
                mounted = true;
            }
        } catch (const TsException&) {
            log_.logMessage(tag, 0, "Failed to process the block device %s", dev.c_str());
        }
    }
    if (!mounted) {
        log_.logMessage(tag, -1, "Failed to mount block device %s", dev.c_str());
        return 1;
    }
    int rc = stamp_tsln_xattrs(dev, mnt_path, "");
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to stamp block device %s", dev.c_str());
        return rc;
    }
    return 0;
}

bool tw_storage::is_valid_uuid(const std::string& uuid) {
    try {
        boost::uuids::uuid u = boost::uuids::string_generator()(uuid);
        return u.version() != boost::uuids::uuid::version_unknown;
    } catch (...) {
        return false;
    }
}

int tw_storage::survey_new_disks(std::list<tsaf_blkdev_verdict>& verdicts) {
    tsaf_blkdevmgr manager;
    int rc = manager.enumerate_blkdevs(false);
    if (rc != 0) {
        verdicts.clear();
        return rc;
    }
    return manager.survey_disks(verdicts);
}
