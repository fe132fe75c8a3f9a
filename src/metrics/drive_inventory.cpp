// Per-drive metrics from the drive inventory. Empty while the drive-operations
// gate (nTidewallDriveOperations) is closed.

#include "metrics/collector.h"

#include <tidewall/tw_platform.h>

namespace tidewall::metrics {

namespace {
// Rates over this window: observers move no sLastMonitorTimeDrive key.
constexpr unsigned kRateMinutes = 5;
constexpr double kSectorBytes = 512;  // sar counts 512-byte sectors whatever the drive's own size
}  // namespace

bool collect_drives(family_set& out) {
    if (!tw_platform::hwmon_driveops_supported()) return true;
    tw_platform platform;
    for (const auto& d : platform.get_driveinfo(kRateMinutes)) {
        out.gauge("tidewall_drive_info", "A drive backing a data mount path, with its identity as labels.",
                  {{"device", d.get_devname()},
                   {"vendor", d.get_vendor()},
                   {"model", d.get_model()},
                   {"serial", d.get_serialnum()},
                   {"type", d.get_type()},
                   {"drive_number", d.get_drivenum()}},
                  1);
        out.gauge("tidewall_drive_read_bytes_per_second", "Average read rate over the last 5 minutes, from sar.",
                  {{"device", d.get_devname()}}, d.get_rdsectps() * kSectorBytes);
        out.gauge("tidewall_drive_write_bytes_per_second", "Average write rate over the last 5 minutes, from sar.",
                  {{"device", d.get_devname()}}, d.get_wrsectps() * kSectorBytes);
    }
    return true;
}

}  // namespace tidewall::metrics
