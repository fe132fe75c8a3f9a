// The settings of the storage configuration: node type and platform type from
// the caller or the registry, the server model, the built-in names and sizes,
// and the minimum shares of the logical volumes per node type and platform.

#include <tidewall/tw_md_storage_config.h>
#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "metadata/storage_config_internal.h"

#include <limits>
#include <string>

unsigned long long TW_MD_VG_EXTENT_SIZE = 4;

namespace tidewall::md {

unsigned long long convert_ull(const std::string& text) {
    constexpr unsigned long long max = std::numeric_limits<unsigned long long>::max();
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (max - digit) / 10) return max;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace tidewall::md

using namespace tidewall::md;

namespace {

const char* const kNodeTypeKey = "sArrowfieldNodeType";
const char* const kPlatformTypeKey = "sScaleoutPlatformType";

bool valid_node_type(const std::string& type) { return type == kControlNode || type == kDataNode; }

}  // namespace

tw_md_storage_config::tw_md_storage_config() = default;

void tw_md_storage_config::fail(const char* tag, const std::string& message) {
    log_.logMessage(tag, tidewall::log_level::failure, "%s", message.c_str());
    failures_.push_back(message);
}

std::string tw_md_storage_config::get_setting(const std::string& name) { return settings_[name]; }

bool tw_md_storage_config::is_reference_architecture() { return settings_[kPlatformType] == kReferenceArchitecture; }

int tw_md_storage_config::init(std::string node_type) {
    const char* tag = "tw_md_storage_config::init";
    failures_.clear();
    initialised_ = false;
    if (!node_type.empty() && !valid_node_type(node_type)) {
        fail(tag, "not a valid node type [" + node_type + "]");
        return 1;
    }
    if (node_type.empty()) {
        if (tsaf_utils::get_reg_key(kNodeTypeKey, node_type) != 0 || node_type.empty()) {
            fail(tag, std::string("reading reg key failed for [") + kNodeTypeKey + "]");
            return 1;
        }
        // The registry is checked like an argument: an unknown value there
        // must not quietly give a data node's layout.
        if (!valid_node_type(node_type)) {
            fail(tag, "not a valid node type [" + node_type + "]");
            return 1;
        }
    }
    std::string platform_type;
    if (tsaf_utils::get_reg_key(kPlatformTypeKey, platform_type) != 0 || platform_type.empty()) {
        fail(tag, std::string("reading reg key failed for [") + kPlatformTypeKey + "]");
        return 1;
    }

    settings_[kNodeType] = node_type;
    settings_[kPlatformType] = platform_type;
    settings_[kVgName] = TW_MD_VG_NAME;
    settings_[kVgExtentSize] = std::to_string(TW_MD_VG_EXTENT_SIZE);
    settings_[kFsType] = TW_MD_FS_TYPE;
    settings_[kFsArgs] = TW_MD_FS_ARGS;
    settings_[kDdbLvName] = TW_MD_DDB_LV_NAME;
    settings_[kDdbMountPath] = TW_MD_DDB_MOUNT_PATH;
    settings_[kIndexLvName] = TW_MD_INDEX_LV_NAME;
    settings_[kIndexMountPath] = TW_MD_INDEX_MOUNT_PATH;
    settings_[kHeLvName] = TW_MD_HE_LV_NAME;
    settings_[kCsLvName] = TW_MD_CS_LV_NAME;
    settings_[kHeMountPath] = TW_MD_HE_MOUNT_PATH;
    settings_[kCsMountPath] = TW_MD_CS_MOUNT_PATH;
    settings_[kLvMaxSize] = std::to_string(TW_MD_LV_MAX_SIZE);
    settings_[kHeMaxSize] = std::to_string(TW_MD_HE_MAX_SIZE);

    std::string model;
    {
        tw_storage storage;
        if (storage.get_server_model(model) != 0) {
            fail(tag, "Failed to determine server model");
            return 1;
        }
    }
    settings_[kModel] = model;
    settings_[kCsMaxSize] = std::to_string(model == kFujitsuRx2540M4 ? TW_MD_CS_MAX_SIZE_RX2540M4 : TW_MD_CS_MAX_SIZE);
    log_.logMessage(tag, tidewall::log_level::detail, "node type [%s] platform type [%s] model [%s]", node_type.c_str(),
                    platform_type.c_str(), model.c_str());

    if (node_type == kControlNode)
        init_control_node_lv_config();
    else
        init_data_node_lv_config();
    initialised_ = true;
    return 0;
}

int tw_md_storage_config::init_control_node_lv_config() {
    if (is_reference_architecture()) {
        settings_[kDdbLvMinSize] = "50";
        settings_[kIndexLvMinSize] = "45";
    } else if (settings_[kModel] == kFujitsuRx2540M4) {
        settings_[kDdbLvMinSize] = "40";
        settings_[kIndexLvMinSize] = "30";
        settings_[kCsLvMinSize] = "20";
        settings_[kHeLvMinSize] = "5";
    } else {
        settings_[kDdbLvMinSize] = "30";
        settings_[kIndexLvMinSize] = "25";
        settings_[kCsLvMinSize] = "30";
        settings_[kHeLvMinSize] = "10";
    }
    return 0;
}

int tw_md_storage_config::init_data_node_lv_config() {
    if (is_reference_architecture()) settings_[kIndexLvMinSize] = "90";
    return 0;
}
