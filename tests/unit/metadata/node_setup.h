#ifndef TIDEWALL_TESTS_METADATA_NODE_SETUP_H
#define TIDEWALL_TESTS_METADATA_NODE_SETUP_H

// A node for the storage configuration: its registry values and the server
// model that dmidecode reports.

#include "test_backend.h"

#include <optional>
#include <string>

namespace tidewall::testing {

inline void set_node(test_backend& tb, const std::string& node_type, const std::string& platform_type,
                     const std::string& model) {
    if (!node_type.empty()) tb.set_key("sArrowfieldNodeType", node_type);
    if (!platform_type.empty()) tb.set_key("sScaleoutPlatformType", platform_type);
    tb.fallback = [model](const std::string& cmd) -> std::optional<host::command_result> {
        if (cmd.find("dmidecode --type system") == std::string::npos) return std::nullopt;
        host::command_result r;
        r.out = model + "\n";
        return r;
    };
}

}  // namespace tidewall::testing

#endif
