#ifndef TIDEWALL_TW_DM_NAMES_H
#define TIDEWALL_TW_DM_NAMES_H

// Device-mapper's names of LVM volumes: LVM joins group and volume with one
// "-", so a "-" inside either name is doubled. Header-only: the library and
// its callers (twctl among them) name the same devices without a new symbol.

#include <string>

namespace tidewall::blkdev {

// A group or volume name as it appears inside a device-mapper name.
inline std::string dm_mangled(const std::string& name) {
    std::string out;
    for (char c : name) out += c == '-' ? std::string("--") : std::string(1, c);
    return out;
}

// The device-mapper name of volume lv of group vg: "my--vg-data".
inline std::string dm_name(const std::string& vg, const std::string& lv) {
    return dm_mangled(vg) + "-" + dm_mangled(lv);
}

// "/dev/mapper/my--vg-data".
inline std::string dm_mapper_path(const std::string& vg, const std::string& lv) {
    return "/dev/mapper/" + dm_name(vg, lv);
}

// Whether a device-mapper name is that of a volume of group vg. A volume name
// never starts with "-", so "a--b-lv" (group "a-b") is no volume of "a".
inline bool dm_name_in_group(const std::string& dm, const std::string& vg) {
    if (vg.empty()) return false;
    std::string prefix = dm_mangled(vg) + "-";
    return dm.size() > prefix.size() && dm.compare(0, prefix.size(), prefix) == 0 && dm[prefix.size()] != '-';
}

}  // namespace tidewall::blkdev

#endif
