#ifndef TIDEWALL_FOUNDATION_BLKDEV_PHYSICAL_DISKS_H
#define TIDEWALL_FOUNDATION_BLKDEV_PHYSICAL_DISKS_H

// The node's physical disks for twctl, which links only the shared library:
// exported under the tw_ prefix its version script lets through, but declared
// here, not under include/, as it is no promise to other callers.

#include <tidewall/export.h>

#include <string>
#include <vector>

// The whole disks with a hardware device behind them, as /dev paths in name
// order (blkdev::physical_disks).
TW_API std::vector<std::string> tw_physical_disks();

#endif
