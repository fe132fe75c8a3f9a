// The platform object itself: construction, the vendor table, the retry clamp
// and the two capability tests.

#include <tidewall/tw_platform.h>
#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"

#include <set>

const std::map<std::string, system_vendor> vendor_strmap = {
    {"FUJITSU", VENDOR_FUJITSU},       {"HPE", VENDOR_HPE},       {"HP", VENDOR_HPE},      {"DELL", VENDOR_DELL},
    {"Supermicro", VENDOR_SUPERMICRO}, {"Lenovo", VENDOR_LENOVO}, {"Cisco", VENDOR_CISCO},
};

int retry_count_get(int requested, int maximum) {
    if (requested > maximum) return maximum;
    if (requested < 0) return 0;
    return requested;
}

tw_platform::tw_platform() {
    log_.logMessage("tw_platform::tw_platform", tidewall::log_level::trace, "Creating tw_platform instance");
}

tw_platform::~tw_platform() {
    log_.logMessage("tw_platform::~tw_platform", tidewall::log_level::trace, "Cleaning tw_platform instance");
}

bool tw_platform::hwmon_driveops_supported() {
    // Off unless an operator turns it on: drive tools and LED blinking are
    // opt-in on each node.
    unsigned on = 0;
    return tsaf_utils::get_reg_key("nTidewallDriveOperations", on) == 0 && on != 0;
}

bool tw_platform::hwmonitoring_supported() {
    std::set<std::string> models = {
        "FUJITSU_PRIMERGYRX2530M4", "FUJITSU_PRIMERGYRX2540M4", "FUJITSU_PRIMERGYRX2530M5",
        "FUJITSU_PRIMERGYRX2540M5", "Supermicro_SuperServer",   "Supermicro_SSG-6029P-E1CR16T",
    };
    const std::set<std::string> reference_models = {
        "FUJITSU_PRIMERGYRX2530M4",      "FUJITSU_PRIMERGYRX2540M4",      "FUJITSU_PRIMERGYRX2530M5",
        "FUJITSU_PRIMERGYRX2540M5",      "HPE_ProLiantDL380Gen10",        "HPE_ProLiantDL360Gen10",
        "HPE_ProLiantXL420Gen10",        "DellInc._PowerEdgeR740xd",      "DellInc._PowerEdgeR740xd2",
        "Supermicro_SSG-6029P-E1CR12L",  "Supermicro_SSG-6029P-E1CR24L",  "Lenovo_ThinkSystemSR650-[7X06CTO1WW]-",
        "CiscoSystemsInc_UCSC-C220-M5L", "CiscoSystemsInc_UCSC-C240-M5L",
    };

    std::string model;
    {
        tw_storage storage;
        if (storage.get_server_model(model) != 0) return false;
    }

    std::string value;
    // A FUJITSU node forced into reference-architecture mode is not monitored as an appliance.
    if (model.find("FUJITSU") != std::string::npos &&
        tsaf_utils::get_reg_key("sArrowfieldForceRefArchPlatform", value) == 0 &&
        (value.c_str()[0] == 'y' || value.c_str()[0] == 'Y'))
        models.clear();

    // Test switch: monitor the reference models as well.
    value.clear();
    if (tsaf_utils::get_reg_key("sHWMonitorTestRefArchPlatform", value) == 0) {
        value = tsaf_utils::trim(value);
        if (value.c_str()[0] == 'y' || value.c_str()[0] == 'Y')
            models.insert(reference_models.begin(), reference_models.end());
    }
    return models.count(model) != 0;
}
