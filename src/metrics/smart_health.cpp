// SMART health of every physical disk of the node (the block devices backed by
// a device: no loop, RAM or zram devices).

#include "metrics/collector.h"

#include <tidewall/tw_smartctl.h>

#include "foundation/tsaf_utils.h"

#include <list>

namespace tidewall::metrics {

namespace {
std::list<std::string> physical_disks() {
    std::list<std::string> names, disks;
    tsaf_utils::read_directory("/sys/block", names);
    names.sort();
    for (const auto& n : names)
        if (n != "." && n != ".." && tsaf_utils::is_dir("/sys/block/" + n + "/device")) disks.push_back("/dev/" + n);
    return disks;
}
} // namespace

bool collect_smart(family_set& out) {
    for (const auto& disk : physical_disks()) {
        tw_smartctl reader(disk);
        bool readable = reader.extractoverallhealth("") == 0;
        out.gauge("tidewall_smart_readable", "Whether the disk's SMART health verdict could be read (1) or not (0).",
                  {{"device", disk}}, readable ? 1 : 0);
        // A verdict that cannot be read is no verdict: no healthy sample then.
        if (!readable) continue;
        out.gauge("tidewall_smart_healthy", "Whether the disk's SMART overall health passed (1) or failed (0).",
                  {{"device", disk}, {"serial", get_drive_serialnum(disk)}}, reader.getoverallhealth() ? 1 : 0);
        if (reader.extractparams() == 0) {
            std::list<smart_param> faulty;
            reader.getfaultyattrs(faulty);
            out.gauge("tidewall_smart_faulty_attributes",
                      "SMART attributes whose normalised value is at or below their threshold.", {{"device", disk}},
                      static_cast<double>(faulty.size()));
        }
    }
    return true;
}

} // namespace tidewall::metrics
