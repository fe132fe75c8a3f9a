// The drive inventory. It stands behind the drive-operations gate, which is
// closed in this system: the query answers an empty list and runs no tool.

#include <tidewall/tw_platform.h>

std::list<tw_driveinfo>& tw_platform::get_driveinfo() {
    const char* tag = "tw_platform::get_driveinfo";
    drives_.clear();
    if (!hwmon_driveops_supported()) {
        log_.logMessage(tag, 3, "Drive Operations not supported.");
        return drives_;
    }
    // No drive inventory is built behind the gate; while it is closed (always,
    // in this system) the branch above is the whole query.
    return drives_;
}
