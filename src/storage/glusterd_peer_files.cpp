// glusterd's peer files: repairing them when glusterd will not start on them,
// and retrying their backup when the last one failed.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

// The peer-file work needs no scan of the volumes: when the constructor could
// not build the handle (glusterd was down, which is when this is called) a
// plain one does the job.

int tw_storage::heal_glusterd_peer_files(bool& restarted) {
    const char* tag = "tw_storage::check_heal_glusterd_peer_files";
    restarted = false;
    glfs_admin spare;
    glfs_admin& admin = glfs_ ? *glfs_ : spare;
    if (admin.glusterd_peer_files_healthy() != 1) return 0;
    log_.logMessage(tag, tidewall::log_level::failure, "Gluster peer files are not healthy, try to recover them");
    int rc = admin.restore_glusterd_peer_files();
    if (rc != 0) return rc;
    rc = admin.start_glusterd();
    restarted = rc == 0;
    return rc;
}

int tw_storage::check_heal_glusterd_peer_files() {
    bool restarted = false;
    return heal_glusterd_peer_files(restarted);
}

void tw_storage::check_glusterd_peer_files_backup() {
    const char* tag = "tw_storage::check_glusterd_peer_files_backup";
    const char* key = "nGlusterdPeerFilesBackupStatus";
    log_.logMessage(tag, tidewall::log_level::detail, "Checking if backup is needed");
    std::string status;
    if (tsaf_utils::get_reg_key(key, status) != 0) {
        log_.logMessage(tag, tidewall::log_level::step, "Did not get registry key %s", key);
    } else if (status == "0") {
        log_.logMessage(tag, tidewall::log_level::detail, "Last glusterd peer file backup was successful");
        return;
    } else {
        log_.logMessage(tag, tidewall::log_level::failure, "Last glusterd peer files backup failed");
    }
    log_.logMessage(tag, tidewall::log_level::step, "Retry backing up glusterd peer files");
    glfs_admin spare;
    glfs_admin& admin = glfs_ ? *glfs_ : spare;
    admin.backup_glusterd_peer_files_local();
}
