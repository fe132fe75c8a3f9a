#ifndef TIDEWALL_FOUNDATION_LOG_LOG_LEVEL_H
#define TIDEWALL_FOUNDATION_LOG_LOG_LEVEL_H

// The levels of the product log by name. A message is written when its level is
// at most the level in force (TW_DEBUG_LEVEL, else the registry's nDebugLevel).
// Unscoped with int beneath, so that the logger's int parameters take them as
// they are: the numbers are what the log file and the registry carry.

namespace tidewall::log_level {

enum level : int {
    failure = -1,  // always written: something failed
    step = 0,  // the main steps of an operation
    detail = 1,  // the details of a step (a node's default level)
    trace = 2,  // tracing
    dump = 3,  // whole tool outputs
};

}  // namespace tidewall::log_level

#endif
