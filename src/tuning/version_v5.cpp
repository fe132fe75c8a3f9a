// Tuning version 5: a wider self-heal window on the gluster volumes of a
// GlusterFS node, abrt keeps cores of programs outside any package, lldpad off.

#include "tuning/perf_params_versions.h"

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_platform_info.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

namespace {

const char* const kAbrtConf = "/etc/abrt/abrt-action-save-package-data.conf";

}  // namespace

int tw_perf_params_version_v5::configure() {
    const char* tag = "tw_perf_params_version_v5::configure";
    if (tw_storage().get_sds_type() == tw_storage::SDS_GLUSTERFS) {
        int rc = set_gluster_volume_heal_window_size();
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "set gluster_volume_heal_window_size failed");
            return rc;
        }
    }
    if (enable_save_core_dump() != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "enable save core dump failed");
        return 1;
    }
    disable_lldpad();
    return 0;
}

int tw_perf_params_version_v5::set_gluster_volume_heal_window_size() {
    const char* tag = "tw_perf_params_version_v5::set_gluster_volume_heal_windows_size";
    tw_perf_params_config config;
    std::list<std::string> volumes;
    int rc = config.get_gluster_volumes(volumes);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to enumerate gluster volumes");
        return rc;
    }
    glfs_admin admin;
    for (const auto& volume : volumes) {
        if (admin.set_volume_property(volume, "disperse.self-heal-window-size", "8") != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to set disperse.self-heal-window-size for [%s]",
                            volume.c_str());
            return 1;
        }
    }
    return 0;
}

int tw_perf_params_version_v5::enable_save_core_dump() {
    const char* tag = "tw_perf_params_version_v5::enable_save_core_dump";
    tw_perf_params_config config;
    const std::string name = "ProcessUnpackaged";
    if (config.update_conf_file(kAbrtConf, name, name + " = " + "yes", false) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to update conf file [%s].", kAbrtConf);
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully updated conf file [%s].", kAbrtConf);
    const std::string value = "true";
    if (TSPlatformInfo::setString("Dockwright", "nEnableCoreDump", value, static_cast<unsigned>(value.size())) == 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "setting reg key failed for [%s]", "nEnableCoreDump");
        return 1;
    }
    return 0;
}

void tw_perf_params_version_v5::disable_lldpad() {
    const char* tag = "tw_perf_params_version_v5::disable_lldpad";
    tw_perf_params_config config;
    config.run_cmd("systemctl stop lldpad");  // a stopped or missing service is no reason to stop here
    const char* disable = "systemctl disable lldpad";
    if (config.run_cmd(disable) != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to disable service[%s].", disable);
    else
        log_.logMessage(tag, tidewall::log_level::step, "Successfully disabled [%s] service.", disable);
}
