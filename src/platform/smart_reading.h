#ifndef TIDEWALL_PLATFORM_SMART_READING_H
#define TIDEWALL_PLATFORM_SMART_READING_H

// One disk's SMART state read in a single smartctl call that leaves a sleeping
// disk asleep ("-n standby"): for the metrics scrape, which polls every disk
// every minute. The reader of tw_smartctl keeps its own commands.

#include <cstddef>
#include <string>

namespace tidewall::platform {

struct smart_reading {
    enum class state { unreadable, standby, read };
    state result = state::unreadable;
    bool healthy = false;  // the verdict passed (read only)
    std::string serial;  // empty when smartctl printed none
    bool have_attributes = false;  // an attribute table was printed
    size_t faulty_attributes = 0;  // rows at or below their threshold
};

// "smartctl -n standby -H -i -A DEVICE", then with "-d scsi" when the plain
// form could not open the device. A disk in standby or sleep is reported as
// such, never woken.
smart_reading read_smart_unless_asleep(const std::string& device);

// Reads smartctl's combined output; exit_status is smartctl's. Exposed for tests.
smart_reading parse_smart_reading(int exit_status, const std::string& output, bool skip_verdict);

}  // namespace tidewall::platform

#endif
