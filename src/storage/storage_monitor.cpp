// The storage monitor: one pass over the node's storage volumes, choosing the
// checks by the storage flavour, with one storage manager for the pass.

#include <tidewall/tw_storage.h>
#include <tidewall/tw_storagemonitor.h>

#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"
#include "gluster/glfs_xml.h"

#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace {

using tidewall::glfs_xml::answers;
using tidewall::glfs_xml::query_pass;

// Volumes whose heal state is asked at once by the redundancy check.
constexpr size_t kHealQueries = 4;

// The gluster answers of each monitor's last pass, kept for the redundancy
// check that follows it, so that one pass and its check ask gluster each
// question once. Taken by that check; a later check asks afresh.
std::mutex pass_table_mu;
std::map<const void*, std::shared_ptr<answers>>& pass_table() {
    static auto* table = new std::map<const void*, std::shared_ptr<answers>>();
    return *table;
}

void keep_pass(const void* monitor, std::shared_ptr<answers> a) {
    std::lock_guard<std::mutex> guard(pass_table_mu);
    if (a)
        pass_table()[monitor] = std::move(a);
    else
        pass_table().erase(monitor);
}

std::shared_ptr<answers> take_pass(const void* monitor) {
    std::lock_guard<std::mutex> guard(pass_table_mu);
    auto it = pass_table().find(monitor);
    if (it == pass_table().end()) return nullptr;
    auto a = std::move(it->second);
    pass_table().erase(it);
    return a;
}

bool mounted(tw_storage& storage, const std::string& path) {
    std::string dev, fstype;
    std::list<std::string> options;
    return storage.is_mounted(path, dev, fstype, options) == 1;
}

}  // namespace

tw_storagemonitor::tw_storagemonitor() = default;
tw_storagemonitor::~tw_storagemonitor() { keep_pass(this, nullptr); }

const std::list<tw_volumeinfo>& tw_storagemonitor::get_volumeinfo() {
    volumes_.clear();
    not_run_.clear();
    gluster_volumes_.clear();
    degraded_.clear();
    {
        query_pass pass;
        keep_pass(this, pass.shared());
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
    query_pass pass;
    tw_storage storage;
    return gluster_pass(storage, list);
}

int tw_storagemonitor::get_volumeinfo_maldor(std::list<tw_volumeinfo>& list) {
    tw_storage storage;
    return maldor_pass(storage, list);
}

int tw_storagemonitor::get_davinfo(std::list<tw_volumeinfo>& list) {
    query_pass pass;
    tw_storage storage;
    return dav_pass(storage, list);
}

int tw_storagemonitor::gluster_pass(tw_storage& storage, std::list<tw_volumeinfo>& list) {
    const char* tag = "tw_storagemonitor::get_volumeinfo_gluster";
    // Without this node's storage name no gluster mount of /etc/fstab can be
    // told local or remote: the lookups below then find nothing, which is no
    // answer rather than "no volume".
    std::list<gluster_vol_mount_info> configured;
    std::string sds_name, sds_address;
    if (storage.get_gluster_vols_mount_info(configured) == 0 && !configured.empty() &&
        storage.get_tw_hname(sds_name, sds_address) != 0) {
        not_run("gluster volumes", "storage host name [" + sds_name + "] does not resolve; " +
                                       std::to_string(configured.size()) + " gluster mount(s) of /etc/fstab unchecked");
    }
    gluster_vol_mount_info local;
    if (storage.get_gluster_local_vol_mount_info(local) != 0) {
        log_.logMessage(tag, tidewall::log_level::step, "No local gluster volume found.");
    } else {
        log_.logMessage(tag, tidewall::log_level::step, "Local gluster volume [%s] mount and size check.",
                        local.vol_name.c_str());
        bool is_mounted = mounted(storage, local.mnt_path);
        bool isless = false;
        if (is_mounted) {
            if (storage.gluster_volume_get_sizeinfo(local.vol_name, local.mnt_path, isless) != 0) {
                log_.logMessage(tag, tidewall::log_level::step,
                                "Failed to get sizeinfo for volume [%s]. Considering size is correct.",
                                local.vol_name.c_str());
                isless = false;
            }
        } else {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Volume [%s] not mounted at mount path [%s]. Skipping size check for this volume.",
                            local.vol_name.c_str(), local.mnt_path.c_str());
        }
        seen_gluster_volume(local.vol_name);
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
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get remote volume list");
        if (not_run_.empty()) not_run("remote gluster volumes", "the list of remote volumes could not be read");
    } else {
        for (const auto& r : remote) {
            log_.logMessage(tag, tidewall::log_level::step, "Remote gluster volume [%s] mount check for this node.",
                            r.vol_name.c_str());
            bool is_mounted = mounted(storage, r.mnt_path);
            if (!is_mounted)
                log_.logMessage(tag, tidewall::log_level::failure, "Volume [%s] not mounted at mount path [%s]",
                                r.vol_name.c_str(), r.mnt_path.c_str());
            seen_gluster_volume(r.vol_name);
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
    int listed = storage.get_davvollist(names);
    if (listed == -2)
        not_run("DAV volumes", "the hosted-engine status command did not answer within its time limit");
    else if (listed != 0)
        not_run("DAV volumes", "gluster could not list its volumes");
    for (const auto& name : names) {
        seen_gluster_volume(name);
        log_.logMessage(tag, tidewall::log_level::step, "Gluster volume [%s] mount and brick check.", name.c_str());
        bool is_mounted = true, online = true;
        storage.davvol_ismounted(name, is_mounted);
        if (!is_mounted)
            log_.logMessage(tag, tidewall::log_level::failure, "DAV volume [%s] is not mounted.", name.c_str());
        int rc = storage.davvol_brickd_check(name, online);
        if (rc == 0) {
            if (online)
                log_.logMessage(tag, tidewall::log_level::step, "Brick daemon online for volume [%s]", name.c_str());
            else
                log_.logMessage(tag, tidewall::log_level::failure, "Brick daemon offline for volume [%s]",
                                name.c_str());
        } else {
            not_run(name + " brick daemons", rc == -1 ? "this node's name or address cannot be found"
                                                      : "gluster cannot tell the brick state now");
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
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to get mount status for vdisk [%s]. Reporting vdisk as not mounted.", vdisk.c_str());
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
    log_.logMessage(tag, tidewall::log_level::trace, "Volume Info:");
    for (const auto& v : volumes_)
        log_.logMessage(tag, tidewall::log_level::trace,
                        "Volume Name:[%s] MountCheck Support:[%u] NotMounted Status:[%u] BrickCheck Support:[%u] "
                        "BrickdOffline Status:[%u] SizeCheck Support:[%u] SizeInCorrect Status:[%u]",
                        v.get_volumename().c_str(), v.is_mountcheck_supp() ? 1u : 0u,
                        v.get_notmounted_status() ? 1u : 0u, v.is_brickcheck_supp() ? 1u : 0u,
                        v.get_brickoffline_status() ? 1u : 0u, v.is_sizecheck_supp() ? 1u : 0u,
                        v.get_sizeincorrect_status() ? 1u : 0u);
}

void tw_storagemonitor::not_run(const std::string& what, const std::string& why) {
    log_.logMessage("tw_storagemonitor::not_run", tidewall::log_level::failure, "Check could not run: %s: %s",
                    what.c_str(), why.c_str());
    not_run_.push_back(what + ": " + why);
}

void tw_storagemonitor::seen_gluster_volume(const std::string& name) {
    if (std::find(gluster_volumes_.begin(), gluster_volumes_.end(), name) == gluster_volumes_.end())
        gluster_volumes_.push_back(name);
}

const std::list<std::string>& tw_storagemonitor::check_gluster_degraded() {
    const char* tag = "tw_storagemonitor::check_gluster_degraded";
    degraded_.clear();
    query_pass pass(take_pass(this));
    if (gluster_volumes_.empty()) return degraded_;
    glfs_admin admin;
    std::list<std::string> pool;
    if (admin.list_volumes(pool) != 0) {
        not_run("gluster redundancy", "gluster could not list its volumes");
        return degraded_;
    }
    std::vector<std::string> ours;
    for (const auto& name : gluster_volumes_)
        if (std::find(pool.begin(), pool.end(), name) != pool.end()) ours.push_back(name);
    glfs_admin::prefetch_heal_info(ours, kHealQueries);
    for (const auto& name : gluster_volumes_) {
        // A volume of another pool, mounted from there, is that pool's to watch.
        if (std::find(pool.begin(), pool.end(), name) == pool.end()) {
            log_.logMessage(tag, tidewall::log_level::detail,
                            "Volume [%s] is not in this node's pool: no redundancy check", name.c_str());
            continue;
        }
        glfs_volume vol;
        if (admin.extract_volume_info(name, vol, true) != 0) {
            not_run(name + " redundancy", "gluster cannot tell the brick state now");
            continue;
        }
        std::list<glfs_brick> bricks;
        vol.get_brick_list(bricks);
        std::string offline;
        for (auto& b : bricks) {
            vol.extract_brick_details(b);
            if (!b.get_is_online()) offline += (offline.empty() ? "" : ", ") + b.get_brick_path();
        }
        if (!offline.empty()) {
            log_.logMessage(tag, tidewall::log_level::failure, "Volume [%s] degraded: brick offline [%s]", name.c_str(),
                            offline.c_str());
            degraded_.push_back(name + ": brick offline: " + offline);
        }
        if (vol.get_type() == GLFS_VOL_DISTRIBUTE) continue;
        std::set<std::string> entries;
        std::string error;
        if (vol.read_heal_info(entries, error) != 0) {
            not_run(name + " heal state", error);
        } else if (!entries.empty()) {
            log_.logMessage(tag, tidewall::log_level::failure, "Volume [%s] degraded: %zu entries to heal",
                            name.c_str(), entries.size());
            degraded_.push_back(name + ": heal pending: " + std::to_string(entries.size()) + " entries");
        }
    }
    return degraded_;
}
