#ifndef TIDEWALL_METADATA_STORAGE_CONFIG_INTERNAL_H
#define TIDEWALL_METADATA_STORAGE_CONFIG_INTERNAL_H

// Names and conversions shared by the parts of the storage configuration.

#include <string>

namespace tidewall::md {

// Settings table keys.
inline constexpr const char* kNodeType = "node_type";
inline constexpr const char* kPlatformType = "platform_type";
inline constexpr const char* kModel = "model";
inline constexpr const char* kVgName = "md_vg_name";
inline constexpr const char* kVgExtentSize = "md_vg_extent_size";
inline constexpr const char* kFsType = "md_fs_type";
inline constexpr const char* kFsArgs = "md_fs_args";
inline constexpr const char* kDdbLvName = "md_ddb_lv_name";
inline constexpr const char* kDdbMountPath = "md_ddb_mount_path";
inline constexpr const char* kIndexLvName = "md_index_lv_name";
inline constexpr const char* kIndexMountPath = "md_index_mount_path";
inline constexpr const char* kHeLvName = "md_he_lv_name";
inline constexpr const char* kCsLvName = "md_cs_lv_name";
inline constexpr const char* kHeMountPath = "md_he_mount_path";
inline constexpr const char* kCsMountPath = "md_cs_mount_path";
inline constexpr const char* kLvMaxSize = "md_lv_max_size";
inline constexpr const char* kHeMaxSize = "md_he_max_size";
inline constexpr const char* kCsMaxSize = "md_cs_max_size";
inline constexpr const char* kDdbLvMinSize = "md_ddb_lv_min_size";
inline constexpr const char* kIndexLvMinSize = "md_index_lv_min_size";
inline constexpr const char* kCsLvMinSize = "md_cs_lv_min_size";
inline constexpr const char* kHeLvMinSize = "md_he_lv_min_size";

inline constexpr const char* kControlNode = "Control";
inline constexpr const char* kDataNode = "Data";
inline constexpr const char* kReferenceArchitecture = "ReferenceArchitecture";
inline constexpr const char* kFujitsuRx2540M4 = "FUJITSU_PRIMERGYRX2540M4";

// The leading decimal digits of text as a number; 0 when there are none, the
// largest number when they run past it.
unsigned long long convert_ull(const std::string& text);

}  // namespace tidewall::md

#endif
