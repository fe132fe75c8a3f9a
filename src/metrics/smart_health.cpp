// SMART health of every physical disk of the node (the block devices backed by
// a device: no loop, RAM or zram devices). Disks are read side by side, a few
// at a time, each in one smartctl call that leaves a sleeping disk asleep.

#include "metrics/collector.h"

#include "foundation/blkdev/disk_view.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"
#include "foundation/host/worker_pool.h"
#include "platform/smart_reading.h"

#include <list>
#include <vector>

namespace tidewall::metrics {

namespace {

using platform::smart_reading;

}  // namespace

bool collect_smart(family_set& out) {
    const std::vector<std::string> disks = blkdev::physical_disks();
    std::vector<smart_reading> readings(disks.size());
    std::vector<char> done(disks.size(), 0);
    host::run_bounded(disks.size(), kSmartReaders, [&](size_t i) {
        readings[i] = platform::read_smart_unless_asleep(disks[i]);
        done[i] = 1;
    });

    const auto deadline = host::thread_deadline();
    const bool late = deadline && tidewall::host::steady_now() >= *deadline;
    bool cut_short = false;
    for (size_t i = 0; i < disks.size(); ++i) {
        const std::string& disk = disks[i];
        const smart_reading& r = readings[i];
        // A disk the deadline left unread is unreadable now; the collector says it was cut short.
        if (!done[i] || (late && r.result == smart_reading::state::unreadable)) cut_short = true;
        const bool readable = done[i] && r.result == smart_reading::state::read;
        const bool asleep = done[i] && r.result == smart_reading::state::standby;
        out.gauge("tidewall_smart_readable", "Whether the disk's SMART health verdict could be read (1) or not (0).",
                  {{"device", disk}}, readable ? 1 : 0);
        out.gauge("tidewall_smart_standby",
                  "Whether the disk was spun down (standby or sleep) and left so: no verdict read (1), or not (0).",
                  {{"device", disk}}, asleep ? 1 : 0);
        // A verdict that cannot be read is no verdict: no healthy sample then.
        if (!readable) continue;
        out.gauge("tidewall_smart_healthy", "Whether the disk's SMART overall health passed (1) or failed (0).",
                  {{"device", disk}, {"serial", r.serial}}, r.healthy ? 1 : 0);
        if (r.have_attributes)
            out.gauge("tidewall_smart_faulty_attributes",
                      "SMART attributes whose normalised value is at or below their threshold.", {{"device", disk}},
                      static_cast<double>(r.faulty_attributes));
    }
    if (cut_short) report_cut_short();
    return true;
}

}  // namespace tidewall::metrics
