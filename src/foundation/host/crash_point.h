#ifndef TIDEWALL_FOUNDATION_CRASH_POINT_H
#define TIDEWALL_FOUNDATION_CRASH_POINT_H

// TW_CRASH_AT_STEP, a test aid of the real backend (documented in
// docs/time-limits.md beside TW_TIME_LIMIT_CAP_S; never set on a node): when it
// holds a whole number k >= 1, the process kills itself with SIGKILL at its k-th
// step, where a step is a command about to run, a whole-file rewrite about to
// rename its temporary file over the target, or an extended attribute about to
// be written. The integration tier's crash sweep runs an operation once for
// every k and shows that a rerun finishes what the killed run left.
// TW_CRASH_TRACE=FILE appends one line per step ("<k> <kind> <what>") so that
// a sweep knows how many steps an uninterrupted run takes.

namespace tidewall::host {

// Counts one step of the given kind ("command", "rename", "xattr"); what names
// it for the trace. Does nothing unless the aid is set.
void crash_point(const char* kind, const char* what);

}  // namespace tidewall::host

#endif
