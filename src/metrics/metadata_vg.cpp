// The metadata volume group's size and free space, once it is configured
// (sArrowfieldMetadataVG names it).

#include "metrics/collector.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/time_limits.h"

#include <sstream>

namespace tidewall::metrics {

bool collect_metadata_vg(family_set& out) {
    std::string vg;
    if (tsaf_utils::get_reg_key("sArrowfieldMetadataVG", vg) != 0 || vg.empty()) return true;  // not configured
    std::list<std::string> lines;
    std::string cmd = "vgs --noheadings --units b --nosuffix -o vg_size,vg_free " + tidewall::shell_quote(vg);
    if (tsaf_utils::popen(cmd, lines, tidewall::time_limits::kDefaultS) != 0 || lines.empty()) return false;
    std::istringstream in(lines.front());
    double size = 0, free = 0;
    if (!(in >> size >> free)) return false;
    out.gauge("tidewall_metadata_vg_size_bytes", "Size of the metadata volume group.", {{"vg", vg}}, size);
    out.gauge("tidewall_metadata_vg_free_bytes", "Unallocated space of the metadata volume group.", {{"vg", vg}}, free);
    return true;
}

}  // namespace tidewall::metrics
