// What kind of appliance the node is: one of the appliance models when its
// server is a supported appliance server, else a reference-architecture node.
// Recorded in the registry for the rest of the product to branch on.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"

#include <cstring>

namespace {

struct model_row {
    const char* server_model;
    const char* version1;  // nullptr: not an appliance on images of version 1
    const char* version2;
};

const model_row kModels[] = {
    {"FUJITSU_PRIMERGYRX2530M4", "RM-110", "RM-110"}, {"FUJITSU_PRIMERGYRX2540M4", "RM-310", "RM-310"},
    {"FUJITSU_PRIMERGYRX2530M5", "RM-110", "RM-210"}, {"FUJITSU_PRIMERGYRX2540M5", "RM-310", "RM-410"},
    {"Supermicro_SuperServer", nullptr, "RM-210"},    {"Supermicro_SSG-6029P-E1CR16T", nullptr, "RM-410"},
};

const char* appliance_type_of(const std::string& model, bool version2) {
    for (const auto& row : kModels)
        if (model == row.server_model) return version2 ? row.version2 : row.version1;
    return nullptr;
}

const char* const kApplianceTypeKey = "sArrowfieldApplianceType";
const char* const kPlatformTypeKey = "sScaleoutPlatformType";
const char* const kForceRefArchKey = "sArrowfieldForceRefArchPlatform";

}  // namespace

int tw_storage::set_arrowfield_platform_type() {
    const char* tag = "tw_storage::set_arrowfield_platform_type";
    std::string model;
    if (get_server_model(model) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to determine server model");
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::failure, "Server model [%s]", model.c_str());

    std::string force;
    bool forced =
        tsaf_utils::get_reg_key(kForceRefArchKey, force) == 0 && !force.empty() && (force[0] == 'y' || force[0] == 'Y');
    if (forced)
        log_.logMessage(tag, tidewall::log_level::failure, "Forcing the platform type as Reference architecture");

    bool version2 = false;
    std::string image;
    if (tsaf_utils::get_reg_key("sArrowfieldImageidentifier", image) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to query registry key sArrowfieldImageidentifier");
    } else {
        if (image.find("Tessaline Arrowfield 2.") != std::string::npos) {
            version2 = true;
            log_.logMessage(tag, tidewall::log_level::step, "This is Arrowfield Version 2.x");
        }
        log_.logMessage(tag, tidewall::log_level::step, "Image id = %s", image.c_str());
    }

    const char* appliance = appliance_type_of(model, version2);
    if (appliance && !forced) {
        if (tsaf_utils::set_reg_key(kApplianceTypeKey, appliance) != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to set registry key sArrowfieldApplianceType");
            return -1;
        }
        if (tsaf_utils::set_reg_key(kPlatformTypeKey, "Arrowfield") != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to set registry key sScaleoutPlatformType");
            return -1;
        }
    } else if (tsaf_utils::set_reg_key(kPlatformTypeKey, "ReferenceArchitecture") != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to set registry key sScaleoutPlatformType");
        return -1;
    }

    // This server family's onboard SATA controller must be left to its own driver.
    if (model.find("CiscoSystemsInc_UCSC-C240") != std::string::npos) {
        log_.logMessage(tag, tidewall::log_level::failure, "Found C240 model.");
        if (tsaf_utils::write("/etc/modprobe.d/ahci.conf", "blacklist ahci") != 0)
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to blacklist ahci");
    }
    return 0;
}

int tw_storage::set_refarch_platform() {
    const char* tag = "tw_storage::set_refarch_platform";
    if (tsaf_utils::set_reg_key(kForceRefArchKey, "Y") != 0) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to set registry key to force the platform as Reference Architecture");
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::failure, "Successfully set the platform type as Reference Architecture");
    return 0;
}

int tw_storage::get_platform_type(std::string& platform_type, std::string& appliance_type) {
    platform_type.clear();
    appliance_type.clear();
    tsaf_utils::get_reg_key(kApplianceTypeKey, appliance_type);
    return tsaf_utils::get_reg_key(kPlatformTypeKey, platform_type) == 0 ? 0 : -1;
}
