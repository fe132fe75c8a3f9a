// tidewall_node_info: the server model, storage flavour, platform type and
// image version of this node, as labels.

#include "metrics/collector.h"

#include <tidewall/tw_storage.h>

namespace tidewall::metrics {

namespace {
std::string flavour_name(unsigned sds) {
    if (sds == tw_storage::SDS_GLUSTERFS) return "glusterfs";
    if (sds == tw_storage::SDS_MALDOR) return "maldor";
    return "unknown";
}
}  // namespace

bool collect_node_identity(family_set& out) {
    tw_storage storage;
    std::string model, platform_type, appliance_type, image;
    storage.get_server_model(model);
    storage.get_platform_type(platform_type, appliance_type);
    int major = 0, minor = 0;
    if (storage.get_imaging_id(major, minor) == 0) image = std::to_string(major) + "." + std::to_string(minor);
    out.gauge("tidewall_node_info",
              "Identity of the node: server model, storage flavour, platform type, appliance type, image version.",
              {{"server_model", model},
               {"flavour", flavour_name(storage.get_sds_type())},
               {"platform_type", platform_type},
               {"appliance_type", appliance_type},
               {"image_version", image}},
              1);
    return true;
}

}  // namespace tidewall::metrics
