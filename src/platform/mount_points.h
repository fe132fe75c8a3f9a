#ifndef TIDEWALL_PLATFORM_MOUNT_POINTS_H
#define TIDEWALL_PLATFORM_MOUNT_POINTS_H

#include <tidewall/tw_debug.h>

#include <dirent.h>
#include <string>

// 1 when path is mounted, 0 when not, -1 when the mount table cannot be read.
int mntpath_get_mounted_status(std::string path);
// How full the file system mounted at path is, in percent (df); 0 when unknown.
unsigned mntpath_get_percentused(tw_debug& log, std::string path);
// scandir filter: entries whose name begins with "disk".
int disk_select(const struct dirent* entry);

#endif
