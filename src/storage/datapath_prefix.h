#ifndef TIDEWALL_STORAGE_DATAPATH_PREFIX_H
#define TIDEWALL_STORAGE_DATAPATH_PREFIX_H

#include <string>

namespace tidewall::storage {

// Records the data mount-path prefix a slot scan or provisioning call uses: one
// string for the whole process (tw_storage::last_datapath_prefix reads it).
void remember_datapath_prefix(const std::string& prefix);

}  // namespace tidewall::storage

#endif
