#ifndef TIDEWALL_TW_STORAGE_H
#define TIDEWALL_TW_STORAGE_H

#include <tidewall/export.h>
#include <tidewall/ts_exception.h>
#include <tidewall/tw_debug.h>

#include <list>
#include <string>

class glfs_admin;

// A data mount path with its free space in GiB (free bytes >> 30).
struct TW_API free_space_info {
    std::string mnt_path;
    unsigned long long free_space = 0;
};

// The storage manager of the node: mount paths, /etc/fstab, ownership stamps,
// disk provisioning, I/O checks, gluster integration and node identity. Build
// one when needed and use it on one thread at a time. Settings are read from
// the registry each time they are asked for, with a compiled-in default.
class TW_API tw_storage {
public:
    enum mnt_path_type {
        MNT_PATH_DDB = 1,
        MNT_PATH_DATAPATH = 2,
        MNT_PATH_GLUSTERFS = 3,
        MNT_PATH_EFI_BOOT = 4,
        MNT_PATH_MALDOR_DATAPATH = 5,
        MNT_PATH_MALDOR_FS = 6,
        MNT_PATH_OTHER = 255,
    };

    // Storage flavours answered by get_sds_type().
    static constexpr unsigned SDS_GLUSTERFS = 1;
    static constexpr unsigned SDS_MALDOR = 2;
    static constexpr unsigned SDS_UNKNOWN = 255;

    tw_storage();
    ~tw_storage();
    tw_storage(const tw_storage&) = delete;
    tw_storage& operator=(const tw_storage&) = delete;

    // Refreshes software subscriptions on a data-mover node; failures are logged.
    void manage_subscriptions();

    // --- mount-path resolution ---
    // Kinds DDB, GlusterFS and Maldor FS; others throw TsException.
    int get_mnt_path(mnt_path_type kind, std::string& path);
    // Data kinds (DATAPATH, MALDOR_DATAPATH): the data mount paths with free space.
    int get_mnt_path(mnt_path_type kind, std::list<free_space_info>& list, bool from_fstab);
    // Search by vendor and product is not provided: always throws.
    int get_mnt_path(mnt_path_type kind, std::string vendor, std::string product, std::string& path);
    std::string get_brick_dir();
    std::string get_mount_options(mnt_path_type kind);
    std::string get_file_system(mnt_path_type kind);
    std::string get_datapath_prefix();
    std::string get_datapath_mount_options();
    std::string get_datapath_file_system();
    std::string get_default_gluster_mount();
    std::string get_maldor_vdisk_mntpath_prefix();
    bool is_sys_mnt_path(std::string path);
    // 0 when path is (or now is) a directory, -20 when it exists as another kind
    // of file; throws TsException when it cannot be created.
    int mkdir(std::string path, unsigned mode);

    // --- data mount paths ---
    int get_datapath_mnt_list(std::list<free_space_info>& list, std::string prefix, std::string fstype,
                              bool from_fstab);

    // --- flavour and identity ---
    int get_server_model(std::string& model);
    int get_imaging_id(int& major, int& minor);
    unsigned get_sds_type();

    // Whether the gluster administration handle could be built.
    bool gluster_admin_available() const { return glfs_available_; }

private:
    std::string resolve_setting(const char* key, const std::string& fallback);
    [[noreturn]] void throw_unsupported(const char* tag, const char* message, int line);

    tw_debug log_;
    glfs_admin* glfs_ = nullptr;
    bool glfs_available_ = false;
    std::string ddb_mnt_path_default_;
    std::string datapath_prefix_default_;
    std::string maldor_datapath_prefix_default_;
    std::string gluster_mnt_path_default_;
    std::string maldor_mnt_path_default_;
    std::string maldor_mount_options_default_;
    std::string ssh_private_key_path_;
};

#endif
