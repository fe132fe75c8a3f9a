// Gluster volumes seen from this node: whether the volumes it mounts are
// mounted and have not shrunk, and for every volume the share of its bricks
// online and the entries waiting to heal. Read-only: the saved volume sizes
// (.AFVolSize) are compared with, never updated.

#include "metrics/collector.h"

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/command_deadline.h"
#include "foundation/host/host_backend.h"
#include "gluster/glfs_admin.h"
#include "gluster/glfs_xml.h"

#include <chrono>
#include <map>
#include <vector>

namespace tidewall::metrics {

namespace {

// Volumes whose heal state is asked at once: glusterd runs one heal process
// for each.
constexpr size_t kHealQueries = 8;

bool bricks_online(glfs_admin& admin, const std::string& name, glfs_volume& vol, family_set& out) {
    if (admin.extract_volume_info(name, vol, true) != 0) return false;
    std::list<glfs_brick> bricks;
    vol.get_brick_list(bricks);
    if (!bricks.empty()) {
        size_t online = 0;
        for (auto& b : bricks) {
            // The status read with the volume sets the flag; a brick it does not list is offline.
            vol.extract_brick_details(b);
            online += b.get_is_online() ? 1 : 0;
        }
        out.gauge("tidewall_gluster_volume_bricks_online_ratio",
                  "Share of the volume's bricks whose process runs (0 to 1).", {{"volume", name}},
                  static_cast<double>(online) / bricks.size());
    }
    return true;
}

}  // namespace

bool collect_gluster(family_set& out) {
    // One scrape asks gluster each question once: the volume list, and the
    // details and brick state of all volumes, in one answer each (the scrape's
    // pass, or one of its own when called alone).
    tidewall::glfs_xml::query_pass pass(tidewall::glfs_xml::current_pass());
    tw_storage storage;
    if (storage.get_sds_type() != tw_storage::SDS_GLUSTERFS) return true;

    // The volumes this node mounts, from /etc/fstab.
    std::list<gluster_vol_mount_info> mounts;
    storage.get_gluster_vols_mount_info(mounts);
    std::map<std::string, unsigned long> saved;
    storage.read_volsize_file(storage.get_afvolsize_filename(), saved);
    for (const auto& m : mounts) {
        std::string device, fstype;
        std::list<std::string> options;
        bool mounted = tsaf_utils::is_mounted(m.mnt_path, device, fstype, options) == 1;
        out.gauge("tidewall_gluster_volume_mounted",
                  "Whether the gluster volume is mounted on this node (1) or not (0).",
                  {{"volume", m.vol_name}, {"path", m.mnt_path}}, mounted ? 1 : 0);
        unsigned long total = 0, free = 0;
        auto known = saved.find(m.vol_name);
        if (mounted && known != saved.end() && tsaf_utils::get_fs_usage(m.mnt_path, total, free) == 0)
            out.gauge("tidewall_gluster_volume_shrunk",
                      "Whether the mounted volume is smaller than the largest size recorded for it (1) or not (0).",
                      {{"volume", m.vol_name}}, total < known->second ? 1 : 0);
    }

    std::list<std::string> unused, names;
    glfs_admin admin(unused);  // throws when gluster cannot be asked: the collector fails
    if (admin.list_volumes(names) != 0) return false;
    // The bricks of all volumes first (two answers for all), then the heal
    // states, side by side.
    std::vector<glfs_volume> volumes(names.size());
    std::vector<char> known(names.size(), 0);
    std::vector<std::string> heals;
    size_t i = 0;
    for (const auto& name : names) {
        known[i] = bricks_online(admin, name, volumes[i], out);
        if (known[i++]) heals.push_back(name);
    }
    glfs_admin::prefetch_heal_info(heals, kHealQueries);
    const auto deadline = tidewall::host::thread_deadline();
    const bool late = deadline && tidewall::host::steady_now() >= *deadline;
    const auto& answers = pass.shared();
    bool cut_short = false;
    i = 0;
    for (const auto& name : names) {
        glfs_volume& vol = volumes[i];
        if (!known[i++]) continue;
        // A plain distribute volume does not heal: nothing to ask.
        if (vol.get_type() == GLFS_VOL_DISTRIBUTE) {
            out.gauge("tidewall_gluster_volume_heal_pending", "Entries of the volume waiting to heal.",
                      {{"volume", name}}, 0);
            continue;
        }
        // Past the deadline, a heal state not yet read is left out: not known now.
        if (late && !answers->answered(glfs_volume::heal_info_command(name))) {
            cut_short = true;
            continue;
        }
        // A brick whose heal state cannot be read counts as pending: unknown is never healed.
        out.gauge("tidewall_gluster_volume_heal_pending", "Entries of the volume waiting to heal.", {{"volume", name}},
                  static_cast<double>(vol.get_heal_info().size()));
    }
    if (cut_short) report_cut_short();
    return true;
}

}  // namespace tidewall::metrics
