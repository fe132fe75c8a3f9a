// Tuning version 3: on a node that boots through EFI, the /boot/efi entry of
// /etc/fstab names the EFI system partition by UUID, and is mounted from it.

#include "tuning/perf_params_versions.h"

#include <tidewall/tw_storage.h>

#include "foundation/blkdev/blkdevmgr.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"

int tw_perf_params_version_v3::configure() {
    const char* tag = "tw_perf_params_version_v3::configure";
    if (!tsaf_utils::is_efi_platform()) return 0;
    int rc = update_boot_efi_fstab();
    if (rc != 0) log_.logMessage(tag, tidewall::log_level::failure, "failed to update boot efi entry in fstab");
    return rc;
}

int tw_perf_params_version_v3::update_boot_efi_fstab() {
    const char* tag = "tw_perf_params_version_v3::update_boot_efi_fstab";
    const std::string mnt_path = "/boot/efi";

    tsaf_blkdevmgr devices;
    devices.enumerate_blkdevs(true);
    std::string partition, uuid;
    if (devices.get_vfat_partition(partition, uuid) != 0 || uuid.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to find a partition with vfat file system on the node");
        return 1;
    }

    tw_storage storage;
    try {
        storage.update_sysconfig_files(mnt_path, "UUID=\"" + uuid + "\"", "vfat",
                                       storage.get_mount_options(tw_storage::MNT_PATH_EFI_BOOT),
                                       tidewall::host::system_paths::fstab);
    } catch (const TsException& e) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to update fstab with /boot/efi mount path");
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully updated fstab with /boot/efi mount path");

    std::string blkdev, fstype;
    std::list<std::string> options;
    if (storage.is_mounted(mnt_path, blkdev, fstype, options) == 1) {
        try {
            storage.unmount(mnt_path);
        } catch (const TsException& e) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to unmount /boot/efi mount point");
            return 1;
        }
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully unmounted /boot/efi mount path");

    if (storage.mount(mnt_path) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to mount /boot/efi mount point");
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully mounted /boot/efi mount path");
    return 0;
}
