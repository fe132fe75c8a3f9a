#ifndef TIDEWALL_TW_ACTIVITY_H
#define TIDEWALL_TW_ACTIVITY_H

#include <tidewall/export.h>

// How many of the daily sar activity files (/var/log/sa/sa01 to sa31) exist.
// With none, every activity average (CPU, network, drives) is 0 because there
// is nothing to average, not because the node was idle.
TW_API unsigned tw_activity_file_count();

#endif
