// The storage monitor: one pass over the node's storage volumes, choosing the
// checks by the storage flavour, with one storage manager for the pass.

#include <tidewall/tw_storage.h>
#include <tidewall/tw_storagemonitor.h>

#include <list>

namespace {

bool mounted(tw_storage& storage, const std::string& path) {
    std::string dev, fstype;
    std::list<std::string> options;
    return storage.is_mounted(path, dev, fstype, options) == 1;
}

} // namespace

tw_storagemonitor::tw_storagemonitor() = default;
tw_storagemonitor::~tw_storagemonitor() = default;

const std::list<tw_volumeinfo>& tw_storagemonitor::get_volumeinfo() {
    volumes_.clear();
    {
        tw_storage storage;
        if (storage.get_sds_type() == tw_storage::SDS_GLUSTERFS)
            gluster_pass(storage, volumes_);
        else
            maldor_pass(storage, volumes_);
    }
    loginfo();
    return volumes_;
}

int tw_storagemonitor::get_volumeinfo_gluster(std::list<tw_volumeinfo>& list) {
    tw_storage storage;
    return gluster_pass(storage, list);
}

int tw_storagemonitor::get_volumeinfo_maldor(std::list<tw_volumeinfo>& list) {
    tw_storage storage;
    return maldor_pass(storage, list);
}

int tw_storagemonitor::get_davinfo(std::list<tw_volumeinfo>& list) {
    tw_storage storage;
    return dav_pass(storage, list);
}

int tw_storagemonitor::gluster_pass(tw_storage& storage, std::list<tw_volumeinfo>& list) {
    const char* tag = "tw_storagemonitor::get_volumeinfo_gluster";
    gluster_vol_mount_info local;
    if (storage.get_gluster_local_vol_mount_info(local) != 0) {
        log_.logMessage(tag, 0, "No local gluster volume found.");
    } else {
        log_.logMessage(tag, 0, "Local gluster volume [%s] mount and size check.", local.vol_name.c_str());
        bool is_mounted = mounted(storage, local.mnt_path);
        bool isless = false;
        if (is_mounted) {
            if (storage.gluster_volume_get_sizeinfo(local.vol_name, local.mnt_path, isless) != 0) {
                log_.logMessage(tag, 0, "Failed to get sizeinfo for volume [%s]. Considering size is correct.",
                                local.vol_name.c_str());
                isless = false;
            }
        } else {
            log_.logMessage(tag, -1, "Volume [%s] not mounted at mount path [%s]. Skipping size check for this volume.",
                            local.vol_name.c_str(), local.mnt_path.c_str());
        }
        tw_volumeinfo v;
        v.set_volumename(local.vol_name);
        v.set_mountcheck_supp();
        v.set_notmounted_status(!is_mounted);
        v.set_sizecheck_supp();
        v.set_sizeincorrect_status(isless);
        list.push_back(v);
    }

    std::list<gluster_vol_mount_info> remote;
    if (storage.get_gluster_remote_vols_mount_info(remote) != 0) {
        log_.logMessage(tag, -1, "Failed to get remote volume list");
    } else {
        for (const auto& r : remote) {
            log_.logMessage(tag, 0, "Remote gluster volume [%s] mount check for this node.", r.vol_name.c_str());
            bool is_mounted = mounted(storage, r.mnt_path);
            if (!is_mounted)
                log_.logMessage(tag, -1, "Volume [%s] not mounted at mount path [%s]", r.vol_name.c_str(),
                                r.mnt_path.c_str());
            tw_volumeinfo v;
            v.set_volumename(r.vol_name);
            v.set_mountcheck_supp();
            v.set_notmounted_status(!is_mounted);
            list.push_back(v);
        }
    }
    dav_pass(storage, list);
    return 0;
}

int tw_storagemonitor::dav_pass(tw_storage& storage, std::list<tw_volumeinfo>& list) {
    const char* tag = "tw_storagemonitor::get_davinfo";
    std::list<std::string> names;
    storage.get_davvollist(names);
    for (const auto& name : names) {
        log_.logMessage(tag, 0, "Gluster volume [%s] mount and brick check.", name.c_str());
        bool is_mounted = true, online = true;
        storage.davvol_ismounted(name, is_mounted);
        if (!is_mounted) log_.logMessage(tag, -1, "DAV volume [%s] is not mounted.", name.c_str());
        if (storage.davvol_brickd_check(name, online) == 0) {
            if (online)
                log_.logMessage(tag, 0, "Brick daemon online for volume [%s]", name.c_str());
            else
                log_.logMessage(tag, -1, "Brick daemon offline for volume [%s]", name.c_str());
        }
        tw_volumeinfo v;
        v.set_volumename(name);
        v.set_mountcheck_supp();
        v.set_notmounted_status(!is_mounted);
        v.set_brickcheck_supp();
        v.set_brickoffline_status(!online);
        list.push_back(v);
    }
    return 0;
}

int tw_storagemonitor::maldor_pass(tw_storage& storage, std::list<tw_volumeinfo>& list) {
    const char* tag = "tw_storagemonitor::get_volumeinfo_maldor";
    std::string vdisk = storage.get_spvdisk_name();
    if (vdisk.empty()) return 0;
    bool is_mounted = false;
    if (storage.get_maldor_vdisk_mount_status(vdisk, is_mounted) != 0) {
        log_.logMessage(tag, -1, "Failed to get mount status for vdisk [%s]. Reporting vdisk as not mounted.",
                        vdisk.c_str());
        is_mounted = false;
    }
    tw_volumeinfo v;
    v.set_volumename(vdisk);
    v.set_mountcheck_supp();
    v.set_notmounted_status(!is_mounted);
    list.push_back(v);
    return 0;
}

void tw_storagemonitor::loginfo() {
    const char* tag = "tw_storagemonitor::loginfo";
    if (log_.getDebugLevel() < 2) return;
    log_.logMessage(tag, 2, "Volume Info:");
    for (const auto& v : volumes_)
        log_.logMessage(tag, 2,
                        "Volume Name:[%s] MountCheck Support:[%u] NotMounted Status:[%u] BrickCheck Support:[%u] "
                        "BrickdOffline Status:[%u] SizeCheck Support:[%u] SizeInCorrect Status:[%u]",
                        v.get_volumename().c_str(), v.is_mountcheck_supp() ? 1u : 0u,
                        v.get_notmounted_status() ? 1u : 0u, v.is_brickcheck_supp() ? 1u : 0u,
                        v.get_brickoffline_status() ? 1u : 0u, v.is_sizecheck_supp() ? 1u : 0u,
                        v.get_sizeincorrect_status() ? 1u : 0u);
}
