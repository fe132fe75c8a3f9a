// The LVM manager's steps: physical volumes on the disks, the volume group with
// its reserve, the logical volumes sized from shares of the free extents with
// caps, and their removal. The extent counts of the held group are the
// manager's own bookkeeping, started from what LVM reports after vgcreate.

#include <tidewall/tw_lvm.h>

#include "foundation/host/shell_quote.h"
#include "foundation/log/log_level.h"

#include <limits>

namespace {

constexpr unsigned long long kMax = std::numeric_limits<unsigned long long>::max();

// a * b / c without wrapping around: a result beyond 64 bits is the largest
// count, which no volume group can satisfy.
unsigned long long scaled(unsigned long long a, unsigned long long b, unsigned long long c) {
    unsigned __int128 v = static_cast<unsigned __int128>(a) * b / c;
    return v > kMax ? kMax : static_cast<unsigned long long>(v);
}

}  // namespace

int tw_lvm::configure_vg() {
    const char* tag = "tw_lvm::configure_vg";
    int rc = create_pv();
    if (rc != 0) {
        fail(tag, "pv create failed");
        return rc;
    }
    rc = update_pv_uuid();
    if (rc != 0) {
        fail(tag, "update pv uuid failed");
        return rc;
    }
    rc = create_vg();
    if (rc != 0) {
        fail(tag, "vg create failed");
        return rc;
    }
    rc = create_lv();
    if (rc != 0) {
        fail(tag, "lv create failed");
        return rc;
    }
    return 0;
}

int tw_lvm::unconfigure_vg() {
    const char* tag = "tw_lvm::unconfigure_vg";
    int rc = remove_vg();
    if (rc != 0) {
        fail(tag, "unconfigure vg failed");
        return rc;
    }
    rc = remove_pv();
    if (rc != 0) {
        fail(tag, "unconfigure pv failed");
        return rc;
    }
    return 0;
}

int tw_lvm::create_pv() {
    const char* tag = "tw_lvm::create_pv";
    for (const auto& pv : vg_.get_pv_list()) {
        int rc = create_pv_cmd(pv.get_name());
        if (rc != 0) {
            fail(tag, "pv create failed for disk [%s]", pv.get_name().c_str());
            return rc;
        }
        created_pvs_.push_back(pv.get_name());
        log_.logMessage(tag, tidewall::log_level::step, "pv created for disk [%s]", pv.get_name().c_str());
    }
    return 0;
}

int tw_lvm::update_pv_uuid() {
    const char* tag = "tw_lvm::update_pv_uuid";
    std::list<tw_pv> scanned;
    int rc = scan_pv(scanned);
    if (rc != 0) {
        fail(tag, "PV scan failed");
        return rc;
    }
    for (auto& pv : vg_.get_pv_list())
        for (const auto& s : scanned)
            if (s.get_name() == pv.get_name()) pv.set_uuid(s.get_uuid());
    return 0;
}

int tw_lvm::create_vg() {
    const char* tag = "tw_lvm::create_vg";
    const std::string& name = vg_.get_name();
    std::string pv_text;
    for (const auto& pv : vg_.get_pv_list()) pv_text += tidewall::shell_quote(pv.get_name()) + " ";
    unsigned long long extent_size = vg_.get_extent_size();
    int rc = create_vg_cmd(name, extent_size, pv_text);
    if (rc != 0) {
        fail(tag, "vg create failed [%s]", name.c_str());
        return rc;
    }
    created_vg_ = true;

    unsigned long long alloc = 0;
    rc = get_vg_alloc_extents(name, alloc);
    if (rc != 0) {
        fail(tag, "get alloc extents failed [%s]", name.c_str());
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "vg [%s] alloc extents [%llu]", name.c_str(), alloc);
    vg_.set_alloc_extents(alloc);

    unsigned long long free_extents = 0;
    rc = get_vg_free_extents(name, free_extents);
    if (rc != 0) {
        fail(tag, "get free extents failed [%s]", name.c_str());
        return rc;
    }
    unsigned long long reserved = 0;
    if (vg_.get_rsvd_percentage_cap() != 0) reserved = scaled(vg_.get_rsvd_percentage_cap(), free_extents, 100);
    // A cap above 100 % reserves everything, never more than there is.
    if (reserved > free_extents) reserved = free_extents;
    free_extents -= reserved;
    log_.logMessage(tag, tidewall::log_level::step, "vg [%s] reserved extents [%llu]", name.c_str(), reserved);
    log_.logMessage(tag, tidewall::log_level::step, "vg [%s] free extents [%llu]", name.c_str(), free_extents);
    vg_.set_free_extents(free_extents);
    vg_.set_total_extents(free_extents);
    return 0;
}

int tw_lvm::create_lv() {
    const char* tag = "tw_lvm::create_lv";
    // Every share is of the free extents after the reserve, taken once: the
    // shares are of one whole, not of what earlier volumes left.
    const unsigned long long free_extents = vg_.get_free_extents();
    const unsigned long long extent_size = vg_.get_extent_size();
    if (extent_size == 0) {
        fail(tag, "vg [%s] has no extent size", vg_.get_name().c_str());
        return 1;
    }
    for (const auto& lv : vg_.get_lv_list()) {
        unsigned long long by_share = scaled(free_extents, lv.get_min_percentage(), 100);
        unsigned long long by_cap = scaled(lv.get_max_size(), 1024, extent_size);
        tw_lv sized = lv;
        sized.set_num_extents(by_cap < by_share ? by_cap : by_share);
        log_.logMessage(tag, tidewall::log_level::detail, "lv [%s] share [%llu] cap [%llu] extents [%llu]",
                        lv.get_name().c_str(), by_share, by_cap, sized.get_num_extents());
        int rc = sized.is_thin_volume() ? create_thin_lv(sized) : create_thick_lv(sized);
        if (rc != 0) {
            fail(tag, "lv create failed for vg [%s]", vg_.get_name().c_str());
            return rc;
        }
    }
    return 0;
}

int tw_lvm::create_thick_lv(tw_lv& lv) {
    const char* tag = "tw_lvm::create_thick_lv";
    const std::string& vg = vg_.get_name();
    unsigned long long extents = lv.get_num_extents();
    if (vg_.get_free_extents() < extents) {
        fail(tag, "lv [%s] create failed. vg [%s] free extents [%llu] requested extents [%llu]", vg.c_str(),
             lv.get_name().c_str(), vg_.get_free_extents(), extents);
        return 1;
    }
    if (create_thick_lv_cmd(vg, lv.get_name(), extents) != 0) {
        fail(tag, "lv [%s] create failed. vg [%s]", vg.c_str(), lv.get_name().c_str());
        return 1;
    }
    vg_.set_free_extents(vg_.get_free_extents() - extents);
    vg_.set_alloc_extents(vg_.get_alloc_extents() + extents);
    return 0;
}

int tw_lvm::create_thin_lv(tw_lv& lv) {
    const char* tag = "tw_lvm::create_thin_lv";
    const std::string& vg = vg_.get_name();
    unsigned long long extents = lv.get_num_extents();
    unsigned long long extent_size = vg_.get_extent_size();
    std::string pool = lv.get_name() + "_pool";
    if (vg_.get_free_extents() < extents) {
        fail(tag, "lv [%s] create failed. vg [%s] free extents [%llu] requested extents [%llu]", vg.c_str(),
             lv.get_name().c_str(), vg_.get_free_extents(), extents);
        return 1;
    }
    int rc = create_thin_pool_cmd(vg, pool, extents, extent_size);
    if (rc != 0) {
        fail(tag, "create thin pool failed vg [%s] thin pool [%s]", vg.c_str(), pool.c_str());
        return rc;
    }
    // The pool holds the reduced count; the hold-back stays free for LVM's
    // pool metadata.
    vg_.set_free_extents(vg_.get_free_extents() - extents);
    vg_.set_alloc_extents(vg_.get_alloc_extents() + extents);
    unsigned long long virtual_extents = extents * 90 / 100;
    rc = create_thin_lv_cmd(vg, pool, lv.get_name(), virtual_extents, extent_size);
    if (rc != 0) {
        fail(tag, "lv [%s] create failed. vg [%s] pool [%s]", vg.c_str(), lv.get_name().c_str(), pool.c_str());
        return rc;
    }
    return 0;
}

int tw_lvm::remove_vg() {
    const char* tag = "tw_lvm::remove_vg";
    std::list<std::string> names;
    int rc = scan_vg_cmd(names);
    if (rc != 0) {
        fail(tag, "vg scan failed");
        return rc;
    }
    for (const auto& name : names) {
        if (name != vg_.get_name()) continue;
        rc = remove_vg_cmd(name);
        if (rc != 0) {
            fail(tag, "vg remove failed");
            return rc;
        }
        return 0;
    }
    log_.logMessage(tag, tidewall::log_level::detail, "vg [%s] not found, nothing to remove", vg_.get_name().c_str());
    return 0;
}

int tw_lvm::remove_pv() {
    const char* tag = "tw_lvm::remove_pv";
    for (const auto& pv : vg_.get_pv_list()) {
        if (pv.get_name() == "unknown") {
            log_.logMessage(tag, tidewall::log_level::step, "Skipping deleting pv[unknown].");
            continue;
        }
        int rc = remove_pv_cmd(pv.get_name());
        if (rc != 0) {
            fail(tag, "remove pv failed");
            return rc;
        }
    }
    return 0;
}

int tw_lvm::check_pv_exist(const std::string& uuid) {
    for (const auto& pv : vg_.get_pv_list())
        if (pv.get_uuid() == uuid) return 1;
    return 0;
}
