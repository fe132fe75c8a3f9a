#ifndef TIDEWALL_METADATA_RESOURCE_MGR_INTERNAL_H
#define TIDEWALL_METADATA_RESOURCE_MGR_INTERNAL_H

// What the resource manager's files share: the registry keys of its record
// and the one way a failed step of an inner manager is reported.

#include <tidewall/tw_debug.h>

#include <list>
#include <string>

namespace tidewall::metadata {

constexpr const char* kNodeTypeKey = "sArrowfieldNodeType";
constexpr const char* kMetadataVgKey = "sArrowfieldMetadataVG";
constexpr const char* kMetadataPvKey = "sArrowfieldMetadataPV";

// A step of an inner manager (storage config, LVM, file systems) failed with
// rc: its failures become the operation's, then message is recorded under tag,
// so the caller's list reads from the innermost cause out. Returns rc.
int inner_step_failed(tw_debug& log, std::list<std::string>& failures, const std::list<std::string>& inner,
                      const char* tag, const char* message, int rc);

}  // namespace tidewall::metadata

#endif
