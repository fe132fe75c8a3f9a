// System configuration the node writes for itself: kernel crash dumps
// (/etc/kdump.conf), the global log rotation (/etc/logrotate.conf) and the
// iSCSI initiator name. Each file is replaced whole and atomically.

#include <tidewall/tw_storage.h>

#include "foundation/ts_process.h"
#include "foundation/tsaf_utils.h"

#include <cstring>

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

} // namespace

int tw_storage::configure_kdump() {
    const char* tag = "tw_storage::configure_kdump";
    std::string location;
    if (tsaf_utils::get_reg_key("sArrowfieldKdumpLoc", location) != 0) {
        location = kKdumpLocDefault;
        if (tsaf_utils::set_reg_key("sArrowfieldKdumpLoc", location) != 0) {
            log_.logMessage(tag, -1, "Failed to set registry key to indicate KDUMP location");
            return -1;
        }
    }
    if (tsaf_utils::mkdir_r(location, 0755) != 0) {
        log_.logMessage(tag, -1, "Failed to create directory [%s]", location.c_str());
        return -1;
    }
    std::string conf = "#\n"
                       "#/etc/kdump.conf\n"
                       "#Created by Tessaline Arrowfield\n"
                       "#\n"
                       "path " + location + "\n"
                       "core_collector makedumpfile -l --message-level 1 -d 31\n";
    // kdump must not be enabled on a configuration that was never written.
    int rc = tsaf_utils::write(kKdumpConf, conf);
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to write [%s] error [%s]", kKdumpConf, std::strerror(rc));
        return -1;
    }
    for (const char* cmd : {"systemctl enable kdump.service", "systemctl restart kdump.service"}) {
        log_.logMessage(tag, 0, "command [%s]", cmd);
        std::string out, err;
        rc = TsProcess::system(cmd, &out, &err, 0, false);
        if (rc != 0) {
            log_.logMessage(tag, -1, "command [%s] failed with error [%s]", cmd, err.c_str());
            return rc;
        }
    }
    return 0;
}

int tw_storage::create_global_logrotate_config() {
    const char* tag = "tw_storage::create_global_logrotate_config";
    int rc = tsaf_utils::write("/etc/logrotate.conf", kLogrotateConf);
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to write [%s] error [%s]", "/etc/logrotate.conf", std::strerror(rc));
        return -1;
    }
    return 0;
}

int tw_storage::reset_iqn() {
    const char* tag = "tw_storage::rest_iqn";
    log_.logMessage(tag, 0, "Copying file [%s] as [%s].", kInitiatorName, kInitiatorNameBackup);
    tsaf_utils::copy_file(kInitiatorName, kInitiatorNameBackup);

    log_.logMessage(tag, 0, "Getting system iscsi initiator name.");
    std::string out, err;
    int rc = TsProcess::system("/sbin/iscsi-iname", &out, &err, 0, false);
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to get IQN from the system. Error [%s]", err.c_str());
        return rc;
    }
    // An empty name would leave the initiator without any: keep the old file.
    if (tsaf_utils::trim(out).empty()) {
        log_.logMessage(tag, -1, "Failed to get IQN from the system. Error [%s]", "empty output");
        return -1;
    }
    log_.logMessage(tag, 0, "Setting correct iscsi initiator name in [%s]", kInitiatorName);
    return tsaf_utils::write(kInitiatorName, "InitiatorName=" + out);
}
