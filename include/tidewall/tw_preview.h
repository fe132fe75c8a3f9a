#ifndef TIDEWALL_TW_PREVIEW_H
#define TIDEWALL_TW_PREVIEW_H

#include <tidewall/export.h>

#include <map>
#include <string>
#include <vector>

// Previews of operations that change the node: the steps a run would take now,
// in order, one line each, found with read-only calls. Nothing is changed.

// tw_storage::do_first_boot_operations, or with logrotate_only
// tw_storage::update_logrotate.
TW_API std::vector<std::string> tw_first_boot_preview(bool logrotate_only);

// tw_prune::prune_crash_dumps: the locations it walks (with their
// remove-emptied-directories flag), the dump files it would remove by the same
// rules (older than nArrowfieldDumpValidityHours, or on a file system with less
// free space than nArrowfieldMinFreeSpacePercent) and the directories it would
// try to remove once they are empty. The hosted engine's dumps are not listed:
// finding them takes a command on the engine's node.
struct TW_API tw_prune_preview {
    std::map<std::string, bool> locations;
    std::vector<std::string> files;
    std::vector<std::string> dirs;  // deepest first
};
TW_API tw_prune_preview tw_preview_prune();

#endif
