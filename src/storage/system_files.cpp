// System configuration the node writes for itself: kernel crash dumps
// (/etc/kdump.conf), the global log rotation (/etc/logrotate.conf) and the
// iSCSI initiator name. Each file is replaced whole and atomically.

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_process.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kKdumpConf = "/etc/kdump.conf";
const char* const kKdumpLocDefault = "/tw/ddb/crash";

const char* const kLogrotateConf =
    "#/etc/logrotate.conf\n"
    "#Created by Tessaline Arrowfield\n"
    "#\n"
    "# rotate log files weekly\n"
    "weekly\n"
    "#\n"
    "# keep 4 weeks worth of backlogs\n"
    "rotate 4\n"
    "#\n"
    "# create new (empty) log files after rotating old ones\n"
    "create\n"
    "#\n"
    "# use date as a suffix of the rotated file\n"
    "dateext\n"
    "#\n"
    "# uncomment this if you want your log files compressed\n"
    "compress\n"
    "#\n"
    "# RPM packages drop log rotation information into this directory\n"
    "include /etc/logrotate.d\n"
    "#\n"
    "# no packages own wtmp and btmp -- we'll rotate them here\n"
    "/var/log/wtmp {\n"
    "    monthly\n"
    "    create 0664 root utmp\n"
    "    minsize 1M\n"
    "    rotate 1\n"
    "}\n"
    "#\n"
    "/var/log/btmp {\n"
    "    missingok\n"
    "    monthly\n"
    "    create 0600 root utmp\n"
    "    rotate 1\n"
    "}\n"
    "#\n"
    "# system-specific logs may be also be configured here.\n";

const char* const kInitiatorName = "/etc/iscsi/initiatorname.iscsi";
const char* const kInitiatorNameBackup = "/var/tmp/initiatorname.iscsi.backup";

// Whether an entry at a path in a directory others can write is one only root
// can have made: a regular file of the effective user (root on a node) with
// one link, not writable by group or others.
bool root_made_file(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1 &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The backup lies at a fixed name in /var/tmp, which every account can write:
// what is found there is never followed or opened. An entry that root did not
// make is removed, and the file is created afresh with O_EXCL|O_NOFOLLOW, so a
// link or file planted in between makes the step fail instead of writing
// through it. 0, or an errno value; what names the step that failed.
int write_fresh_backup(const std::string& mapped, const std::string& content, std::string& what) {
    struct stat st {};
    if (::lstat(mapped.c_str(), &st) == 0) {
        int rc = S_ISDIR(st.st_mode) ? ::rmdir(mapped.c_str()) : ::unlink(mapped.c_str());
        if (rc != 0) {
            what = "remove what is there";
            return errno;
        }
    } else if (errno != ENOENT) {
        what = "look at what is there";
        return errno;
    }
    int fd = ::open(mapped.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        what = "create it";
        return errno;
    }
    int rc = 0;
    for (size_t done = 0; rc == 0 && done < content.size();) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            rc = errno;
    }
    if (rc == 0 && ::fsync(fd) != 0) rc = errno;
    if (::close(fd) != 0 && rc == 0) rc = errno;
    if (rc != 0) {
        ::unlink(mapped.c_str());
        what = "write it";
    }
    return rc;
}

}  // namespace

int tw_storage::configure_kdump() {
    const char* tag = "tw_storage::configure_kdump";
    std::string location;
    if (tsaf_utils::get_reg_key("sArrowfieldKdumpLoc", location) != 0) {
        location = kKdumpLocDefault;
        if (tsaf_utils::set_reg_key("sArrowfieldKdumpLoc", location) != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to set registry key to indicate KDUMP location");
            return -1;
        }
    }
    if (tsaf_utils::mkdir_r(location, 0755) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to create directory [%s]", location.c_str());
        return -1;
    }
    std::string conf =
        "#\n"
        "#/etc/kdump.conf\n"
        "#Created by Tessaline Arrowfield\n"
        "#\n"
        "path " +
        location +
        "\n"
        "core_collector makedumpfile -l --message-level 1 -d 31\n";
    // kdump must not be enabled on a configuration that was never written.
    int rc = tsaf_utils::write(kKdumpConf, conf);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to write [%s] error [%s]", kKdumpConf,
                        std::strerror(rc));
        return -1;
    }
    for (const char* cmd : {"systemctl enable kdump.service", "systemctl restart kdump.service"}) {
        log_.logMessage(tag, tidewall::log_level::step, "command [%s]", cmd);
        std::string out, err;
        rc = TsProcess::system(cmd, &out, &err, 0, false);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "command [%s] failed with error [%s]", cmd, err.c_str());
            return rc;
        }
    }
    return 0;
}

int tw_storage::create_global_logrotate_config() {
    const char* tag = "tw_storage::create_global_logrotate_config";
    int rc = tsaf_utils::write("/etc/logrotate.conf", kLogrotateConf);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to write [%s] error [%s]", "/etc/logrotate.conf",
                        std::strerror(rc));
        return -1;
    }
    return 0;
}

int tw_storage::reset_iqn() {
    const char* tag = "tw_storage::rest_iqn";
    log_.logMessage(tag, tidewall::log_level::step, "Copying file [%s] as [%s].", kInitiatorName, kInitiatorNameBackup);
    // The backup keeps the name the node had before its first reset: a reset
    // repeated after a crash, or a second one, never overwrites it with a name
    // this library made.
    std::string state;
    tsaf_utils::get_reg_key(kIqnResetKey, state);
    const std::string backup = tidewall::host::path(kInitiatorNameBackup);
    struct stat st {};
    bool kept = (state == kIqnResetBackedUp || state == kIqnResetDone) && ::lstat(backup.c_str(), &st) == 0 &&
                root_made_file(st);
    if (kept) {
        log_.logMessage(tag, tidewall::log_level::step, "Keeping [%s]: it holds the name from before the first reset",
                        kInitiatorNameBackup);
    } else {
        std::string original;
        int rc = tidewall::file_io::read_all(tidewall::host::path(kInitiatorName), original);
        if (rc == 0) {
            std::string what;
            rc = write_fresh_backup(backup, original, what);
            if (rc != 0) {
                log_.logMessage(tag, tidewall::log_level::failure,
                                "Failed to back up [%s] as [%s]: cannot %s: %s; the name is left as it is",
                                kInitiatorName, kInitiatorNameBackup, what.c_str(), std::strerror(rc));
                return -1;
            }
        } else if (rc != ENOENT) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to read [%s]: %s; the name is left as it is",
                            kInitiatorName, std::strerror(rc));
            return -1;
        }
        // Recorded before the name changes: a rerun must keep this backup.
        if (tsaf_utils::set_reg_key(kIqnResetKey, kIqnResetBackedUp) != 0) {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Failed to record the backup of [%s] in [%s]; the name is left as it is", kInitiatorName,
                            kIqnResetKey);
            return -1;
        }
    }

    log_.logMessage(tag, tidewall::log_level::step, "Getting system iscsi initiator name.");
    std::string out, err;
    int rc = TsProcess::system("/sbin/iscsi-iname", &out, &err, 0, false);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get IQN from the system. Error [%s]",
                        err.c_str());
        return rc;
    }
    // An empty name would leave the initiator without any: keep the old file.
    if (tsaf_utils::trim(out).empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to get IQN from the system. Error [%s]",
                        "empty output");
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Setting correct iscsi initiator name in [%s]", kInitiatorName);
    return tsaf_utils::write(kInitiatorName, "InitiatorName=" + out);
}
