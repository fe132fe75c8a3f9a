// System services the node depends on: probing and starting them, the gluster
// daemon (with repair of its peer files), the Maldor daemons and the product's
// own services.

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_process.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/throw_error.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

using tidewall::shell_quote;

int tw_storage::is_service_up(std::string service) {
    const char* tag = "tw_storage::is_service_up";
    std::string cmd = "service " + shell_quote(service) + " status";
    log_.logMessage(tag, tidewall::log_level::trace, "Service [%s] status will be probed using command [%s]",
                    service.c_str(), cmd.c_str());
    std::string out, err;
    int rc = TsProcess::system(cmd, &out, &err, 0, false);
    out = tsaf_utils::trim(out);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to probe service [%s] status [%s]", service.c_str(),
                        out.c_str());
        return 0;
    }
    log_.logMessage(tag, tidewall::log_level::trace, "Succesfully probed service [%s] status [%s]", service.c_str(),
                    out.c_str());
    if (out.find("running") != std::string::npos) {
        log_.logMessage(tag, tidewall::log_level::step, "service [%s] is up and running", service.c_str());
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "service [%s] is not running", service.c_str());
    return 0;
}

int tw_storage::bring_service_up(std::string service) {
    const char* tag = "tw_storage::bring_service_up";
    if (is_service_up(service) == 1) return 0;
    std::string cmd = "systemctl start " + shell_quote(service);
    std::string out, err;
    int rc = TsProcess::system(cmd, &out, &err, 0, false);
    if (rc == 0)
        log_.logMessage(tag, tidewall::log_level::step, "Successfully started service [%s] with command [%s]",
                        service.c_str(), cmd.c_str());
    else
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to start service [%s] with command [%s]",
                        service.c_str(), cmd.c_str());
    return rc;
}

int tw_storage::is_glusterd_up() { return is_service_up("glusterd"); }

int tw_storage::make_glusterd_active() {
    const char* tag = "tw_storage::make_glusterd_active";
    const std::string cmd = "service glusterd start";
    {
        // glusterd starts on damaged peer files and then turns that peer away
        // as unknown, so the node never rejoins its pool: repair them first.
        glfs_admin spare;
        glfs_admin& admin = glfs_ ? *glfs_ : spare;
        if (admin.glusterd_peer_files_healthy() == 1) {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Gluster peer files are not healthy, restoring them before the daemon starts");
            if (admin.restore_glusterd_peer_files() != 0)
                log_.logMessage(tag, tidewall::log_level::failure,
                                "Failed to restore the gluster peer files from their backup");
        }
    }
    log_.logMessage(tag, tidewall::log_level::step, "Gluster daemon will be started using command [%s]", cmd.c_str());
    std::string out, err;
    if (TsProcess::system(cmd, &out, &err, 0, false) != 0) {
        // glusterd refuses to start on damaged peer files: repair them and try
        // again. Sound peer files mean nothing was repaired and nothing
        // restarted, so the daemon is still down.
        bool repaired = false;
        if (heal_glusterd_peer_files(repaired) != 0 || !repaired) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to start gluster daemon [%s]", err.c_str());
            tidewall::throw_storage_error(tag, err);
        }
    }
    log_.logMessage(tag, tidewall::log_level::step, "Succesfully started gluster daemon");
    return 0;
}

int tw_storage::is_maldor_daemon_up() { return 1; }

int tw_storage::make_maldor_daemons_active() { return 0; }

int tw_storage::restart_ts_services() {
    const char* tag = "tw_storage::restart_ts_services";
    log_.logMessage(tag, tidewall::log_level::step, "Restarting TS services.");
    std::list<std::string> lines;
    int rc = tsaf_utils::popen("tessaline restart", lines, tidewall::time_limits::kDefaultS);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to restart TS services. Errorcode [%d]", rc);
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully restarted TS services.");
    return 0;
}
