#ifndef TIDEWALL_FOUNDATION_BLKDEV_PHYSICAL_DISKS_H
#define TIDEWALL_FOUNDATION_BLKDEV_PHYSICAL_DISKS_H

// tw_physical_disks() is declared with the other block-device types.
#include <tidewall/tsaf_blkdev.h>

#endif
