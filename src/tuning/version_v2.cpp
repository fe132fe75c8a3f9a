// Tuning version 2: small-file options on the gluster volumes of a GlusterFS
// node, and the container thresholds of the data mover.

#include "tuning/perf_params_versions.h"

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_platform_info.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

int tw_perf_params_version_v2::configure() {
    const char* tag = "tw_perf_params_version_v2::configure";
    unsigned flavour = tw_storage().get_sds_type();
    if (flavour == tw_storage::SDS_GLUSTERFS) {
        tw_perf_params_config config;
        std::list<std::string> volumes;
        int rc = config.get_gluster_volumes(volumes);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to enumerate gluster volumes");
            return rc;
        }
        for (const auto& volume : volumes) {
            glfs_admin admin;
            if (admin.optimize_small_file_access(volume) != 0) {
                log_.logMessage(tag, tidewall::log_level::failure,
                                "Failed to optimize volume [%s] for small file access", volume.c_str());
                return 1;
            }
        }
    }
    const std::pair<const char*, unsigned long long> keys[] = {{"SIDBCommitThreshold", 32768},
                                                               {"MaxSFileContainerItems", 1024}};
    for (const auto& [key, value] : keys) {
        if (TSPlatformInfo::setLongLong("Dockwright", key, value) == 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "setting reg key failed for [%s]", key);
            return 1;
        }
    }
    return 0;
}
