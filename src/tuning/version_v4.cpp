// Tuning version 4: a higher inotify watch limit, nofail on the fstab entries
// of the DAV volumes' bricks, the tendrl node agent off, and a local copy of
// the network configuration files on a GlusterFS node.

#include "tuning/perf_params_versions.h"

#include <tidewall/tw_perf_params_config.h>
#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

#include <cstring>

namespace {

const char* const kInotifyWatches = tidewall::host::system_paths::inotify_max_user_watches;
const char* const kWatches = "524288";
const char* const kWatchesKey = "fs.inotify.max_user_watches";
const char* const kTendrlService = "tendrl-node-agent.service";

}  // namespace

int tw_perf_params_version_v4::configure() {
    if (update_inotify_watches() != 0) return 1;
    bool gluster = tw_storage().get_sds_type() == tw_storage::SDS_GLUSTERFS;
    if (gluster && update_replica_volume_fstab() != 0) return 1;
    disable_tendrl_node_service();
    if (gluster && backup_config_files() != 0) return 1;
    return 0;
}

int tw_perf_params_version_v4::update_inotify_watches() {
    const char* tag = "tw_perf_params_version_v4::update_inotify_watches";
    // A kernel setting: written in place, a /proc file cannot be replaced.
    int rc = tidewall::file_io::write_in_place(tidewall::host::path(kInotifyWatches), kWatches);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to update /proc/sys/fs/inotify/max_user_watches to value [%s]", kWatches);
        log_.logMessage(tag, tidewall::log_level::detail, "error [%s]", std::strerror(rc));
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step,
                    "Successfully updated /proc/sys/fs/inotify/max_user_watches with value[%s],", kWatches);
    // /proc forgets at the next boot; sysctl.conf sets it again then, as version 1 keeps its keys.
    tw_perf_params_config config;
    if (config.update_conf_file("/etc/sysctl.conf", kWatchesKey, std::string(kWatchesKey) + "=" + kWatches, true) !=
        0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to persist [%s=%s] in /etc/sysctl.conf", kWatchesKey,
                        kWatches);
        return 1;
    }
    return 0;
}

int tw_perf_params_version_v4::update_replica_volume_fstab() {
    const char* tag = "tw_perf_params_version_v4::update_replica_volume_fstab";
    tw_storage storage;
    for (const std::string path : {"/tw/dav_he", "/tw/dav_vm"}) {
        // The entry keeps the device text it has: a UUID= reference stays one,
        // since a kernel name such as /dev/sdc1 may name another disk after the
        // next boot.
        std::list<TsMntInfo> entries;
        storage.read_sysconfig_file(tidewall::host::system_paths::fstab, entries);
        const TsMntInfo* entry = nullptr;
        for (const auto& e : entries)
            if (e.GetMountPoint() == path) {
                entry = &e;
                break;
            }
        if (!entry) continue;
        try {
            storage.update_sysconfig_files(path, entry->GetBackingDevice(), "xfs",
                                           storage.get_mount_options(tw_storage::MNT_PATH_DATAPATH),
                                           tidewall::host::system_paths::fstab);
        } catch (const TsException& e) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to update fstab %s argument with nofail.",
                            path.c_str());
            return 1;
        }
    }
    log_.logMessage(tag, tidewall::log_level::step,
                    "Successfully updated fstab with nofail argument for mount path['/tw/dav_he','/tw/dav_vm']");
    return 0;
}

void tw_perf_params_version_v4::disable_tendrl_node_service() {
    const char* tag = "tw_perf_params_version_v4::disable_tendrl_node_service";
    if (tsaf_utils::disableservice(kTendrlService, true) == -1)
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to disable service[%s].", kTendrlService);
    else
        log_.logMessage(tag, tidewall::log_level::step, "Successfully disabled [%s] service.", kTendrlService);
}

int tw_perf_params_version_v4::backup_config_files() {
    const char* tag = "tw_perf_params_version_v4::backup_config_files";
    glfs_admin admin;
    if (admin.backup_network_files_local() != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to backup network configuration files");
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::failure, "Network configuration files backed up successfully");
    return 0;
}
