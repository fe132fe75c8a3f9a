// The file-system manager's single steps: mkfs, mount and umount commands with
// their exact texts, one extended attribute, one mount-table entry, and the
// creation of a mount point's directories.

#include <tidewall/tw_fsm.h>

#include "foundation/compat/ts_process.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/mount_check.h"
#include "metadata/failure_record.h"

#include <cerrno>
#include <cstdarg>
#include <mntent.h>
#include <sys/stat.h>
#include <vector>

using tidewall::shell_quote;

tw_fsm::tw_fsm() { log_.logMessage("tw_fsm::tw_fsm", tidewall::log_level::trace, "Creating tw_fsm instance"); }

tw_fsm::~tw_fsm() { log_.logMessage("tw_fsm::~tw_fsm", tidewall::log_level::trace, "Cleaning tw_fsm instance"); }

void tw_fsm::fail(const char* tag, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    tidewall::metadata::record_failure(log_, failures_, tag, fmt, args);
    va_end(args);
}

int tw_fsm::run_cmd(const char* tag, const std::string& cmd, int time_limit_s) {
    log_.logMessage(tag, tidewall::log_level::step, "command [%s]", cmd.c_str());
    std::string out, err;
    if (TsProcess::system(cmd, &out, &err, time_limit_s, false) != 0) {
        fail(tag, "command [%s] failed with error [%s]", cmd.c_str(), err.c_str());
        return 1;
    }
    return 0;
}

int tw_fsm::mkfs_cmd(const std::string& blk_device, const std::string& fs_type) {
    const char* tag = "tw_fsm::mkfs_cmd";
    std::string cmd = "echo y | mkfs -t " + shell_quote(fs_type) + " ";
    if (fs_type == "xfs") cmd += "-i size=512 -f ";
    cmd += shell_quote(blk_device);
    if (run_cmd(tag, cmd, TsProcess::kMkfsTimeLimitS) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "fs created name [%s] type [%s]", blk_device.c_str(),
                    fs_type.c_str());
    return 0;
}

int tw_fsm::mount_cmd(const std::string& blk_device, const std::string& mnt_path, const std::string& fs_type,
                      const std::string& fs_args) {
    const char* tag = "tw_fsm::mount_cmd";
    std::string cmd = "mount -t " + shell_quote(fs_type) + " -o " + shell_quote(fs_args) + " " +
                      shell_quote(blk_device) + " " + shell_quote(mnt_path);
    if (run_cmd(tag, cmd, TsProcess::kMountTimeLimitS) != 0) return 1;
    // With nofail, mount(8) exits 0 for a missing device: stamping and
    // recording the bare directory would report storage that is not there.
    if (!tidewall::mount_check::is_mount_of(mnt_path, blk_device)) {
        fail(tag, "command [%s] exited 0 but [%s] is not mounted at [%s]", cmd.c_str(), blk_device.c_str(),
             mnt_path.c_str());
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "fs mounted name [%s] mnt path [%s]", blk_device.c_str(),
                    mnt_path.c_str());
    return 0;
}

int tw_fsm::umount_cmd(const std::string& mnt_path) {
    const char* tag = "tw_fsm::umount_cmd";
    if (run_cmd(tag, "umount " + shell_quote(mnt_path)) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "fs umounted name mnt path [%s]", mnt_path.c_str());
    return 0;
}

int tw_fsm::set_xattr_cmd(const std::string& path, const std::string& name, const std::string& value) {
    const char* tag = "tw_fsm::set_xattr_cmd";
    if (tidewall::host::current().set_xattr(tidewall::host::path(path), name, value) != 0) {
        fail(tag, "failed to set extended attribute path [%s] name [%s] value [%s]", path.c_str(), name.c_str(),
             value.c_str());
        return 1;
    }
    return 0;
}

int tw_fsm::add_fstab_entry(FILE* file, const std::string& fsname, const std::string& dir, const std::string& type,
                            const std::string& opts, unsigned freq, unsigned passno) {
    const char* tag = "tw_fsm::add_fstab_entry";
    // addmntent takes the texts as writable C strings but does not change them.
    std::string name_buf = fsname, dir_buf = dir, type_buf = type, opts_buf = opts;
    struct mntent entry {};
    entry.mnt_fsname = name_buf.data();
    entry.mnt_dir = dir_buf.data();
    entry.mnt_type = type_buf.data();
    entry.mnt_opts = opts_buf.data();
    entry.mnt_freq = static_cast<int>(freq);
    entry.mnt_passno = static_cast<int>(passno);
    if (!file || ::addmntent(file, &entry) != 0) {
        fail(tag, "failed to add mount entry");
        return 1;
    }
    return 0;
}

int tw_fsm::create_dir(const std::string& path, unsigned mode) {
    const char* tag = "tw_fsm::create_dir";
    std::vector<std::string> pieces;
    for (size_t i = 0; i <= path.size();) {
        size_t slash = path.find('/', i);
        if (slash == std::string::npos) slash = path.size();
        if (slash > i) pieces.push_back(path.substr(i, slash - i));
        i = slash + 1;
    }
    std::string prefix;
    for (const auto& piece : pieces) {
        prefix += "/" + piece;
        std::string real = tidewall::host::path(prefix);
        struct stat st {};
        const int err = tidewall::file_io::status_of(real, st, true);
        if (err == 0) {
            log_.logMessage(tag, tidewall::log_level::step, "path [%s] [%s] exist", path.c_str(), prefix.c_str());
            if (!S_ISDIR(st.st_mode)) {
                fail(tag, "path [%s] [%s] is not a directory", path.c_str(), prefix.c_str());
                return 1;
            }
            continue;
        }
        if (err != ENOENT) {
            fail(tag, "stat failed dir [%s] error [%d]", prefix.c_str(), err);
            return 1;
        }
        log_.logMessage(tag, tidewall::log_level::step, "creating dir [%s]", prefix.c_str());
        if (tidewall::file_io::make_dir(real, static_cast<mode_t>(mode)) != 0) {
            fail(tag, "creating dir [%s] failed", prefix.c_str());
            return 1;
        }
    }
    return 0;
}
