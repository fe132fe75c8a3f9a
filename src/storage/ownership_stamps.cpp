// Ownership stamps: the trusted.* extended attributes on the root of every
// mount path the appliance owns, by which the node knows its own drives after a
// reinstallation or a disk move.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/status.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/system_paths.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/ts_mnt_parser.h"

#include <cstdio>
#include <cstring>
#include <regex>

namespace {
const char* const kSystemVolumeGroups[] = {"systemvg", "raidvg", "metadatavg", "nvmevg"};
}

int tw_storage::setextendedattribute(std::string path, std::string name, std::string value) {
    const char* tag = "tw_storage::setextendedattribute";
    int err = tidewall::host::current().set_xattr(tidewall::host::path(path), name, value);
    if (err != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to create %s attribute on file %s error: %s",
                        name.c_str(), path.c_str(), std::strerror(err));
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Succesfully created %s attribute on file %s with value %s",
                    name.c_str(), path.c_str(), value.c_str());
    return 0;
}

int tw_storage::getextendedattribute(std::string path, std::string name, std::string& value) {
    const char* tag = "tw_storage::getextendedattribute";
    std::string read;
    int err = tidewall::host::current().get_xattr(tidewall::host::path(path), name, read);
    if (err != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to extract %s attribute from file %s error: %s",
                        name.c_str(), path.c_str(), std::strerror(err));
        return -1;
    }
    value = read;
    log_.logMessage(tag, tidewall::log_level::trace, "Succesfully extracted %s attribute from file %s", name.c_str(),
                    path.c_str());
    return static_cast<int>(value.size());
}

int tw_storage::removeextendedattribute(std::string path, std::string name) {
    const char* tag = "tw_storage::removeextendedattribute";
    int err = tidewall::host::current().remove_xattr(tidewall::host::path(path), name);
    if (err != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to remove %s attribute from file %s error: %s",
                        name.c_str(), path.c_str(), std::strerror(err));
        return -1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Succesfully removed %s attribute from file %s", name.c_str(),
                    path.c_str());
    return 0;
}

int tw_storage::check_for_tsln_xattrs(std::string mnt_path) {
    const char* tag = "tw_storage::check_for_tsln_xattrs";
    log_.logMessage(tag, tidewall::log_level::trace, "Valid tessaline stamp will be checked for @ path %s",
                    mnt_path.c_str());
    std::string tsln, mnt, blkdev;
    int rc = getextendedattribute(mnt_path, kTslnStamp, tsln);
    if (rc < 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to find valid tessaline stamp @ %s",
                        mnt_path.c_str());
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::trace, "Found tessaline stamp @ %s with a value of : %s",
                    mnt_path.c_str(), tsln.c_str());
    if (tsln != kTslnStampValue) {
        log_.logMessage(tag, tidewall::log_level::failure, "Extracted stamp @ %s does not match with %s",
                        mnt_path.c_str(), kTslnStampValue);
        return -1;
    }
    // The mount stamp names where the drive was first mounted; a moved drive keeps it.
    rc = getextendedattribute(mnt_path, kMntStamp, mnt);
    if (rc < 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to find valid mount stamp @ %s", mnt_path.c_str());
        return rc;
    }
    rc = getextendedattribute(mnt_path, kBlkdevStamp, blkdev);
    if (rc < 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to find valid blkdev stamp @ %s", mnt_path.c_str());
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::trace, "Found a valid mount path stamp @ %s with a value of : %s",
                    mnt_path.c_str(), mnt.c_str());
    log_.logMessage(tag, tidewall::log_level::trace, "Found a valid blkdev stamp @ %s with a value of : %s",
                    mnt_path.c_str(), blkdev.c_str());
    return 0;
}

int tw_storage::stamp_tsln_xattrs(std::string blkdev, std::string mnt_path, std::string blkdev_stamp) {
    const char* tag = "tw_storage::stamp_tsln_xattrs";
    log_.logMessage(tag, tidewall::log_level::step, "Mount path location will be stamped on block device %s as %s\n",
                    blkdev.c_str(), mnt_path.c_str());
    int rc = setextendedattribute(mnt_path, kMntStamp, mnt_path);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to stamp %s with a id of %s\n", kMntStamp,
                        mnt_path.c_str());
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully stamped %s attr on %s", kMntStamp, mnt_path.c_str());
    rc = setextendedattribute(mnt_path, kTslnStamp, kTslnStampValue);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to stamp %s with a id of %s\n", mnt_path.c_str(),
                        kTslnStampValue);
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully stamped %s attr on %s\n", kTslnStamp,
                    mnt_path.c_str());
    rc = setextendedattribute(mnt_path, kBlkdevStamp, blkdev_stamp);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to stamp %s with a id of %s\n", mnt_path.c_str(),
                        blkdev_stamp.c_str());
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully stamped %s attr on %s\n", kBlkdevStamp,
                    mnt_path.c_str());
    return 0;
}

int tw_storage::remove_tsln_xattrs(std::string mnt_path) {
    const char* tag = "tw_storage::remove_tsln_xattrs";
    const char* p = mnt_path.c_str();
    log_.logMessage(tag, tidewall::log_level::step,
                    "Will remove Tessaline extended attributes from the mount path %s\n", p);
    int rc = removeextendedattribute(mnt_path, kMntStamp);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to remove stamp %s on mount path %s", kMntStamp, p);
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully removed stamp %s from mount path %s", kMntStamp, p);
    rc = removeextendedattribute(mnt_path, kTslnStamp);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to remove tsln id stamp %s on mount path %s\n",
                        kTslnStamp, p);
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully removed tsln id stamp %s from mount path %s\n",
                    kTslnStamp, p);
    rc = removeextendedattribute(mnt_path, kBlkdevStamp);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to remove blkId stamp %s on mount path %s\n",
                        kBlkdevStamp, p);
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Successfully removed blkId stamp %s from mount path %s\n",
                    kBlkdevStamp, p);
    return rc;
}

bool tw_storage::is_tsln_system_volume_group(std::string vg) {
    for (const char* name : kSystemVolumeGroups)
        if (vg == name) return true;
    return false;
}

bool tw_storage::is_tsln_data_drive(std::string mnt_path) {
    if (get_sds_type() == SDS_GLUSTERFS) {
        static const std::regex data_path("/tw/disk[0-9]+");
        return std::regex_search(mnt_path, data_path);
    }
    return mnt_path.compare(0, maldor_datapath_prefix_default_.size(), maldor_datapath_prefix_default_) == 0;
}

bool tw_storage::is_logicalvol(std::string blkdev, std::string& vg, std::string& pvs) {
    const char* tag = "tw_storage::is_logicalvol";
    std::string cmd = "lvs --noheadings -o vg_name " + tidewall::shell_quote(blkdev);
    std::list<std::string> out;
    std::string err;
    int rc = tsaf_utils::execute_command(cmd, out, err, tidewall::time_limits::kDefaultS);
    if (rc != 0 || out.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "Execution of [%s] failed, rc = %d, error = %s", cmd.c_str(),
                        rc, err.c_str());
        return false;
    }
    // lvs indents its columns; the name is compared with the appliance's
    // volume groups, so it goes without the blanks.
    vg = tsaf_utils::trim(out.front());

    std::string pvs_cmd = "pvs -o vg_name,pv_name --separator \"|\" --noheadings";
    std::list<std::string> lines;
    rc = tsaf_utils::execute_command(pvs_cmd, lines, err, tidewall::time_limits::kDefaultS);
    if (rc != 0 || lines.empty()) {
        log_.logMessage(tag, tidewall::log_level::failure, "Execution of [%s] failed, error = %s", pvs_cmd.c_str(),
                        err.c_str());
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to query physical volumes for volume group %s: rc=%d", vg.c_str(), rc);
        return false;
    }
    std::string want = vg + "|";
    for (const auto& raw : lines) {
        std::string line = tsaf_utils::trim(raw);
        if (line.compare(0, want.size(), want) != 0) continue;
        if (!pvs.empty()) pvs += ":";
        pvs += line.substr(want.size());
    }
    return true;
}

int tw_storage::fix_tsln_stamps() {
    tidewall::call_scope scope;  // the reason of a failure is this call's
    const char* tag = "tw_storage::fix_tsln_stamps";
    // Two repairs at once would each find the other's half-written stamps missing.
    tidewall::locks::operation_lock lock(tidewall::locks::operation::stamp_repair);
    if (!lock.held()) {
        log_.logMessage(tag, tidewall::log_level::failure, "%s", lock.message().c_str());
        std::printf("%s\n", lock.message().c_str());
        return -1;
    }
    std::list<TsMntInfo> entries;
    TsMntParser(tidewall::host::system_paths::mtab).ParseMountPointInfo(entries);
    for (const auto& e : entries) {
        if (e.GetFileSystemType() != "xfs") continue;
        const std::string& dev = e.GetBackingDevice();
        const std::string& mnt = e.GetMountPoint();
        std::string vg, pvs, stamp;
        bool ours = false;
        if (is_logicalvol(dev, vg, pvs)) {
            ours = is_tsln_system_volume_group(vg);
            stamp = pvs;
        } else {
            ours = is_tsln_data_drive(mnt);
        }
        if (!ours) continue;
        if (check_for_tsln_xattrs(mnt) == 0) {
            log_.logMessage(tag, tidewall::log_level::step, "Found valid tessaline drive [%s] mounted at [%s]\n",
                            dev.c_str(), mnt.c_str());
            continue;
        }
        log_.logMessage(tag, tidewall::log_level::step,
                        "Tessaline extended attributes are missing for drive [%s] mounted at [%s]\n", dev.c_str(),
                        mnt.c_str());
        std::printf(
            "Tessaline extended attributes are missing for drive [%s] mounted at [%s], fixing the stamps "
            "now...\n",
            dev.c_str(), mnt.c_str());
        int rc = stamp_tsln_xattrs(dev, mnt, stamp);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Failed to stamp tessaline extended attributes on volume %s , retcode = %d\n", dev.c_str(),
                            rc);
            std::printf(
                "Failed to stamp tessaline extended attributes on volume %s , retcode = %d, please refer "
                "TSTidewall.log for more details.\n",
                dev.c_str(), rc);
            std::fflush(stdout);
            return rc;
        }
        std::printf("Successfully stamped tessaline extended attributes for drive [%s] mounted at [%s]\n", dev.c_str(),
                    mnt.c_str());
    }
    std::fflush(stdout);
    return 0;
}
