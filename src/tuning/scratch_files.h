#ifndef TIDEWALL_TUNING_SCRATCH_FILES_H
#define TIDEWALL_TUNING_SCRATCH_FILES_H

// Tuning's backups and scratch copies live in the root-only state directory
// (/var/lib/tidewall), never under a fixed name in /tmp: there another account
// could plant a FIFO (and hang the run) or a file of its own (and receive root's
// copy of a private file).

#include <string>

namespace tidewall::tuning {

// The system path of name in the state directory.
std::string private_copy_path(const std::string& name);

// Keeps text as <state directory>/<name>, mode 0600: written to a fresh file made
// with mkstemp beside it, checked with fstat, then renamed over the name, so
// whatever stood at the name is replaced, never opened. name is one path
// component. 0 or an errno value (EPERM: the state directory is not safe).
int keep_private_copy(const std::string& name, const std::string& text);

}  // namespace tidewall::tuning

#endif
