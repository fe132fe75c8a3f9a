// What one pruning run would remove now: the pruner's own walk, without its
// removals.

#include <tidewall/tw_preview.h>
#include <tidewall/tw_prune.h>

#include "prune/walk_only.h"

tw_prune_preview tw_preview_prune() {
    tw_prune pruner;
    tidewall::prune::would_remove found = tidewall::prune::walk_only(pruner);
    tw_prune_preview out;
    out.locations = pruner.locations();
    out.files = std::move(found.files);
    out.dirs = std::move(found.dirs);
    return out;
}
