// The drive inventory: one record per drive that backs a data mount path. It
// stands behind the drive-operations gate (registry switch
// nTidewallDriveOperations, off by default); while the gate is closed the query
// answers an empty list and runs no tool.
//
// A drive's facts come from lsblk, its health and serial number from SMART, its
// sector rates from the sar files, and its number on the controller (what drive
// locate blinks) from the controller's own tool, matched by serial number:
// MegaCli64 for megaraid_sas, ssacli for hpsa and smartpqi (whose logical
// drives are matched by disk name instead).

#include <tidewall/tw_platform.h>
#include <tidewall/tw_smartctl.h>
#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"
#include "platform/controllers.h"
#include "platform/tool_runners.h"

#include <boost/algorithm/string/case_conv.hpp>

#include <map>
#include <set>
#include <vector>

using tidewall::shell_quote;

namespace {

const char* const kDriveMonitorKey = "sLastMonitorTimeDrive";

// The KEY="value" pairs of one "lsblk -P" line.
std::map<std::string, std::string> lsblk_pairs(const std::string& line) {
    std::map<std::string, std::string> out;
    size_t at = 0;
    while (at < line.size()) {
        size_t eq = line.find("=\"", at);
        if (eq == std::string::npos) break;
        size_t end = line.find('"', eq + 2);
        if (end == std::string::npos) break;
        out[tsaf_utils::trim(line.substr(at, eq - at))] = tsaf_utils::trim(line.substr(eq + 2, end - eq - 2));
        at = end + 1;
    }
    return out;
}

// The whole disk holding device ("/dev/sdb1" -> "/dev/sdb"); empty when lsblk
// does not know the device.
std::string disk_of(tw_debug& log, const std::string& device) {
    std::list<std::string> out;
    if (tsaf_utils::popen("lsblk -n -o PKNAME " + shell_quote(device), out, tidewall::time_limits::kDefaultS) != 0 ||
        out.empty()) {
        log.logMessage("disk_of", tidewall::log_level::failure, "lsblk: Failed to get the disk of device [%s]",
                       device.c_str());
        return "";
    }
    std::string parent = tsaf_utils::trim(out.front());
    return parent.empty() ? device : "/dev/" + parent;
}

void fill_lsblk_facts(tw_debug& log, const std::string& disk, tw_driveinfo& d) {
    std::list<std::string> out;
    std::string cmd = "lsblk -d -n -b -P -o NAME,VENDOR,MODEL,SERIAL,REV,TRAN,SIZE,HCTL " + shell_quote(disk);
    if (tsaf_utils::popen(cmd, out, tidewall::time_limits::kDefaultS) != 0 || out.empty()) {
        log.logMessage("fill_lsblk_facts", tidewall::log_level::failure, "lsblk: Failed to get the facts of drive [%s]",
                       disk.c_str());
        return;
    }
    auto f = lsblk_pairs(out.front());
    d.set_vendor(f["VENDOR"]);
    d.set_model(f["MODEL"]);
    d.set_serialnum(f["SERIAL"]);
    d.set_revision(f["REV"]);
    d.set_type(boost::algorithm::to_upper_copy(f["TRAN"]));
    d.set_size(f["SIZE"]);
    d.set_phyid(f["HCTL"]);
}

// "Adapter #0" ... "Enclosure Device ID: 32", "Slot Number: 5", "Inquiry Data:
// <vendor model serial>": adapter/enclosure:slot by each inquiry text.
void megacli_drive_numbers(tw_debug& log, std::map<std::string, std::string>& by_inquiry) {
    std::list<std::string> out;
    if (run_megacli(log, "-PDList -aALL", out) != 0) {
        log.logMessage("megacli_drive_numbers", tidewall::log_level::failure,
                       "megacli: Failed to list physical drives");
        return;
    }
    std::string adapter = "0", enclosure, slot;
    for (const auto& raw : out) {
        std::string line = tsaf_utils::trim(raw);
        std::string name, value;
        if (line.rfind("Adapter #", 0) == 0) {
            adapter = tsaf_utils::trim(line.substr(9));
            continue;
        }
        if (tsaf_utils::get_name_value_pair(line, name, value) != 0) continue;
        name = tsaf_utils::trim(name);
        value = tsaf_utils::trim(value);
        if (name == "Enclosure Device ID")
            enclosure = value;
        else if (name == "Slot Number")
            slot = value;
        else if (name == "Inquiry Data" && !slot.empty())
            by_inquiry[value] = adapter + "/" + enclosure + ":" + slot;
    }
}

// "Smart Array P410i in Slot 0 (Embedded)" ... "physicaldrive 1I:1:1 (...)":
// slot/drive by each drive's serial number. A logical drive shows the OS no
// physical serial: it is matched by its disk name ("Disk Name: /dev/sda") and
// numbered after the first physical drive of its array, the one locate blinks.
void ssacli_drive_numbers(tw_debug& log, std::map<std::string, std::string>& by_serial,
                          std::map<std::string, std::string>& by_disk) {
    std::list<std::string> out;
    if (run_hpcli(log, "controller all show config", out) != 0) {
        log.logMessage("ssacli_drive_numbers", tidewall::log_level::failure, "hpcli: Failed to list physical drives");
        return;
    }
    std::string slot;
    struct array_drives {
        std::string slot;
        std::vector<std::string> logical;
        std::string first_physical;
    };
    std::vector<array_drives> arrays;
    bool in_array = false;  // physical drives under "unassigned" belong to no array
    for (const auto& raw : out) {
        std::string line = tsaf_utils::trim(raw);
        size_t at = line.find(" in Slot ");
        if (at != std::string::npos) {
            std::string rest = line.substr(at + 9);
            slot = rest.substr(0, rest.find(' '));
            in_array = false;
            continue;
        }
        if (line.rfind("array ", 0) == 0) {
            in_array = !slot.empty();
            if (in_array) arrays.push_back({slot, {}, ""});
            continue;
        }
        if (line.rfind("unassigned", 0) == 0) {
            in_array = false;
            continue;
        }
        if (line.rfind("logicaldrive ", 0) == 0) {
            if (in_array) arrays.back().logical.push_back(line.substr(13, line.find(' ', 13) - 13));
            continue;
        }
        if (line.rfind("physicaldrive ", 0) != 0 || slot.empty()) continue;
        std::string drive = line.substr(14, line.find(' ', 14) - 14);
        if (in_array && arrays.back().first_physical.empty()) arrays.back().first_physical = drive;
        std::string serial;
        if (hpcli_ctrl_get_driveprop(log, slot, "physicaldrive " + drive, "Serial Number", serial) == 0 &&
            !serial.empty())
            by_serial[serial] = slot + "/" + drive;
    }
    for (const auto& a : arrays) {
        if (a.first_physical.empty()) continue;
        for (const auto& ld : a.logical) {
            std::string value;
            if (hpcli_ctrl_get_driveprop(log, a.slot, "logicaldrive " + ld, "Disk Name", value) != 0) continue;
            // hpssacli may print "Disk Name: /dev/sda          Mount Points: None" on one line.
            std::string disk = value.substr(0, value.find_first_of(" \t"));
            if (disk.rfind("/dev/", 0) == 0) by_disk[disk] = a.slot + "/" + a.first_physical;
        }
    }
}

// The drive numbers the controllers of this node give, by serial number (or,
// for MegaCli64, by an inquiry text holding it).
struct drive_numbers {
    std::map<std::string, std::string> by_serial;
    std::map<std::string, std::string> by_inquiry;
    std::map<std::string, std::string> by_disk;  // Smart Array logical drives

    std::string find(const std::string& serial, const std::string& disk) const {
        if (!serial.empty()) {
            auto it = by_serial.find(serial);
            if (it != by_serial.end()) return it->second;
            for (const auto& [inquiry, number] : by_inquiry)
                if (inquiry.find(serial) != std::string::npos) return number;
        }
        auto it = by_disk.find(disk);
        return it == by_disk.end() ? "" : it->second;
    }
};

drive_numbers controller_drive_numbers(tw_platform& platform, tw_debug& log) {
    drive_numbers numbers;
    std::set<std::string> drivers;
    platform.get_sasctrl_driverlist(drivers);
    bool ssacli_asked = false;
    for (const auto& driver : drivers) {
        if (driver == "megaraid_sas") {
            megacli_drive_numbers(log, numbers.by_inquiry);
        } else if ((driver == "hpsa" || driver == "smartpqi") && !ssacli_asked) {
            ssacli_drive_numbers(log, numbers.by_serial, numbers.by_disk);
            ssacli_asked = true;
        } else if (driver == "mpt3sas") {
            log.logMessage("controller_drive_numbers", tidewall::log_level::trace,
                           "amCLI drive numbers are not read; drives on [%s] have none", driver.c_str());
        }
    }
    return numbers;
}

}  // namespace

// The work of both forms of get_driveinfo past the gate.
static void drives_examine(tw_platform& platform, tw_debug& log, unsigned rate_minutes, std::list<tw_driveinfo>& out) {
    out.clear();
    std::list<free_space_info> paths;
    {
        tw_storage storage;
        storage.enumerate_data_drives(paths, false);
    }
    std::set<std::string> disks;  // one record per disk, however many paths it backs
    for (const auto& p : paths) {
        std::string device, fstype;
        std::list<std::string> options;
        if (tsaf_utils::is_mounted(p.mnt_path, device, fstype, options) != 1) continue;
        std::string disk = disk_of(log, device);
        if (!disk.empty()) disks.insert(disk);
    }
    if (disks.empty()) return;

    const drive_numbers numbers = controller_drive_numbers(platform, log);
    std::string start;  // one interval for every drive
    for (const auto& disk : disks) {
        tw_driveinfo d;
        d.set_devname(disk);
        fill_lsblk_facts(log, disk, d);
        d.set_overallhealth(get_drive_overallhealth(disk));
        std::string serial = get_drive_serialnum(disk);
        if (!serial.empty()) d.set_serialnum(serial);
        double rd = 0, wr = 0;
        platform.get_driveiostats(disk, rate_minutes, rd, wr, kDriveMonitorKey, start);
        d.set_rdsectps(rd);
        d.set_wrsectps(wr);
        d.set_drivenum(numbers.find(d.get_serialnum(), disk));
        out.push_back(d);
    }
}

std::list<tw_driveinfo>& tw_platform::get_driveinfo() {
    const char* tag = "tw_platform::get_driveinfo";
    drives_.clear();
    if (!hwmon_driveops_supported()) {
        log_.logMessage(tag, tidewall::log_level::dump, "Drive Operations not supported.");
        return drives_;
    }
    drives_examine(*this, log_, 0, drives_);
    // The next pass averages from here.
    tsaf_utils::set_reg_key(kDriveMonitorKey, std::to_string(tsaf_utils::now()));
    loginfo(PINFO_DRIVE);
    return drives_;
}

std::list<tw_driveinfo>& tw_platform::get_driveinfo(unsigned rate_minutes) {
    drives_.clear();
    if (!hwmon_driveops_supported()) {
        log_.logMessage("tw_platform::get_driveinfo", tidewall::log_level::dump, "Drive Operations not supported.");
        return drives_;
    }
    drives_examine(*this, log_, rate_minutes == 0 ? 1 : rate_minutes, drives_);
    return drives_;
}
