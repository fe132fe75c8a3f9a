// A disk made again at a given mount path with a given file-system UUID (a
// drive replaced at its old slot, so that what names the file system by UUID
// still finds it), and the check of such a UUID.

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_process.h"
#include "foundation/error/status.h"
#include "foundation/log/log_level.h"
#include "storage/provisioning_intent.h"

#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid.hpp>

#include <cerrno>
#include <cstring>
#include <stdexcept>

int tw_storage::mount_new_blkdev_with_uuid(tsaf_blkdev_basic_info& disk, const std::string& uuid,
                                           const std::string& mnt_path) {
    tidewall::call_scope call;  // a failure's reason belongs to this call
    const char* tag = "tw_storage::mount_new_blkdev_with_uuid";
    const std::string& dev = disk.get_devpath();
    tidewall::storage::provisioning_hold hold;
    if (!hold.held()) {
        log_.logMessage(tag, tidewall::log_level::failure, "Block device %s left untouched: %s", dev.c_str(),
                        hold.message().c_str());
        return -1;
    }
    std::string fstype, options;
    try {
        fstype = get_datapath_file_system();
        options = get_datapath_mount_options();
        std::string mounted_dev, mounted_type;
        std::list<std::string> mounted_options;
        if (is_mounted(mnt_path, mounted_dev, mounted_type, mounted_options) == 1) {
            log_.logMessage(tag, tidewall::log_level::step, "blk dev  %s mnt path %s mounted", mounted_dev.c_str(),
                            mnt_path.c_str());
            log_.logMessage(tag, tidewall::log_level::step, "unmounting mount point %s", mnt_path.c_str());
            unmount(mnt_path);
            log_.logMessage(tag, tidewall::log_level::step, "old block device %s  unmount succeeded",
                            mounted_dev.c_str());
        }
        std::string cmd = "systemctl daemon-reload";
        log_.logMessage(tag, tidewall::log_level::step, "command [%s]", cmd.c_str());
        std::string out, err;
        int rc = TsProcess::system(cmd, &out, &err, 0, false);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "command [%s] failed with error [%s]", cmd.c_str(),
                            err.c_str());
            return rc;
        }
        rc = wipe_partition_table(dev);
        if (rc != 0) {
            int e = errno;
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Failed to wipe partition table on block device  %s error: %s", dev.c_str(),
                            std::strerror(e));
            return rc;
        }
        rc = format_blkdev_with_uuid(dev, fstype, uuid);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to format block device %s", dev.c_str());
            return rc;
        }
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to process the block device %s", dev.c_str());
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
                    log_.logMessage(tag, tidewall::log_level::failure, "Failed to mount block device %s retrying...",
                                    dev.c_str());
            } else if (mounted_dev != dev) {
                log_.logMessage(tag, tidewall::log_level::failure, "device mounted [%s] expected [%s]",
                                mounted_dev.c_str(), dev.c_str());
                return 1;
            } else {
                mounted = true;
            }
        } catch (const TsException&) {
            log_.logMessage(tag, tidewall::log_level::step, "Failed to process the block device %s", dev.c_str());
        }
    }
    if (!mounted) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to mount block device %s", dev.c_str());
        return 1;
    }
    int rc = stamp_tsln_xattrs(dev, mnt_path, "");
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to stamp block device %s", dev.c_str());
        return rc;
    }
    return 0;
}

bool tw_storage::is_valid_uuid(const std::string& uuid) {
    // The parser throws runtime_error for text that is no UUID: that is the
    // answer "no". Anything else it throws is a fault and goes to the caller.
    try {
        boost::uuids::uuid u = boost::uuids::string_generator()(uuid);
        return u.version() != boost::uuids::uuid::version_unknown;
    } catch (const std::runtime_error& e) {
        log_.logMessage("tw_storage::is_valid_uuid", tidewall::log_level::step, "[%s] is not a UUID: %s", uuid.c_str(),
                        e.what());
        return false;
    }
}
