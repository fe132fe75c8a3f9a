#ifndef TIDEWALL_TW_MD_STORAGE_CONFIG_H
#define TIDEWALL_TW_MD_STORAGE_CONFIG_H

// The layout of a node's metadata storage: disks, one LVM volume group with its
// physical and logical volumes, XFS file systems on the logical volumes and
// where they are mounted. Built from defaults chosen by node type, platform type
// and server model (init, create_config_data) and written as a JSON document
// (get_config_data), or read from such a document (read_config_data).

#include <tidewall/export.h>
#include <tidewall/tw_debug.h>

#include <list>
#include <map>
#include <string>

namespace twjson {
class Object;
}

// --- built-in defaults ---

inline constexpr const char* TW_MD_VG_NAME = "metadatavg";
// Extent size of the volume group in MiB. Not a constant: a program may change
// it before building layouts.
extern TW_API unsigned long long TW_MD_VG_EXTENT_SIZE;
inline constexpr const char* TW_MD_FS_TYPE = "xfs";
inline constexpr const char* TW_MD_FS_ARGS = "noatime,inode64,nofail";
inline constexpr const char* TW_MD_DDB_LV_NAME = "ddb";
inline constexpr const char* TW_MD_DDB_MOUNT_PATH = "/tw/ddb";
inline constexpr const char* TW_MD_INDEX_LV_NAME = "index";
inline constexpr const char* TW_MD_INDEX_MOUNT_PATH = "/opt/tessaline/Dockwright64/IndexCache";
inline constexpr const char* TW_MD_HE_LV_NAME = "dav_he";
inline constexpr const char* TW_MD_HE_MOUNT_PATH = "/tw/dav_he";
inline constexpr const char* TW_MD_CS_LV_NAME = "dav_vm";
inline constexpr const char* TW_MD_CS_MOUNT_PATH = "/tw/dav_vm";
inline constexpr const char* TW_MD_DATA_LV_NAME = "dav_data";
inline constexpr unsigned long long TW_MD_LV_MAX_SIZE = 4096;  // GiB
inline constexpr unsigned long long TW_MD_HE_MAX_SIZE = 64;  // GiB
// Cap of the cs volume in GiB: the larger one on the model with more room.
inline constexpr unsigned long long TW_MD_CS_MAX_SIZE = 550;
inline constexpr unsigned long long TW_MD_CS_MAX_SIZE_RX2540M4 = 850;

// --- records ---

class TW_API tw_node {
public:
    const std::string& get_type() const { return type_; }
    void set_type(const std::string& type) { type_ = type; }
    const std::string& get_platform_type() const { return platform_type_; }
    void set_platform_type(const std::string& platform_type) { platform_type_ = platform_type; }

private:
    std::string type_;  // "Control" or "Data"
    std::string platform_type_;
};

class TW_API tw_disk {
public:
    const std::string& get_name() const { return name_; }
    void set_name(const std::string& name) { name_ = name; }

private:
    std::string name_;  // block device path
};

class TW_API tw_pv {
public:
    const std::string& get_name() const { return name_; }
    void set_name(const std::string& name) { name_ = name; }
    const std::string& get_uuid() const { return uuid_; }
    void set_uuid(const std::string& uuid) { uuid_ = uuid; }

private:
    std::string name_;  // block device path
    std::string uuid_;  // LVM PV UUID
};

class TW_API tw_lv {
public:
    const std::string& get_name() const { return name_; }
    void set_name(const std::string& name) { name_ = name; }
    unsigned long long get_num_extents() const { return num_extents_; }
    void set_num_extents(unsigned long long n) { num_extents_ = n; }
    bool is_thin_volume() const { return thin_volume_; }
    void set_thin_volume(bool thin) { thin_volume_ = thin; }
    unsigned long long get_min_percentage() const { return min_percentage_; }
    void set_min_percentage(unsigned long long p) { min_percentage_ = p; }
    unsigned long long get_max_size() const { return max_size_; }
    void set_max_size(unsigned long long gib) { max_size_ = gib; }

private:
    std::string name_;
    unsigned long long num_extents_ = 0;
    bool thin_volume_ = false;
    unsigned long long min_percentage_ = 0;  // share of the group's free extents, per cent
    unsigned long long max_size_ = 0;  // cap in GiB
};

class TW_API tw_vg {
public:
    const std::string& get_name() const { return name_; }
    void set_name(const std::string& name) { name_ = name; }
    unsigned long long get_extent_size() const { return extent_size_; }
    void set_extent_size(unsigned long long mib) { extent_size_ = mib; }
    unsigned long long get_total_extents() const { return total_extents_; }
    void set_total_extents(unsigned long long n) { total_extents_ = n; }
    unsigned long long get_free_extents() const { return free_extents_; }
    void set_free_extents(unsigned long long n) { free_extents_ = n; }
    unsigned long long get_alloc_extents() const { return alloc_extents_; }
    void set_alloc_extents(unsigned long long n) { alloc_extents_ = n; }
    std::list<tw_pv>& get_pv_list() { return pv_list_; }
    const std::list<tw_pv>& get_pv_list() const { return pv_list_; }
    std::list<tw_lv>& get_lv_list() { return lv_list_; }
    const std::list<tw_lv>& get_lv_list() const { return lv_list_; }
    void add_pv(const tw_pv& pv) { pv_list_.push_back(pv); }
    void add_lv(const tw_lv& lv) { lv_list_.push_back(lv); }
    unsigned get_rsvd_percentage_cap() const { return rsvd_percentage_cap_; }
    void set_rsvd_percentage_cap(unsigned p) { rsvd_percentage_cap_ = p; }

private:
    std::string name_;
    unsigned long long extent_size_ = 0;  // MiB
    unsigned long long total_extents_ = 0;
    unsigned long long free_extents_ = 0;
    unsigned long long alloc_extents_ = 0;
    std::list<tw_pv> pv_list_;
    std::list<tw_lv> lv_list_;
    unsigned rsvd_percentage_cap_ = 0;  // per cent
};

class TW_API tw_fs {
public:
    const std::string& get_blk_device() const { return blk_device_; }
    void set_blk_device(const std::string& dev) { blk_device_ = dev; }
    const std::string& get_fs_type() const { return fs_type_; }
    void set_fs_type(const std::string& type) { fs_type_ = type; }

private:
    std::string blk_device_;  // "/dev/" VG "/" LV
    std::string fs_type_;
};

class TW_API tw_fs_mount {
public:
    const std::string& get_blk_device() const { return blk_device_; }
    void set_blk_device(const std::string& dev) { blk_device_ = dev; }
    const std::string& get_fs_type() const { return fs_type_; }
    void set_fs_type(const std::string& type) { fs_type_ = type; }
    const std::string& get_mnt_path() const { return mnt_path_; }
    void set_mnt_path(const std::string& path) { mnt_path_ = path; }
    const std::string& get_fs_args() const { return fs_args_; }
    void set_fs_args(const std::string& args) { fs_args_ = args; }
    unsigned get_fs_freq() const { return fs_freq_; }
    void set_fs_freq(unsigned freq) { fs_freq_ = freq; }
    unsigned get_fs_passno() const { return fs_passno_; }
    void set_fs_passno(unsigned passno) { fs_passno_ = passno; }

private:
    std::string blk_device_;
    std::string fs_type_;
    std::string mnt_path_;
    std::string fs_args_;  // mount options
    unsigned fs_freq_ = 0;
    unsigned fs_passno_ = 0;
};

// --- the storage configuration ---

class TW_API tw_md_storage_config : public tw_node {
public:
    tw_md_storage_config();

    // Settles node type ("Control", "Data", or empty: from the registry),
    // platform type and server model, and fills the settings. 0 or 1.
    int init(std::string node_type);
    // Builds node, disks, volume group, file systems and mounts from the
    // settings. 0; 1 without a successful init before it, which would leave
    // nothing but empty names to build from, and 1 (naming the node type and
    // platform) when a logical volume of the default layout has no share of the
    // group, which no provisioning could build; nothing is built then.
    int create_config_data(std::list<std::string> disk_list);
    // The same layout without asking that it be buildable: what undoing the
    // default mounts of a node type needs (their paths), whatever the shares.
    int create_layout_as_set(std::list<std::string> disk_list);
    // The layout as a JSON document. 0.
    int get_config_data(std::string& config_data);
    // Appends the layout of a JSON document; needs no init. 0, or non-zero at
    // the first part of the document that is missing or of the wrong kind.
    int read_config_data(const std::string& config_data);

    const std::list<tw_disk>& get_disk_list() const { return disk_list_; }
    tw_vg& get_vg() { return vg_; }
    const tw_vg& get_vg() const { return vg_; }
    std::list<tw_fs>& get_fs_list() { return fs_list_; }
    const std::list<tw_fs>& get_fs_list() const { return fs_list_; }
    std::list<tw_fs_mount>& get_fs_mount_list() { return fs_mount_list_; }
    const std::list<tw_fs_mount>& get_fs_mount_list() const { return fs_mount_list_; }
    void add_disk(const tw_disk& disk) { disk_list_.push_back(disk); }
    void add_vg(const tw_vg& vg) { vg_ = vg; }
    void add_fs(const tw_fs& fs) { fs_list_.push_back(fs); }
    void add_fs_mount(const tw_fs_mount& mount) { fs_mount_list_.push_back(mount); }

    // A setting by name; one never set reads as the empty text.
    std::string get_setting(const std::string& name);
    const std::map<std::string, std::string>& get_settings() const { return settings_; }

    // The failure messages logged by the last init or read_config_data, the
    // innermost first, for callers that show them to people.
    const std::list<std::string>& get_failures() const { return failures_; }

private:
    int init_control_node_lv_config();
    int init_data_node_lv_config();

    int create_node_config();
    int create_disk_config(const std::list<std::string>& disk_list);
    int create_vg_config();
    int create_pv_config();
    int create_lv_config();
    int create_fs_config();
    int create_fs_mount_config();
    void create_json(twjson::Object& doc) const;

    int read_disk_config(twjson::Object& doc);
    int read_vg_config(twjson::Object& doc);
    int read_pv_config(twjson::Object& vg_doc, tw_vg& vg);
    int read_lv_config(twjson::Object& vg_doc, tw_vg& vg);
    int read_fs_config(twjson::Object& doc);
    int read_fs_mount_config(twjson::Object& doc);

    void fail(const char* tag, const std::string& message);
    bool is_reference_architecture();

    tw_debug log_;
    std::list<tw_disk> disk_list_;
    tw_vg vg_;
    std::list<tw_fs> fs_list_;
    std::list<tw_fs_mount> fs_mount_list_;
    std::map<std::string, std::string> settings_;
    std::list<std::string> failures_;
    bool initialised_ = false;
};

#endif
