// The per-disk steps of provisioning: wipe the partition table, make the file
// system (with a chosen UUID or without), read a file system's UUID back, and
// the whole wipe-format-mount-stamp of one disk at a given mount path.

#include <tidewall/tw_storage.h>

#include "foundation/compat/czu_file.h"
#include "foundation/compat/ts_process.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/throw_error.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"
#include "foundation/log/log_level.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

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
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to open block device %s", blkdev.c_str());
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
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to write zeros to block device %s error: %s",
                        blkdev.c_str(), std::strerror(err));
        errno = err;
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::trace, "Successfully wiped partition table on block device %s",
                    blkdev.c_str());
    return 0;
}

namespace {

// Runs a mkfs command line of the format operations with their shared messages.
int run_mkfs(tw_debug& log, const char* tag, const std::string& cmd) {
    log.logMessage(tag, tidewall::log_level::trace, "Filesystem will be created using command %s", cmd.c_str());
    std::string out, err;
    int rc = TsProcess::system(cmd, &out, &err, TsProcess::kMkfsTimeLimitS, false);
    if (rc != 0)
        log.logMessage(tag, tidewall::log_level::failure, "command [%s] failed with error [%s]", cmd.c_str(),
                       err.c_str());
    return rc;
}

// A file-system UUID as the tools print it: hex digits and dashes (a FAT
// volume id is 02DC-E00F), nothing else.
bool looks_like_fs_uuid(const std::string& v) {
    return !v.empty() && v.find_first_not_of("0123456789abcdefABCDEF-") == std::string::npos &&
           v.find_first_not_of("-") != std::string::npos;
}

}  // namespace

int tw_storage::format_blkdev(std::string blkdev, std::string fstype) {
    const char* tag = "tw_storage::format_blkdev";
    log_.logMessage(tag, tidewall::log_level::trace, "Request to create %s filesystem on block device  %s",
                    fstype.c_str(), blkdev.c_str());
    std::string cmd = "echo y | mkfs -t " + shell_quote(fstype) + " ";
    if (fstype == "xfs") cmd += "-f ";
    cmd += shell_quote(blkdev);
    int rc = run_mkfs(log_, tag, cmd);
    if (rc != 0) return rc;
    log_.logMessage(tag, tidewall::log_level::trace, "Successfully created %s filesystem on block device %s",
                    fstype.c_str(), blkdev.c_str());
    return 0;
}

int tw_storage::format_blkdev_with_uuid(const std::string& blkdev, const std::string& fstype, const std::string& uuid) {
    const char* tag = "tw_storage::format_blkdev_with_uuid";
    log_.logMessage(tag, tidewall::log_level::trace,
                    "Request to create [%s] filesystem on block device [%s] with uuid [%s]", fstype.c_str(),
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
    log_.logMessage(tag, tidewall::log_level::trace,
                    "Successfully created [%s] filesystem on block device [%s] with uuid [%s]", fstype.c_str(),
                    blkdev.c_str(), uuid.c_str());
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
        log_.logMessage(tag, tidewall::log_level::failure, "Filesystem [%s] not supported", fstype.c_str());
        tidewall::throw_storage_error(tag, "Filesystem not supported");
    }
    log_.logMessage(tag, tidewall::log_level::step, "UUID will be extracted using command %s", cmd.c_str());
    std::string out, err;
    if (TsProcess::system(cmd, &out, &err, 0, false) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Command [%s] failed error [%s]", cmd.c_str(), err.c_str());
        tidewall::throw_storage_error(tag, cmd + " failed");
    }
    // The pipeline's status is that of its last command: a blank or missing
    // device gives status 0 and no UUID, which is no success.
    std::string value = tsaf_utils::trim(out);
    if (!looks_like_fs_uuid(value)) {
        log_.logMessage(tag, tidewall::log_level::failure, "Command [%s] gave no file-system UUID for [%s]: [%s]",
                        cmd.c_str(), blkdev.c_str(), value.c_str());
        tidewall::throw_storage_error(tag, cmd + " failed");
    }
    uuid = value;
    return 0;
}

int tw_storage::process_blkdev(std::string blkdev, std::string mnt_path, std::string fstype, std::string options) {
    const char* tag = "tw_storage::process_blkdev";
    log_.logMessage(tag, tidewall::log_level::step,
                    "Request to process block device %s mount point %s file system %s file system mount options %s",
                    blkdev.c_str(), mnt_path.c_str(), fstype.c_str(), options.c_str());
    int rc = wipe_partition_table(blkdev);
    if (rc != 0) {
        int err = errno;
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to wipe partition table on block device  %s error: %s", blkdev.c_str(),
                        std::strerror(err));
        return rc;
    }
    rc = format_blkdev(blkdev, fstype);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to format block device %s", blkdev.c_str());
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
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to create directory %s", mnt_path.c_str());
        return rc;
    }
    rc = mount(mnt_path, blkdev, fstype, options);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to mount block device %s", blkdev.c_str());
        return rc;
    }
    rc = stamp_tsln_xattrs(blkdev, mnt_path, "");
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to stamp block device %s", blkdev.c_str());
        return rc;
    }
    return 0;
}
