// The node's first boot after imaging. Every boot sets the platform type; the
// first one also records the DDB mount, configures kdump and log rotation and
// moves the bare-metal-recovery logs, all or nothing up to the registry mark
// sArrowfieldFirstBootComplete: a failed step leaves the mark unset, and the
// whole sequence runs again at the next boot. Every step is safe to repeat.

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_platform_info.h"
#include "foundation/compat/ts_process.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/status.h"
#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"
#include "foundation/fs/tree_move.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"

#include <cerrno>
#include <sys/stat.h>

namespace {

const char* const kFirstBootKey = "sArrowfieldFirstBootComplete";
const char* const kBmrLogs = "/var/log/bmrlogs";
// The product log directory when EventManager has no dEVLOGDIR (as for the log itself).
const char* const kLogDirDefault = tidewall::host::system_paths::product_log_dir;
const char* const kLvmFilterScript = "/opt/tessaline/Dockwright/tsgeneratelvmfilter.py";

}  // namespace

int tw_storage::do_first_boot_operations() {
    std::string failure;
    return do_first_boot_operations(failure);
}

int tw_storage::do_first_boot_operations(std::string& failure) {
    tidewall::call_scope scope;  // the reason of a failure is this call's
    const char* tag = "tw_storage::do_first_boot_operations";
    failure.clear();
    // Two first boots at once would each reset the initiator name, the second
    // backing up the first one's new name, and race on the log move.
    tidewall::locks::operation_lock lock(tidewall::locks::operation::first_boot);
    if (!lock.held()) {
        failure = lock.message();
        log_.logMessage(tag, tidewall::log_level::failure, "%s", failure.c_str());
        return -1;
    }
    // The log keeps successes at this level too: the reason is named, not guessed from it.
    auto failed = [this](const char* tag, const char* why) {
        log_.logMessage(tag, tidewall::log_level::failure, "%s", why);
        return tidewall::to_rc(tidewall::status::failure(-1, why));
    };
    std::string done;
    bool due = tsaf_utils::get_reg_key(kFirstBootKey, done) != 0 || done != "Yes";

    if (set_arrowfield_platform_type() != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to set arrowfield platform type");
    if (!due) {
        log_.logMessage(tag, tidewall::log_level::failure, "Skipping logrotate configuration on the server");
        std::string after_mark;
        tsaf_utils::get_reg_key(kIqnResetKey, after_mark);
        if (after_mark == kIqnResetDue || after_mark == kIqnResetBackedUp) {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "An earlier first boot stopped after its mark: finishing the steps after it");
            finish_after_first_boot_mark();
        }
        return 0;
    }

    if (process_ddb_fstab_entry() != 0) {
        return failed(tag, "Failed to process fstab for DDB mount path");
    }
    if (configure_kdump() != 0) {
        return failed(tag, "Failed to configure kdump on the server");
    }
    log_.logMessage(tag, tidewall::log_level::failure, "Successfully configured kdump on the server");
    if (create_global_logrotate_config() != 0) {
        return failed(tag, "Failed to configure logrotate configuration on the server");
    }
    log_.logMessage(tag, tidewall::log_level::failure, "Successfully configured logrotate configuration on the server");
    if (switcher(1) != 0) {
        return failed(tag, "Failed to configure glusterfs logrotate configuration on the server");
    }
    if (switcher(2) != 0) {
        return failed(tag,
                      "Failed to configure glusterfs logrotate configuration with maxsize parameter on the server");
    }
    log_.logMessage(tag, tidewall::log_level::failure,
                    "Successfully configured glusterfs logrotate configuration with maxsize parameter on the server");
    if (move_bmrlogs() != 0) {
        return failed(tag, "Failed to move bmrlogs to tessaline log dir");
    }
    log_.logMessage(tag, tidewall::log_level::failure, "Successfully moved bmrlogs to tessaline log dir");
    // The steps after the mark run once; noted as due before the mark, so that
    // a crash between the two leaves them for the next boot to finish. A node
    // whose original name is already backed up keeps that backup.
    std::string after_mark;
    tsaf_utils::get_reg_key(kIqnResetKey, after_mark);
    if ((after_mark != kIqnResetBackedUp && after_mark != kIqnResetDone &&
         tsaf_utils::set_reg_key(kIqnResetKey, kIqnResetDue) != 0) ||
        tsaf_utils::set_reg_key(kFirstBootKey, "Yes") != 0) {
        return failed(tag, "Failed to set registry key to indicate completion of first boot operation");
    }
    finish_after_first_boot_mark();
    return 0;
}

void tw_storage::finish_after_first_boot_mark() {
    const char* tag = "tw_storage::do_first_boot_operations";
    // Once only, after the mark: their failures are reported, never retried.
    log_.logMessage(tag, tidewall::log_level::failure,
                    reset_iqn() == 0 ? "Setting the correct IQN succeeded." : "Setting the correct IQN failed.");
    log_.logMessage(tag, tidewall::log_level::failure,
                    generate_lvm_filter() == 0 ? "Adding lvm filters in file /etc/lvm/lvm.conf succeeded."
                                               : "Adding lvm filters in file /etc/lvm/lvm.conf failed.");
    if (tsaf_utils::set_reg_key(kIqnResetKey, kIqnResetDone) != 0)
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to record in [%s] that the steps after the first-boot mark are done", kIqnResetKey);
}

int tw_storage::process_ddb_fstab_entry() {
    const char* tag = "tw_storage::process_ddb_fstab_entry";
    std::string device;
    if (get_backing_dev(MNT_PATH_DDB, device) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to extract the backing device for DDB");
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Found [%s] as the backing device for DDB", device.c_str());
    std::string path, fstype, options;
    try {
        get_mnt_path(MNT_PATH_DDB, path);
        fstype = get_file_system(MNT_PATH_DDB);
        options = get_mount_options(MNT_PATH_DDB);
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to extract the mount path for DDB");
        return -1;
    }
    const std::string file = tidewall::host::system_paths::fstab;
    try {
        update_sysconfig_files(path, device, fstype, options, file);
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to update system config file for [%s] [%s] [%s] [%s] [%s]", file.c_str(), path.c_str(),
                        device.c_str(), fstype.c_str(), options.c_str());
        return -1;
    }
    return 0;
}

int tw_storage::move_bmrlogs() {
    const char* tag = "tw_storage::move_bmrlogs";
    std::string dir;
    if (TSPlatformInfo::getString("EventManager", "dEVLOGDIR", &dir) == 0) dir = kLogDirDefault;
    if (dir.empty()) return -1;
    std::string target = dir + "/bmrlogs";
    // The log directory may lie on another file system than /var/log: then the
    // logs are copied and the originals removed once copied.
    int err = tidewall::file_io::move_tree(tidewall::host::path(kBmrLogs), tidewall::host::path(target));
    if (err == 0) {
        log_.logMessage(tag, tidewall::log_level::step, "Moved [%s] to [%s]", kBmrLogs, target.c_str());
        return 0;
    }
    // A first boot that stopped after this step finds the logs moved already.
    if (err == ENOENT && !tsaf_utils::is_dir(kBmrLogs) && tsaf_utils::is_dir(target)) {
        log_.logMessage(tag, tidewall::log_level::step, "[%s] was already moved to [%s]", kBmrLogs, target.c_str());
        return 0;
    }
    log_.logMessage(tag, tidewall::log_level::failure, "Failed to move [%s] to [%s] error [%d]", kBmrLogs,
                    target.c_str(), err);
    return -1;
}

int tw_storage::generate_lvm_filter() {
    const char* tag = "tw_storage::generate_lvm_filter";
    log_.logMessage(tag, tidewall::log_level::step, "Generating lvm filters using script [%s]", kLvmFilterScript);
    std::string out, err;
    if (TsProcess::system(kLvmFilterScript, &out, &err, 0, false) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Error generating lvm filters. Output[%s]", out.c_str());
        return 1;
    }
    return 0;
}
