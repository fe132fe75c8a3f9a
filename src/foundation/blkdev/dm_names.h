#ifndef TIDEWALL_FOUNDATION_BLKDEV_DM_NAMES_H
#define TIDEWALL_FOUNDATION_BLKDEV_DM_NAMES_H

// Device-mapper names, written once in the public header that callers share.
#include <tidewall/tw_dm_names.h>

#endif
