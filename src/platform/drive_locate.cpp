// Drive locate: the drive behind a mount path, found in the location file,
// blinks its LED through the tool of the server maker's controller.

#include "platform/drive_locate.h"

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/status.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/sync.h"
#include "foundation/log/log_level.h"
#include "platform/tool_runners.h"

#include <boost/algorithm/string/case_conv.hpp>

#include <algorithm>
#include <climits>
#include <cstdio>

using tidewall::shell_quote;

namespace {

// The blink time, in pieces a millisecond count holds whatever its length.
void blink_for(tw_debug& log, const char* tag, unsigned seconds) {
    log.logMessage(tag, tidewall::log_level::trace, "Blinking drive LED for %d seconds",
                   static_cast<int>(std::min(seconds, 0x7fffffffU)));
    for (unsigned left = seconds; left > 0;) {
        unsigned piece = std::min(left, 3600U);
        ZUSLEEP_InTeRnAl(piece * 1000);
        left -= piece;
    }
}

// Stop, blink, wait, stop: the procedure of the tools that need a stop.
int blink_with_stop(tw_debug& log, const char* tag, const std::string& stop_args, const std::string& locate_args,
                    unsigned seconds, int (*run)(tw_debug&, std::string, std::list<std::string>&),
                    const std::string& stop_failed, const std::string& locate_failed) {
    std::list<std::string> out;
    if (run(log, stop_args, out) != 0) log.logMessage(tag, tidewall::log_level::failure, "%s", stop_failed.c_str());
    out.clear();
    if (run(log, locate_args, out) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "%s", locate_failed.c_str());
        return -1;
    }
    blink_for(log, tag, seconds);
    out.clear();
    if (run(log, stop_args, out) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "%s", stop_failed.c_str());
        return -1;
    }
    return 0;
}

std::string format(const char* fmt, const std::string& a, const std::string& b = "") {
    char buf[1024];
    std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str());
    return buf;
}

}  // namespace

int amcli_devnum_locate(tw_debug& log, std::string devnum, unsigned seconds) {
    const std::string d = shell_quote(devnum);
    return blink_with_stop(log, "amcli_devnum_locate", "--exec " + d + " stop_location", "--exec " + d + " locate",
                           seconds, run_amcli, format("amCLI: Devnum [%s] Failed to execute stop location", devnum),
                           format("amCLI: Devnum [%s] Failed to execute locate", devnum));
}

int megacli_adp_locate_drive(tw_debug& log, std::string adapter, std::string drive, unsigned seconds) {
    const std::string where = "-physdrv[" + shell_quote(drive) + "] -a" + shell_quote(adapter);
    return blink_with_stop(log, "megacli_adp_locate_drive", "-PdLocate -stop " + where, "-PdLocate -start " + where,
                           seconds, run_megacli,
                           format("megacli: Adpnum [%s] Drivenum [%s] Failed to execute stop location", adapter, drive),
                           format("megacli: Adpnum [%s] Drivenum [%s] Failed to execute locate", adapter, drive));
}

int hpcli_ctrl_locate_drive(tw_debug& log, std::string slot, std::string drive, unsigned seconds) {
    const char* tag = "hpcli_ctrl_locate_drive";
    std::list<std::string> out;
    std::string args = "controller slot=" + shell_quote(slot) + " physicaldrive " + shell_quote(drive) +
                       " modify led=on duration=" + std::to_string(seconds);
    if (run_hpcli(log, args, out) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "hpcli: Ctrl_slot [%s] Failed to locate Physical Drive [%s].",
                       slot.c_str(), drive.c_str());
        return -1;
    }
    // The controller stops the LED itself after `duration`; wait as long.
    blink_for(log, tag, seconds);
    return 0;
}

int drivelist_find_devname(std::list<tw_driveinfo>* drives, std::string devname, tw_driveinfo& found) {
    if (!drives) return 0;
    for (const auto& d : *drives) {
        if (d.get_devname() == devname) {
            found = d;
            return 1;
        }
    }
    return 0;
}

int tw_platform::drive_locate(const std::string& vendor, const std::string& drive_number, unsigned seconds) {
    tidewall::call_scope scope;  // the reason of a failure is this call's
    const char* tag = "tw_platform::drive_locate";
    if (drive_number.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "Drive number is empty. Cannot locate drive.");
        return -1;
    }
    auto known = vendor_strmap.find(vendor);
    if (known == vendor_strmap.end()) {
        log_.logMessage(tag, tidewall::log_level::trace, "Drive locate not supported for vendor [%s]", vendor.c_str());
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Locating [%s] drive with number [%s]", vendor.c_str(),
                    drive_number.c_str());

    // HPE and DELL numbers are "controller/drive"; the drive part may hold
    // colons of its own ("1I:1:1", "32:5").
    std::string controller, drive;
    if ((known->second == VENDOR_HPE || known->second == VENDOR_DELL) &&
        tsaf_utils::get_name_value_pair(drive_number, '/', controller, drive) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Drive number [%s] of vendor [%s] is not of the form controller/drive", drive_number.c_str(),
                        vendor.c_str());
        return -1;
    }

    int rc;
    switch (known->second) {
    case VENDOR_FUJITSU:
        rc = amcli_devnum_locate(log_, drive_number, seconds);
        if (rc == 0)
            log_.logMessage(tag, tidewall::log_level::step, "Successfully located [%s] drive with number [%s]",
                            vendor.c_str(), drive_number.c_str());
        return rc;
    case VENDOR_HPE:
        rc = hpcli_ctrl_locate_drive(log_, controller, drive, seconds);
        if (rc == 0)
            log_.logMessage(tag, tidewall::log_level::step, "Successfully located [%s] drive with number [%s]",
                            vendor.c_str(), drive_number.c_str());
        return rc;
    case VENDOR_DELL:
        rc = megacli_adp_locate_drive(log_, controller, drive, seconds);
        if (rc == 0)
            log_.logMessage(tag, tidewall::log_level::step,
                            "Successfully located [%s] drive with number [%s] adapter number [%s]", vendor.c_str(),
                            drive.c_str(), controller.c_str());
        return rc;
    default:
        log_.logMessage(tag, tidewall::log_level::trace, "Drive locate not supported for vendor [%s]", vendor.c_str());
        return -1;
    }
}

int tw_platform::drive_locate(const std::string& mount_path) {
    tidewall::call_scope scope;  // the reason of a failure is this call's
    if (!hwmon_driveops_supported()) {
        log_.logMessage("tw_platform::drive_locate", tidewall::log_level::dump, "Drive Operations not supported.");
        tidewall::last_error::set("drive operations are not supported on this system");
        return -1;
    }
    return drive_locate_mountpath(mount_path);
}

int tw_platform::drive_locate_mountpath(const std::string& mount_path) {
    const char* tag = "tw_platform::drive_locate";
    const std::string key = drive_locate_getregkey();
    unsigned minutes = 0;
    if (tsaf_utils::get_reg_key(key, minutes) != 0) {
        log_.logMessage(tag, tidewall::log_level::dump,
                        "Failed to get value for registry [%s]. Using default locate time of %u mins.", key.c_str(),
                        drive_locate_get_default_timeintervalmins());
        minutes = drive_locate_get_default_timeintervalmins();
    }
    if (minutes == 0) minutes = drive_locate_get_default_timeintervalmins();
    log_.logMessage(tag, tidewall::log_level::dump, "Using Drive Locate interval of %u mins", minutes);

    std::string vendor = get_systeminfo().get_vendor();
    if (boost::algorithm::to_lower_copy(vendor).find("dell") != std::string::npos) vendor = "DELL";

    const std::string file = tw_mpathfileinfo::mpath_file();
    std::string number;
    if (!mpath_info_.mpath_fileinfo_search(file, mount_path, number)) {
        mpath_fileinfo_update();
        if (!mpath_info_.mpath_fileinfo_search(file, mount_path, number)) {
            log_.logMessage(tag, tidewall::log_level::failure, "Mountpath [%s] not found in Mpath fileinfo.",
                            mount_path.c_str());
            return -1;
        }
    }
    unsigned long long seconds = static_cast<unsigned long long>(minutes) * 60;
    return drive_locate(vendor, number, static_cast<unsigned>(std::min<unsigned long long>(seconds, UINT_MAX)));
}
