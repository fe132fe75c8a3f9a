// glusterd's peer files (their health, backup and restore), starting glusterd,
// and the local backup of the node's network files.

#include "gluster/glfs_admin.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"
#include "foundation/text/lines.h"

#include <sys/stat.h>

namespace {

const char* const kPeersDir = "/var/lib/glusterd/peers";
const char* const kGlusterdInfo = "/var/lib/glusterd/glusterd.info";
const char* const kPeersBackup = "/var/lib/tidewall/glusterd-peers-backup";
const char* const kNetworkBackup = "/var/lib/tidewall/network-backup";
const char* const kBackupStatusKey = "nGlusterdPeerFilesBackupStatus";

// A peer file glusterd can use names the peer's uuid and at least one host name.
bool peer_file_sound(const std::string& content) {
    bool uuid = false, host = false;
    tidewall::text::for_each_line(content, [&](const std::string& line) {
        if (line.rfind("uuid=", 0) == 0 && line.size() > 5) uuid = true;
        if (line.rfind("hostname1=", 0) == 0 && line.size() > 10) host = true;
    });
    return uuid && host;
}

std::list<std::string> list_files(const std::string& dir) {
    std::list<std::string> names, files;
    tsaf_utils::read_directory(dir, names);
    for (const auto& n : names)
        if (tsaf_utils::is_file(dir + "/" + n)) files.push_back(n);
    return files;
}

}  // namespace

int glfs_admin::glusterd_peer_files_healthy() {
    for (const auto& name : list_files(kPeersDir)) {
        std::string content;
        if (tsaf_utils::read(std::string(kPeersDir) + "/" + name, content) != 0 || !peer_file_sound(content)) {
            log_.logMessage("glfs_admin::glusterd_peer_files_healthy", tidewall::log_level::failure,
                            "Peer file [%s/%s] is damaged", kPeersDir, name.c_str());
            return 1;
        }
    }
    return 0;
}

int glfs_admin::backup_glusterd_peer_files_local() {
    const char* tag = "glfs_admin::backup_glusterd_peer_files_local";
    int rc = tsaf_utils::mkdir_r(kPeersBackup, 0700);
    // Only sound files are worth keeping: a damaged copy would be restored later.
    for (const auto& name : list_files(kPeersDir)) {
        if (rc != 0) break;
        std::string content;
        std::string from = std::string(kPeersDir) + "/" + name;
        if (tsaf_utils::read(from, content) != 0) {
            rc = -1;
        } else if (peer_file_sound(content)) {
            rc = tsaf_utils::copy_file(from, std::string(kPeersBackup) + "/" + name);
        } else {
            log_.logMessage(tag, tidewall::log_level::failure, "Not backing up damaged peer file [%s]", from.c_str());
        }
    }
    if (rc == 0 && tsaf_utils::is_file(kGlusterdInfo))
        rc = tsaf_utils::copy_file(kGlusterdInfo, std::string(kPeersBackup) + "/glusterd.info");
    tsaf_utils::set_reg_key(kBackupStatusKey, rc == 0 ? "0" : "1");
    log_.logMessage(tag, rc == 0 ? 1 : -1, "Backup of glusterd peer files to [%s] %s", kPeersBackup,
                    rc == 0 ? "succeeded" : "failed");
    return rc;
}

int glfs_admin::restore_glusterd_peer_files() {
    const char* tag = "glfs_admin::restore_glusterd_peer_files";
    auto saved = list_files(kPeersBackup);
    if (saved.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "No backup of glusterd peer files in [%s]", kPeersBackup);
        return -1;
    }
    tsaf_utils::mkdir_r(kPeersDir, 0755);
    int result = 0;
    for (const auto& name : saved) {
        if (name == "glusterd.info") continue;
        std::string target = std::string(kPeersDir) + "/" + name;
        std::string content;
        // A sound live file is newer than its backup: keep it.
        if (tsaf_utils::read(target, content) == 0 && peer_file_sound(content)) continue;
        int rc = tsaf_utils::copy_file(std::string(kPeersBackup) + "/" + name, target);
        log_.logMessage(tag, rc == 0 ? 0 : -1, "Restore of peer file [%s] %s", target.c_str(),
                        rc == 0 ? "succeeded" : "failed");
        if (rc != 0) result = rc;
    }
    // Damaged files without a backup stay damaged: glusterd cannot use them either way.
    return result != 0 ? result : (glusterd_peer_files_healthy() == 1 ? -1 : 0);
}

int glfs_admin::start_glusterd() {
    const char* tag = "glfs_admin::start_glusterd";
    struct stat st {};
    bool systemd =
        tidewall::file_io::status_of(tidewall::host::path(tidewall::host::system_paths::systemd_run), st, true) == 0;
    std::string cmd = systemd ? "systemctl start glusterd" : "glusterd";
    log_.logMessage(tag, tidewall::log_level::step, "Starting glusterd with command [%s]", cmd.c_str());
    auto r = tidewall::host::current().run(cmd, kTimeLimit);
    if (r.status != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Command [%s] failed with error [%s]", cmd.c_str(),
                        tsaf_utils::trim(r.err).c_str());
    return r.status;
}

int glfs_admin::backup_network_files_local() {
    const char* tag = "glfs_admin::backup_network_files_local";
    int rc = tsaf_utils::mkdir_r(kNetworkBackup, 0700);
    std::list<std::string> files = {"/etc/hosts", "/etc/resolv.conf", "/etc/hostname", "/etc/network/interfaces"};
    for (const auto& name : list_files("/etc/sysconfig/network-scripts"))
        if (name.rfind("ifcfg-", 0) == 0 || name.rfind("route-", 0) == 0)
            files.push_back("/etc/sysconfig/network-scripts/" + name);
    for (const auto& f : files) {
        if (rc != 0) break;
        if (!tsaf_utils::is_file(f)) continue;
        std::string flat = f.substr(1);
        for (char& c : flat)
            if (c == '/') c = '_';
        rc = tsaf_utils::copy_file(f, std::string(kNetworkBackup) + "/" + flat);
        if (rc != 0)
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to back up [%s] error [%d]", f.c_str(), rc);
    }
    return rc;
}
