// Housekeeping the node services ask for: old gluster backup logs, the
// registry sync of a remote-cache node, the network-file backup to the data
// drives, and the deduplication registry switches.

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_process.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const kHomeDefault = "/opt/tessaline/Dockwright";  // dHOME when the key is absent
const long kBackupLogMaxAge = 7 * 24 * 3600;
}  // namespace

void tw_storage::invoke_syncreg_script() {
    const char* tag = "tw_storage::invoke_syncreg_script";
    std::string remote_cache;
    if (tsaf_utils::get_reg_key("sRemoteCache", remote_cache) != 0 || (remote_cache != "Yes" && remote_cache != "yes"))
        return;
    const std::string script = "/opt/tessaline/Dockwright/tsupgrade_syncreg.py";
    if (!tsaf_utils::is_file(script)) {
        log_.logMessage(tag, tidewall::log_level::failure, "Unable to locate syncreg script [%s]", script.c_str());
        return;
    }
    std::string out, err;
    if (TsProcess::system(script, &out, &err, 0, false) == 0)
        log_.logMessage(tag, tidewall::log_level::step, "Successfully ran syncreg script [%s]", script.c_str());
    else
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to run syncreg script [%s], error [%s]",
                        script.c_str(), (out + err).c_str());
}

void tw_storage::cleanup_backup_logs() {
    const char* tag = "tw_storage::cleanup_backup_logs";
    const std::string dir = "/tw/ddb/logs/gluster_backup/";
    std::vector<std::string> names;
    if (tidewall::file_io::list_dir(tidewall::host::path(dir), names) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Could not open backup directory [%s].", dir.c_str());
        return;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Will clean up logs files from [%s] that are older than 7 days.",
                    dir.c_str());
    const std::time_t now = tsaf_utils::now();
    for (const std::string& name : names) {
        if (name.size() < 3 || name.compare(name.size() - 3, 3, ".gz") != 0) continue;
        std::string file = tidewall::host::path(dir + name);
        struct stat st {};
        if (tidewall::file_io::status_of(file, st, true) != 0) continue;
        if (now - st.st_mtime < kBackupLogMaxAge) continue;
        if (tidewall::file_io::remove_file(file) != 0)
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to unlink file [%s] from directory [%s].",
                            name.c_str(), dir.c_str());
        else
            log_.logMessage(tag, tidewall::log_level::detail, "Removed [%s] from [%s]", name.c_str(), dir.c_str());
    }
}

void tw_storage::set_drillholes_regkey() {
    tsaf_utils::set_reg_key("DedupDrillHoles", "0");
    tsaf_utils::set_reg_key("DedupPruneAllowTruncate", "0");
}

int tw_storage::backup_nwfiles_localnode() {
    const char* tag = "tw_storage::backup_nwfiles_localnode";
    std::string home;
    if (tsaf_utils::get_reg_key("dHOME", home) != 0) {
        log_.logMessage(tag, tidewall::log_level::trace,
                        "Failed to get Home directory regkey value from registry. Using default.");
        home = kHomeDefault;
    }
    std::string h = tidewall::shell_quote(home);
    std::string cmd =
        "PYTHONPATH=" + h + " python " + tidewall::shell_quote(home + "/tsavahi.py") + " backup_network_to_alldata";
    log_.logMessage(tag, tidewall::log_level::detail, "Backup NW files to data drives with cmd - [%s]", cmd.c_str());
    std::list<std::string> lines;
    int rc = tsaf_utils::popen(cmd, lines, tidewall::time_limits::kDefaultS);
    if (rc != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Error [%d] executing cmd [%s]. Continuing..", rc,
                        cmd.c_str());
    return 0;
}
