#ifndef TIDEWALL_FOUNDATION_MOUNT_CHECK_H
#define TIDEWALL_FOUNDATION_MOUNT_CHECK_H

// Whether a mount really happened. mount(8) exits 0 with "nofail" among the
// options even when the device is missing, leaving a bare directory: a caller
// that stamps or records the path must first see it mounted.

#include <string>

namespace tidewall::mount_check {

// True when the mount table's last entry at path (the one in force) is device:
// the same text, the same node once links are resolved (/dev/vg/lv and
// /dev/mapper/vg-lv), or a block device whose number is that of the file
// system now at path.
bool is_mount_of(const std::string& path, const std::string& device);

// True when the mount table has an entry at path.
bool is_mount_point(const std::string& path);

}  // namespace tidewall::mount_check

#endif
