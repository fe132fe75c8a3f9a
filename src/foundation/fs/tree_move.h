#ifndef TIDEWALL_FOUNDATION_TREE_MOVE_H
#define TIDEWALL_FOUNDATION_TREE_MOVE_H

// Moving a directory tree to another place, also onto another file system, on
// paths that are already mapped by the host layer.

#include <string>

namespace tidewall::file_io {

// Moves the tree at `from` to `to`: a rename where both lie on one file system;
// across file systems (EXDEV), every entry is copied into `to` (directories
// made, files replaced whole with their mode and owner, links copied as links)
// and `from` is removed only once all of it was copied. Safe to repeat after an
// interruption: a second run copies again what is still at `from` and then
// removes it. Files, directories and links only; anything else fails (EINVAL)
// before `from` loses anything. 0 or an errno value.
int move_tree(const std::string& from, const std::string& to);

// The copy-then-remove half of move_tree, for any two places.
int copy_tree_then_remove(const std::string& from, const std::string& to);

}  // namespace tidewall::file_io

#endif
