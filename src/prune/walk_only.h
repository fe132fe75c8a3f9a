#ifndef TIDEWALL_PRUNE_WALK_ONLY_H
#define TIDEWALL_PRUNE_WALK_ONLY_H

// The pruner's walk without its removals: the same settings, locations and
// rules as a run, and what the run would then remove.

#include <string>
#include <vector>

class tw_prune;

namespace tidewall::prune {

struct would_remove {
    std::vector<std::string> files;  // walk order
    std::vector<std::string> dirs;  // deepest first, in the order the run tries them
};

// Reads the settings, forms the locations (pruner.locations() then names them)
// and walks them as prune_crash_dumps does; removes nothing, asks no other node.
would_remove walk_only(tw_prune& pruner);

}  // namespace tidewall::prune

#endif
