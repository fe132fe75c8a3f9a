#ifndef TIDEWALL_FOUNDATION_FS_TREE_CLEANER_H
#define TIDEWALL_FOUNDATION_FS_TREE_CLEANER_H

// Removal of a whole directory tree, the engine of the deferred remover
// (tw_fs_cleaner): through descriptors only, so that a link inside is removed,
// never followed, nothing on another file system is entered, and a directory
// swapped for a link meanwhile cannot lead outside the tree.

#include <string>

namespace tidewall::fs {

// Removes the directory at system_path (as the system names it; the host layer
// maps it) and everything in it; 0 or the first errno met.
int remove_tree(std::string system_path);

}  // namespace tidewall::fs

#endif
