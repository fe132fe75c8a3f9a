// Gluster volumes as the node sees them: whether a path lies on the gluster
// mount, what that mount serves, which brick directories of a volume are this
// node's, their state and heal state, and mounting the gluster mount path.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/throw_error.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

int tw_storage::is_on_gluster_volume(std::string path) {
    const char* tag = "tw_storage::is_on_gluster_volume";
    std::string g;
    get_mnt_path(MNT_PATH_GLUSTERFS, g);
    bool on = path.size() > g.size() && path.compare(0, g.size(), g) == 0 &&
              (path[g.size()] == '/' || path[g.size()] == '\\');
    log_.logMessage(tag, tidewall::log_level::trace,
                    on ? "Path [%s] is on gluster mount path [%s]" : "Path [%s] is not on gluster mount path [%s]",
                    path.c_str(), g.c_str());
    return on ? 1 : 0;
}

int tw_storage::extract_gluster_volume_info(std::string path, std::string& host, std::string& volume, unsigned& port,
                                            std::string& path_on_volume) {
    const char* tag = "tw_storage::extract_gluster_volume_info";
    std::string g;
    get_mnt_path(MNT_PATH_GLUSTERFS, g);
    // A path shorter than the mount path has no part on the volume.
    path_on_volume = path.size() > g.size() ? path.substr(g.size()) : "";
    log_.logMessage(tag, tidewall::log_level::trace,
                    "Will parse the mount path [%s] and check whether it's a gluster mount path", g.c_str());

    std::string device, fstype;
    std::list<std::string> options;
    if (is_mounted(g, device, fstype, options) != 1 || fstype != "fuse.glusterfs") return -2;
    size_t colon = device.find(':');
    size_t slash = device.find('/');
    if (colon == std::string::npos || slash == std::string::npos) return -2;
    host = device.substr(0, colon);
    volume = device.substr(slash + 1);
    port = 24007;
    log_.logMessage(tag, tidewall::log_level::trace,
                    "Host name [%s] gluster volume [%s] port number [%u] path on volume [%s]", host.c_str(),
                    volume.c_str(), port, path_on_volume.c_str());
    return 0;
}

int tw_storage::is_gluster_brick_path(std::string dir) {
    const char* tag = "tw_storage::is_gluster_brick_path";
    std::string value;
    if (tsaf_utils::getextendedattribute(dir, "trusted.gfid", value) != 0) {
        log_.logMessage(tag, tidewall::log_level::step,
                        "Directory [%s] does not have the trusted.gfid attribute set on it", dir.c_str());
        return 0;
    }
    if (tsaf_utils::getextendedattribute(dir, "trusted.glusterfs.volume-id", value) != 0) {
        log_.logMessage(tag, tidewall::log_level::step,
                        "Directory [%s] does not have the trusted.glusterfs.volume-id attribute set on it",
                        dir.c_str());
        return 0;
    }
    log_.logMessage(tag, tidewall::log_level::step,
                    "Directory [%s] has trusted.glusterfs.volume-id and trusted.gfid attributes set on it",
                    dir.c_str());
    return 1;
}

int tw_storage::get_mount_path_list(std::string volume, std::list<std::string>& paths) {
    const char* tag = "tw_storage::get_mount_path_list";
    log_.logMessage(tag, tidewall::log_level::step,
                    "Will extract local mountpaths which are part of gluster volume [%s]", volume.c_str());
    paths.clear();
    try {
        // Without the handle of the constructor (glusterd was down then) a
        // fresh one asks gluster now.
        glfs_admin spare;
        glfs_admin& admin = glfs_ ? *glfs_ : spare;
        glfs_volume vol;
        if (admin.extract_volume_info(volume, vol, false) < 0) {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Failed to extract information about gluster volume [%s]", volume.c_str());
            return -1;
        }
        std::list<glfs_brick> bricks;
        vol.get_brick_list(bricks);
        for (const auto& b : bricks) {
            log_.logMessage(tag, tidewall::log_level::detail, "Hostname [%s] Mount path [%s]",
                            b.get_host_name().c_str(), b.get_mnt_path().c_str());
            if (is_loop_back_hname(b.get_host_name()) == 1) {
                log_.logMessage(tag, tidewall::log_level::step, "Found a mount path [%s]", b.get_mnt_path().c_str());
                paths.push_back(b.get_mnt_path());
            }
        }
    } catch (const TsException& e) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to extract mount paths that are part of gluster volume [%s]", volume.c_str());
        return -1;
    }
    return 0;
}

int tw_storage::get_gluster_brick_list(std::string volume, std::list<gluster_brick_info>& bricks) {
    const char* tag = "tw_storage::get_gluster_brick_list";
    bricks.clear();
    try {
        glfs_admin spare;
        glfs_admin& admin = glfs_ ? *glfs_ : spare;
        glfs_volume vol;
        if (admin.extract_volume_info(volume, vol, true) < 0) {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Failed to extract information about gluster volume [%s]", volume.c_str());
            return -1;
        }
        std::list<glfs_brick> found;
        vol.get_brick_list(found);
        for (auto& b : found) {
            vol.extract_brick_details(b);
            gluster_brick_info info;
            info.host_name = b.get_host_name();
            info.mnt_path = b.get_mnt_path();
            info.local = is_loop_back_hname(b.get_host_name()) == 1;
            info.online = b.get_is_online();
            bricks.push_back(info);
        }
    } catch (const TsException& e) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to extract bricks of gluster volume [%s] error [%s]",
                        volume.c_str(), e.formatError().c_str());
        return -1;
    }
    return 0;
}

void tw_storage::mount_gluster_mnt_path(std::string host, std::string volume) {
    const char* tag = "tw_storage::mount_gluster_mnt_path";
    std::string g;
    get_mnt_path(MNT_PATH_GLUSTERFS, g);
    std::string device, fstype;
    std::list<std::string> options;
    if (is_mounted(g, device, fstype, options) == 1) {
        log_.logMessage(tag, tidewall::log_level::step, "Gluster volume [%s] is already mounted.", device.c_str());
        return;
    }
    try {
        mkdir(g, 0755);
    } catch (const TsException& e) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to create gluster mount path [%s], Error [%s]",
                        g.c_str(), e.formatError().c_str());
        throw;
    }
    std::string source = host + ":/" + volume;
    log_.logMessage(tag, tidewall::log_level::trace, "Gluster volume [%s] file system [%s]", source.c_str(),
                    get_file_system(MNT_PATH_GLUSTERFS).c_str());
    // mount(path) reports a failure by its result: a volume that did not mount
    // is a failure for the caller too.
    if (mount(g) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to mount gluster volume [%s]", source.c_str());
        tidewall::throw_storage_error(tag, "Failed to mount gluster volume " + source);
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully mounted gluster volume [%s] at [%s]", source.c_str(),
                    g.c_str());
}

int tw_storage::heal_in_progress(std::string volume) {
    glfs_volume vol(volume, "", GLFS_VOL_ANY);
    return vol.get_heal_info().empty() ? 0 : 1;
}

int tw_storage::get_brick_bdev(std::string brick, std::string& bdev) {
    glfs_brick b(brick);
    std::string mnt_point;
    return tsaf_utils::get_dir_bdev(b.get_mnt_path(), bdev, mnt_point);
}
