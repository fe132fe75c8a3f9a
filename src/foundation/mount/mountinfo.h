#ifndef TIDEWALL_FOUNDATION_MOUNT_MOUNTINFO_H
#define TIDEWALL_FOUNDATION_MOUNT_MOUNTINFO_H

// The kernel's own mount table, /proc/self/mountinfo (proc(5)): unlike
// /etc/mtab it names the device number of every mount, whatever path its
// source was given by. Paths come with the same octal escapes as fstab(5).

#include <string>
#include <vector>

namespace tidewall::mount_table {

struct mountinfo_entry {
    std::string devnum;  // "major:minor" of the mounted file system
    std::string root;  // the directory of that file system mounted here
    std::string mount_point;
    std::string fs_type;  // after the "-" separator
    std::string source;  // the mount source, "none" or a device path
};

// One entry per line with at least the fields up to the mount point; the
// fields after the optional ones are empty when a line stops short of them.
std::vector<mountinfo_entry> parse_mountinfo(const std::string& text);

// Reads /proc/self/mountinfo through the host layer; 0 or an errno value.
int read_mountinfo(std::vector<mountinfo_entry>& entries);

}  // namespace tidewall::mount_table

#endif
