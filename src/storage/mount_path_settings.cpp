// Where each kind of mount path lies, with its mount options and file system:
// the registry key when present, else the compiled-in default.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/throw_error.h"
#include "foundation/log/log_level.h"

#include <cerrno>
#include <sys/stat.h>

#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"

namespace {
const char* const kOtherNotSupported = "Other mount paths not supported";
}

std::string tw_storage::resolve_setting(const char* key, const std::string& fallback) {
    std::string value;
    if (tsaf_utils::get_reg_key(key, value) != 0) value = fallback;
    return value;
}

void tw_storage::throw_unsupported(const char* tag, const char* message, int line) {
    log_.logMessage(tag, tidewall::log_level::failure, "%s", message);
    tidewall::throw_storage_error(tag, message, line);
}

int tw_storage::get_mnt_path(mnt_path_type kind, std::string& path) {
    const char* tag = "tw_storage::get_mnt_path";
    switch (kind) {
    case MNT_PATH_DDB: path = resolve_setting("sTidewallDDBMountPath", ddb_mnt_path_default_); return 0;
    case MNT_PATH_GLUSTERFS: path = resolve_setting("sTidewallGlusterFSMountPath", gluster_mnt_path_default_); return 0;
    case MNT_PATH_MALDOR_FS: path = resolve_setting("sTidewallMaldorFSMountPath", maldor_mnt_path_default_); return 0;
    default: throw_unsupported(tag, kOtherNotSupported, __LINE__);
    }
}

int tw_storage::get_mnt_path(mnt_path_type kind, std::list<free_space_info>& list, bool from_fstab) {
    const char* tag = "tw_storage::get_mnt_path";
    std::string prefix;
    bool flag = false;
    if (kind == MNT_PATH_DATAPATH) {
        prefix = resolve_setting("sTidewallDataPathMountPathPrefix", datapath_prefix_default_);
        flag = false;  // data paths of the gluster flavour are listed as mounted now
    } else if (kind == MNT_PATH_MALDOR_DATAPATH) {
        prefix = resolve_setting("sTidewallMaldorDataPathMountPathPrefix", maldor_datapath_prefix_default_);
        flag = from_fstab;
    } else {
        throw_unsupported(tag, kOtherNotSupported, __LINE__);
    }
    std::string fs = get_file_system(kind);
    get_datapath_mnt_list(list, prefix, fs, flag);
    return 0;
}

int tw_storage::get_mnt_path(mnt_path_type, std::string vendor, std::string product, std::string&) {
    const char* tag = "tw_storage::get_mnt_path";
    log_.logMessage(tag, tidewall::log_level::step, "Mount path search criteria [%s:%s]", vendor.c_str(),
                    product.c_str());
    const char* message = "Search by [vendor:product] currently not supported";
    log_.logMessage(tag, tidewall::log_level::step, "%s", message);
    tidewall::throw_storage_error(tag, message);
}

std::string tw_storage::get_brick_dir() { return resolve_setting("sTidewallGlusterBrickDir", "tw_brick"); }

std::string tw_storage::get_mount_options(mnt_path_type kind) {
    const char* tag = "tw_storage::get_mount_options";
    switch (kind) {
    case MNT_PATH_DDB: return resolve_setting("sTidewallDDBMountOptions", "noatime,inode64,nofail");
    case MNT_PATH_DATAPATH: return resolve_setting("sTidewallDataPathMountOptions", "noatime,inode64,nofail");
    case MNT_PATH_GLUSTERFS: throw_unsupported(tag, "Gluster mount options not supported", __LINE__);
    case MNT_PATH_EFI_BOOT: return resolve_setting("sTidewallEFIBootMountOptions", "nofail");
    case MNT_PATH_MALDOR_DATAPATH:
        return resolve_setting("sTidewallMaldorDataPathMountOptions", "noatime,inode64,nofail");
    case MNT_PATH_MALDOR_FS: return resolve_setting("sTidewallMaldorNFSMountOptions", maldor_mount_options_default_);
    case MNT_PATH_OTHER: throw_unsupported(tag, kOtherNotSupported, __LINE__);
    }
    return "";
}

std::string tw_storage::get_file_system(mnt_path_type kind) {
    const char* tag = "tw_storage::get_file_system";
    switch (kind) {
    case MNT_PATH_DDB: return resolve_setting("sTidewallDDBFileSystem", "xfs");
    case MNT_PATH_DATAPATH: return resolve_setting("sTidewallDataPathFileSystem", "xfs");
    case MNT_PATH_GLUSTERFS: return resolve_setting("sTidewallGlusterFileSystem", "glusterfs");
    case MNT_PATH_EFI_BOOT: return resolve_setting("sTidewallEFIBootFileSystem", "vfat");
    case MNT_PATH_MALDOR_DATAPATH: return resolve_setting("sTidewallMaldorDataPathFileSystem", "xfs");
    case MNT_PATH_MALDOR_FS: return resolve_setting("sTidewallMaldorFileSystem", "nfs");
    case MNT_PATH_OTHER: throw_unsupported(tag, kOtherNotSupported, __LINE__);
    }
    return "";
}

std::string tw_storage::get_datapath_prefix() {
    if (get_sds_type() == SDS_GLUSTERFS)
        return resolve_setting("sTidewallDataPathMountPathPrefix", datapath_prefix_default_);
    return resolve_setting("sTidewallMaldorDataPathMountPathPrefix", maldor_datapath_prefix_default_);
}

std::string tw_storage::get_datapath_mount_options() {
    return get_mount_options(get_sds_type() == SDS_GLUSTERFS ? MNT_PATH_DATAPATH : MNT_PATH_MALDOR_DATAPATH);
}

std::string tw_storage::get_datapath_file_system() {
    return get_file_system(get_sds_type() == SDS_GLUSTERFS ? MNT_PATH_DATAPATH : MNT_PATH_MALDOR_DATAPATH);
}

std::string tw_storage::get_default_gluster_mount() { return gluster_mnt_path_default_; }

std::string tw_storage::get_maldor_vdisk_mntpath_prefix() {
    return resolve_setting("sTidewallMaldorFSMountPath", maldor_mnt_path_default_);
}

bool tw_storage::is_sys_mnt_path(std::string path) {
    return path == "/" || path == "/boot" || path == "/opt" || path == "/root" || path == "/home";
}

int tw_storage::mkdir(std::string path, unsigned mode) {
    const char* tag = "tw_storage::mkdir";
    std::string real = tidewall::host::path(path);
    struct stat st {};
    if (tidewall::file_io::status_of(real, st, true) == 0) return S_ISDIR(st.st_mode) ? 0 : -ENOTDIR;
    if (tidewall::file_io::make_dir(real, static_cast<mode_t>(mode)) == 0) return 0;
    log_.logMessage(tag, tidewall::log_level::failure, "Failed to create directory [%s]", path.c_str());
    tidewall::throw_storage_error(tag, "Failed to create directory " + path);
}
