// The default layout, built from the settings: node, disks, the volume group
// with one PV per disk and its logical volumes, then the file systems and their
// mounts.

#include <tidewall/tw_md_storage_config.h>

#include "foundation/log/log_level.h"
#include "metadata/storage_config_internal.h"

using namespace tidewall::md;

namespace {

// A logical volume of the default layout: its name, share and size-cap settings.
struct lv_row {
    const char* name;
    const char* min;
    const char* max;
    bool thin;
};

// index, ddb (control nodes), then cs and he (not on a reference architecture).
std::list<lv_row> lv_rows(bool control, bool reference_architecture) {
    std::list<lv_row> rows{{kIndexLvName, kIndexLvMinSize, kLvMaxSize, false}};
    if (control) rows.push_back({kDdbLvName, kDdbLvMinSize, kLvMaxSize, true});
    if (!reference_architecture) {
        rows.push_back({kCsLvName, kCsLvMinSize, kCsMaxSize, false});
        rows.push_back({kHeLvName, kHeLvMinSize, kHeMaxSize, false});
    }
    return rows;
}

}  // namespace

int tw_md_storage_config::create_config_data(std::list<std::string> disk_list) {
    const char* tag = "tw_md_storage_config::create_config_data";
    if (!initialised_) {
        fail(tag, "storage config is not initialised");
        return 1;
    }
    // A volume with no share of the group gets 0 extents and fails only when
    // provisioning is half done ("--extents may not be zero"): refuse it here.
    std::string unshared;
    for (const auto& row : lv_rows(settings_[kNodeType] == kControlNode, is_reference_architecture()))
        if (convert_ull(settings_[row.min]) == 0) unshared += (unshared.empty() ? "" : ", ") + settings_[row.name];
    if (!unshared.empty()) {
        fail(tag, "no default metadata layout for node type [" + settings_[kNodeType] + "] on platform [" +
                      settings_[kPlatformType] + "]: logical volume(s) [" + unshared +
                      "] would get no share of the group");
        return 1;
    }
    return create_layout_as_set(disk_list);
}

int tw_md_storage_config::create_layout_as_set(std::list<std::string> disk_list) {
    if (!initialised_) {
        fail("tw_md_storage_config::create_config_data", "storage config is not initialised");
        return 1;
    }
    create_node_config();
    create_disk_config(disk_list);
    create_vg_config();
    create_fs_config();
    create_fs_mount_config();
    log_.logMessage("tw_md_storage_config::create_config_data", tidewall::log_level::detail,
                    "layout for node type [%s]: [%zu] disks, [%zu] logical volumes, [%zu] mounts", get_type().c_str(),
                    disk_list_.size(), vg_.get_lv_list().size(), fs_mount_list_.size());
    return 0;
}

int tw_md_storage_config::create_node_config() {
    set_type(settings_[kNodeType]);
    set_platform_type(settings_[kPlatformType]);
    return 0;
}

int tw_md_storage_config::create_disk_config(const std::list<std::string>& disk_list) {
    for (const auto& name : disk_list) {
        tw_disk disk;
        disk.set_name(name);
        add_disk(disk);
    }
    return 0;
}

int tw_md_storage_config::create_vg_config() {
    vg_.set_name(settings_[kVgName]);
    vg_.set_extent_size(convert_ull(settings_[kVgExtentSize]));
    vg_.set_rsvd_percentage_cap(0);
    create_pv_config();
    create_lv_config();
    return 0;
}

int tw_md_storage_config::create_pv_config() {
    for (const auto& disk : disk_list_) {
        tw_pv pv;
        pv.set_name(disk.get_name());
        vg_.add_pv(pv);
    }
    return 0;
}

int tw_md_storage_config::create_lv_config() {
    for (const auto& row : lv_rows(settings_[kNodeType] == kControlNode, is_reference_architecture())) {
        tw_lv lv;
        lv.set_name(settings_[row.name]);
        lv.set_min_percentage(convert_ull(settings_[row.min]));
        lv.set_max_size(convert_ull(settings_[row.max]));
        lv.set_thin_volume(row.thin);
        vg_.add_lv(lv);
    }
    return 0;
}

namespace {

// The volumes that get a file system and a mount, in the order they are
// listed: LV name setting and mount path setting.
struct fs_row {
    const char* lv_name;
    const char* mount_path;
};

// ddb (control nodes), then he and cs (not on a reference architecture), then index.
std::list<fs_row> fs_rows(bool control, bool reference_architecture) {
    std::list<fs_row> rows;
    if (control) rows.push_back({kDdbLvName, kDdbMountPath});
    if (!reference_architecture) {
        rows.push_back({kHeLvName, kHeMountPath});
        rows.push_back({kCsLvName, kCsMountPath});
    }
    rows.push_back({kIndexLvName, kIndexMountPath});
    return rows;
}

}  // namespace

int tw_md_storage_config::create_fs_config() {
    for (const auto& row : fs_rows(settings_[kNodeType] == kControlNode, is_reference_architecture())) {
        tw_fs fs;
        fs.set_blk_device("/dev/" + settings_[kVgName] + "/" + settings_[row.lv_name]);
        fs.set_fs_type(settings_[kFsType]);
        add_fs(fs);
    }
    return 0;
}

int tw_md_storage_config::create_fs_mount_config() {
    for (const auto& row : fs_rows(settings_[kNodeType] == kControlNode, is_reference_architecture())) {
        tw_fs_mount mount;
        mount.set_blk_device("/dev/" + settings_[kVgName] + "/" + settings_[row.lv_name]);
        mount.set_fs_type(settings_[kFsType]);
        mount.set_mnt_path(settings_[row.mount_path]);
        mount.set_fs_args(settings_[kFsArgs]);
        mount.set_fs_freq(1);
        mount.set_fs_passno(1);
        add_fs_mount(mount);
    }
    return 0;
}
