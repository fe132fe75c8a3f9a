#ifndef TIDEWALL_FOUNDATION_HOST_TIME_LIMITS_H
#define TIDEWALL_FOUNDATION_HOST_TIME_LIMITS_H

// Every command has a time limit: a hung tool must never hang a caller. The
// limits, in seconds, named once; docs/time-limits.md lists which command uses
// which.

namespace tidewall::time_limits {

// An ordinary tool (lspci, dmidecode, ethtool, lvm's reports, systemctl, ...).
inline constexpr int kDefaultS = 100;
// mkfs of a large disk takes long, but not forever.
inline constexpr int kMkfsS = 7200;
// Mounting replays a file system's log, which on a large one takes minutes.
inline constexpr int kMountS = 600;

}  // namespace tidewall::time_limits

#endif
