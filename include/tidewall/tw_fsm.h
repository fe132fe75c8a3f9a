#ifndef TIDEWALL_TW_FSM_H
#define TIDEWALL_TW_FSM_H

// The file-system manager of the metadata storage: makes the file systems of a
// storage configuration on its logical volumes, mounts them, stamps the mount
// paths with the ownership attributes and records them in /etc/fstab (through
// the storage manager, which owns that file's layout); and unmounts them again.
// It keeps only the record of what it mounted and wrote to fstab, and undoes
// nothing: the resource manager decides on clean-up.
//
// Every operation returns 0 on success and non-zero on failure unless it says
// otherwise.

#include <tidewall/export.h>
#include <tidewall/ts_mnt_info.h>
#include <tidewall/tw_debug.h>
#include <tidewall/tw_md_storage_config.h>

#include <cstdio>
#include <list>
#include <string>

class TW_API tw_fsm {
public:
    tw_fsm();
    ~tw_fsm();

    // mkfs for each entry in order; stops at the first failure.
    int configure_fs(std::list<tw_fs>& fs_list);
    // fs_mount, then set_fs_meta_data, then update_fstab.
    int configure_fs_mount(std::list<tw_fs_mount>& mounts);
    // Unmounts each entry's path that is mounted; /etc/fstab and the
    // directories stay as they are.
    int unconfigure_fs_mount(std::list<tw_fs_mount>& mounts);

    // Appends the mount directory of every entry of /etc/mtab.
    int scan_mounted_fs(std::list<std::string>& mounted);
    // Appends every entry of /etc/mtab whole: device, directory, type, options.
    int scan_mounted_fs(std::list<TsMntInfo>& entries);
    // 1 when path equals an entry exactly, else 0.
    int check_fs_mounted(std::list<std::string>& mounted, const std::string& path);
    // Whether path is mounted; true when the mount table cannot be read.
    bool is_mounted(const std::string& path);

    // Creates the mount points and mounts; a path already mounted is an error.
    int fs_mount(std::list<tw_fs_mount>& mounts);
    // The three ownership stamps on each mount path.
    int set_fs_meta_data(std::list<tw_fs_mount>& mounts);
    // One /etc/fstab entry per mount, with the DDB mount options.
    int update_fstab(std::list<tw_fs_mount>& mounts);

    // One command each.
    int mkfs_cmd(const std::string& blk_device, const std::string& fs_type);
    int mount_cmd(const std::string& blk_device, const std::string& mnt_path, const std::string& fs_type,
                  const std::string& fs_args);
    int umount_cmd(const std::string& mnt_path);

    // One extended attribute; the value without a terminating zero.
    int set_xattr_cmd(const std::string& path, const std::string& name, const std::string& value);
    // Appends one entry to an open mount table stream; 0, or 1.
    int add_fstab_entry(FILE* file, const std::string& fsname, const std::string& dir, const std::string& type,
                        const std::string& opts, unsigned freq, unsigned passno);
    // Creates every missing directory of path (always taken as absolute).
    int create_dir(const std::string& path, unsigned mode);

    // The mount paths this object's fs_mount mounted, in order. A clean-up
    // after a failure unmounts these and nothing that was mounted before.
    const std::list<std::string>& mounted_paths() const { return mounted_paths_; }

    // One /etc/fstab entry this object's update_fstab wrote for path, and the
    // entries of the file it replaced (same path or device), as they were read.
    struct fstab_change {
        std::string path;
        std::list<TsMntInfo> replaced;
    };
    // In the order written. An entry that was already there as asked is no change.
    const std::list<fstab_change>& fstab_changes() const { return fstab_changes_; }

    // The failure messages this object logged, oldest first, for callers that
    // show them to people.
    const std::list<std::string>& get_failures() const { return failures_; }

private:
    int run_cmd(const char* tag, const std::string& cmd, int time_limit_s = 0);
    void fail(const char* tag, const char* fmt, ...) TW_PRINTF(3);

    tw_debug log_;
    std::list<std::string> mounted_paths_;
    std::list<fstab_change> fstab_changes_;
    std::list<std::string> failures_;
};

#endif
