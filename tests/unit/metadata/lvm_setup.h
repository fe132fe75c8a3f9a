#ifndef TIDEWALL_TESTS_METADATA_LVM_SETUP_H
#define TIDEWALL_TESTS_METADATA_LVM_SETUP_H

// Command texts of the LVM tools as the LVM manager runs them, and records to
// build volume groups from, for the metadata storage tests.

#include "test_backend.h"

#include <tidewall/tw_md_storage_config.h>

#include <string>
#include <vector>

namespace tidewall::testing {

inline const std::string kPvScan = "pvdisplay 2>/dev/null | grep \"PV Name\\|PV UUID\" | awk '{print $3}'";
inline const std::string kVgScan = "vgdisplay 2>/dev/null | grep \"VG Name\" | awk '{print $3}'";

inline std::string free_query(const std::string& vg) {
    return "vgdisplay " + vg + " | /bin/grep \"Free\" | awk '{print $5}'";
}
inline std::string alloc_query(const std::string& vg) {
    return "vgdisplay " + vg + " | /bin/grep \"Alloc\" | awk '{print $5}'";
}

inline tw_lv make_lv(const std::string& name, unsigned long long min, unsigned long long max, bool thin) {
    tw_lv lv;
    lv.set_name(name);
    lv.set_min_percentage(min);
    lv.set_max_size(max);
    lv.set_thin_volume(thin);
    return lv;
}

inline tw_vg make_vg(const std::string& name, unsigned long long extent_size, unsigned reserve,
                     const std::vector<std::string>& disks, const std::vector<tw_lv>& lvs) {
    tw_vg vg;
    vg.set_name(name);
    vg.set_extent_size(extent_size);
    vg.set_rsvd_percentage_cap(reserve);
    for (const auto& d : disks) {
        tw_pv pv;
        pv.set_name(d);
        vg.add_pv(pv);
    }
    for (const auto& lv : lvs) vg.add_lv(lv);
    return vg;
}

// The commands run, without those of the server-model and gluster queries that
// building a storage manager or a storage configuration brings along.
inline std::vector<std::string> storage_commands(const test_backend& tb) {
    std::vector<std::string> out;
    for (const auto& c : tb.commands)
        if (c.find("dmidecode") == std::string::npos && c.rfind("gluster ", 0) != 0) out.push_back(c);
    return out;
}

// The messages logged at level -1, in order.
inline std::vector<std::string> failures_logged(const test_backend& tb) {
    std::vector<std::string> out;
    for (const auto& l : tb.logs)
        if (l.level == -1) out.push_back(l.tag + ": " + l.text);
    return out;
}

}  // namespace tidewall::testing

#endif
