#ifndef TIDEWALL_TW_LVM_H
#define TIDEWALL_TW_LVM_H

// The LVM manager: turns the volume-group record of a storage configuration into
// physical volumes, one volume group with an optional reserve, and thick or thin
// logical volumes, each sized from a share of the group's free extents with a
// cap; and removes them again. It works only through the LVM command-line tools
// and keeps its own count of extents in its copy of the volume group.
//
// Units: extent size in MiB, caps (max_size) in GiB, shares in per cent. Every
// operation returns 0 on success, 1 for a failed command, otherwise the failing
// step's code. Nothing is undone here: a failed step leaves what earlier steps
// created (see created_vg and created_pvs for what this object made).

#include <tidewall/export.h>
#include <tidewall/tw_debug.h>
#include <tidewall/tw_md_storage_config.h>

#include <list>
#include <string>

class TW_API tw_lvm {
public:
    tw_lvm();
    // Works on a copy of vg; what it learns (PV UUIDs, extent counts) goes into
    // the copy, not into the caller's record.
    explicit tw_lvm(tw_vg& vg);
    ~tw_lvm();

    tw_vg& get_vg() { return vg_; }

    // create_pv, update_pv_uuid, create_vg, create_lv; stops at the first failure.
    int configure_vg();
    // remove_vg, then remove_pv.
    int unconfigure_vg();

    int create_pv();
    int update_pv_uuid();
    // Creates the group; its free and total extents become LVM's free count
    // less the reserve (rsvd_percentage_cap per cent of it).
    int create_vg();
    // Sizes every LV from the free extents after the reserve, taken once:
    // min(free x min_percentage / 100, max_size GiB in extents).
    int create_lv();
    int create_thick_lv(tw_lv& lv);
    // A thin pool "<lv>_pool" of the LV's extents less 256 MiB held back for
    // pool metadata, and a thin volume of 90 % of the pool.
    int create_thin_lv(tw_lv& lv);
    // Removes the group when LVM knows it; an absent group is success.
    int remove_vg();
    // Removes every held PV; one named "unknown" is passed over.
    int remove_pv();
    // 1 when a held PV has exactly this UUID, else 0.
    int check_pv_exist(const std::string& uuid);

    // Extent counts as vgdisplay reports them; out is left alone when the
    // output holds no number.
    int get_vg_free_extents(const std::string& vg, unsigned long long& free_extents);
    int get_vg_alloc_extents(const std::string& vg, unsigned long long& alloc_extents);
    // Names of all volume groups.
    int scan_vg_cmd(std::list<std::string>& vg_names);
    // Name and UUID of all physical volumes.
    int scan_pv(std::list<tw_pv>& pv_list);
    // The logical volumes of vg as LVM sees them now: name, extents, and
    // whether each is a thin volume (thin pools count as not thin).
    int scan_lv(const std::string& vg, std::list<tw_lv>& lv_list);

    // One command each.
    int create_pv_cmd(const std::string& disk);
    int create_vg_cmd(const std::string& vg, unsigned long long& extent_size, const std::string& pv_text);
    int create_thick_lv_cmd(const std::string& vg, const std::string& lv, unsigned long long& extents);
    // Reduces extents by the metadata hold-back first; the pool gets, and the
    // caller sees, the reduced count.
    int create_thin_pool_cmd(const std::string& vg, const std::string& pool, unsigned long long& extents,
                             unsigned long long& extent_size);
    int create_thin_lv_cmd(const std::string& vg, const std::string& pool, const std::string& lv,
                           unsigned long long& extents, unsigned long long& extent_size);
    int remove_vg_cmd(const std::string& vg);
    int remove_pv_cmd(const std::string& pv);

    // What this object created: whether its create_vg made the group, and the
    // disks its create_pv labelled, in order. A clean-up after a failure
    // removes these and nothing that was there before.
    bool created_vg() const { return created_vg_; }
    const std::list<std::string>& created_pvs() const { return created_pvs_; }

    // The failure messages this object logged, oldest first, for callers that
    // show them to people.
    const std::list<std::string>& get_failures() const { return failures_; }

private:
    int run_cmd(const char* tag, const std::string& cmd, std::string& out);
    int query_extents(const char* tag, const std::string& vg, const char* field, unsigned long long& count);
    void fail(const char* tag, const char* fmt, ...) TW_PRINTF(3);

    tw_debug log_;
    tw_vg vg_;
    bool created_vg_ = false;
    std::list<std::string> created_pvs_;
    std::list<std::string> failures_;
};

#endif
