// Mounting and unmounting, and what is mounted where.

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_process.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/status.h"
#include "foundation/error/throw_error.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/mount_check.h"
#include "foundation/mount/ts_mnt_parser.h"

using tidewall::shell_quote;

int tw_storage::unmount(std::string path) {
    tidewall::call_scope scope;  // the reason of a failure is this call's
    const char* tag = "tw_storage::unmount";
    std::string cmd = "umount  " + shell_quote(path);
    log_.logMessage(tag, tidewall::log_level::step, "unmount command [%s]", cmd.c_str());
    std::string out, err;
    if (TsProcess::system(cmd, &out, &err, 0, false) == 0) return 0;
    log_.logMessage(tag, tidewall::log_level::failure, "unmount command [%s] failed with error [%s]", cmd.c_str(),
                    err.c_str());
    tidewall::throw_storage_error(tag, cmd + " failed");
}

int tw_storage::is_mounted(std::string path, std::string& blkdev, std::string& fstype,
                           std::list<std::string>& options) {
    return tsaf_utils::is_mounted(path, blkdev, fstype, options);
}

int tw_storage::get_blk_dev(std::string path, std::string fstype, std::string& blkdev) {
    const char* tag = "tw_storage::get_blk_dev";
    std::string dev, type;
    std::list<std::string> options;
    if (is_mounted(path, dev, type, options) == 1) {
        if (type == fstype) {
            blkdev = dev;
            return 0;
        }
        log_.logMessage(tag, tidewall::log_level::step,
                        "Blkdev [%s] currently mounted at [%s] through a different file system [%s]", dev.c_str(),
                        path.c_str(), type.c_str());
        tidewall::throw_storage_error(tag, path + " mounted through different file system " + type);
    }
    log_.logMessage(tag, tidewall::log_level::step, "No blkdev currently mounted at [%s]", path.c_str());
    tidewall::throw_storage_error(tag, path + " No blkdev currently mounted at " + path);
}

int tw_storage::mount(std::string path, std::string blkdev, std::string fstype, std::string options) {
    tidewall::call_scope scope;  // the reason of a failure is this call's
    const char* tag = "tw_storage::mount";
    std::string cmd = "mount -t " + shell_quote(fstype);
    if (!options.empty()) cmd += "  -o " + shell_quote(options);
    cmd += " " + shell_quote(blkdev) + " " + shell_quote(path);
    log_.logMessage(tag, tidewall::log_level::trace, "Mount command [%s]", cmd.c_str());
    std::string out, err;
    if (TsProcess::system(cmd, &out, &err, TsProcess::kMountTimeLimitS, false) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Mount command [%s] failed with error [%s]", cmd.c_str(),
                        err.c_str());
        return -1;
    }
    // With nofail, mount(8) exits 0 for a missing device: only the mount table
    // tells whether the path now holds the device.
    if (!tidewall::mount_check::is_mount_of(path, blkdev)) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Mount command [%s] exited 0 but [%s] is not mounted at [%s]", cmd.c_str(), blkdev.c_str(),
                        path.c_str());
        return -1;
    }
    return 0;
}

int tw_storage::mount(std::string path) {
    tidewall::call_scope scope;  // the reason of a failure is this call's
    const char* tag = "tw_storage::mount";
    std::string cmd = "mount " + shell_quote(path);
    log_.logMessage(tag, tidewall::log_level::step, "Mount command [%s]", cmd.c_str());
    std::string out, err;
    if (TsProcess::system(cmd, &out, &err, TsProcess::kMountTimeLimitS, false) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Mount command [%s] failed with error [%s]", cmd.c_str(),
                        err.c_str());
        return -1;
    }
    if (!tidewall::mount_check::is_mount_point(path)) {
        log_.logMessage(tag, tidewall::log_level::failure, "Mount command [%s] exited 0 but nothing is mounted at [%s]",
                        cmd.c_str(), path.c_str());
        return -1;
    }
    return 0;
}

int tw_storage::get_backing_dev(mnt_path_type kind, std::string& blkdev) {
    const char* tag = "tw_storage::get_backing_dev";
    std::string path;
    try {
        get_mnt_path(kind, path);
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::failure, "Unsupported mount path");
        return -1;
    }
    std::list<TsMntInfo> entries;
    TsMntParser(tidewall::host::system_paths::mtab).ParseMountPointInfo(entries);
    for (const auto& e : entries) {
        if (e.GetMountPoint() != path) continue;
        blkdev = e.GetBackingDevice();
        log_.logMessage(tag, tidewall::log_level::step, "Found a device [%s] currently mounted at [%s]", blkdev.c_str(),
                        path.c_str());
        return 0;
    }
    return -1;
}

int tw_storage::get_backing_device_for_partition(std::string partition, std::string& disk) {
    const char* tag = "tw_storage::get_backing_device_for_partition";
    std::string cmd = "lsblk -no pkname " + shell_quote(partition);
    std::string out, err;
    int rc = TsProcess::system(cmd, &out, &err, 0, false);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to retrieve backing device for [%s] failed with error [%s]", cmd.c_str(), err.c_str());
        return rc;
    }
    out = tsaf_utils::trim(out);
    if (!out.empty()) disk = "/dev/" + out;
    return 0;
}

extern "C" int get_ddb_backing_dev(std::string& blkdev) {
    tw_storage storage;
    return storage.get_backing_dev(tw_storage::MNT_PATH_DDB, blkdev);
}
