// Block-device provisioning: a new, empty disk becomes a data mount path of the
// node. Wipe its partition table, make the data-path file system, mount it at
// the next free numbered mount path and stamp it as the appliance's own.

#include <tidewall/tw_storage.h>

#include "foundation/blkdev/blkdev_probe.h"
#include "foundation/blkdev/blkdevmgr.h"
#include "foundation/compat/czu_file.h"
#include "foundation/host/host_backend.h"
#include "foundation/mount/mount_check.h"
#include "foundation/host/shell_quote.h"
#include "foundation/compat/ts_process.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "foundation/compat/tsaf_utils.h"
#include "storage/datapath_prefix.h"
#include "storage/provisioning_intent.h"

#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

using tidewall::shell_quote;

int tw_storage::wipe_partition_table(std::string blkdev) {
    const char* tag = "tw_storage::wipe_partition_table";
    struct stat st {};
    int err = ::stat(tidewall::host::path(blkdev).c_str(), &st) == 0 ? 0 : errno;
    if (err == 0 && !S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) err = ENOTBLK;
    CZuFile file;
    if (err == 0) {
        // O_EXCL: the kernel refuses a block device that is mounted or held, so
        // a disk in use is never wiped.
        CZuError e = file.Open(blkdev, O_RDWR | O_EXCL, 0);
        err = e.GetError();
    }
    if (err != 0) {
        log_.logMessage(tag, -1, "Failed to open block device %s", blkdev.c_str());
        errno = err;
        return -1;
    }
    char zeros[512] = {};
    unsigned done = 0;
    CZuError written = file.Write(zeros, sizeof zeros, &done);
    CZuError closed = file.Close();
    // A wipe that did not reach the device is no wipe.
    if (written.IsFailure() || done != sizeof zeros || closed.IsFailure()) {
        err = written.IsFailure() ? written.GetError() : (closed.IsFailure() ? closed.GetError() : EIO);
        log_.logMessage(tag, -1, "Failed to write zeros to block device %s error: %s", blkdev.c_str(),
                        std::strerror(err));
        errno = err;
        return -1;
    }
    log_.logMessage(tag, 2, "Successfully wiped partition table on block device %s", blkdev.c_str());
    return 0;
}

namespace {

// Runs a mkfs command line of the format operations with their shared messages.
int run_mkfs(tw_debug& log, const char* tag, const std::string& cmd) {
    log.logMessage(tag, 2, "Filesystem will be created using command %s", cmd.c_str());
    std::string out, err;
    int rc = TsProcess::system(cmd, &out, &err, TsProcess::kMkfsTimeLimitS, false);
    if (rc != 0) log.logMessage(tag, -1, "command [%s] failed with error [%s]", cmd.c_str(), err.c_str());
    return rc;
}

// A file-system UUID as the tools print it: hex digits and dashes (a FAT
// volume id is 02DC-E00F), nothing else.
bool looks_like_fs_uuid(const std::string& v) {
    return !v.empty() && v.find_first_not_of("0123456789abcdefABCDEF-") == std::string::npos &&
           v.find_first_not_of("-") != std::string::npos;
}

} // namespace

int tw_storage::format_blkdev(std::string blkdev, std::string fstype) {
    const char* tag = "tw_storage::format_blkdev";
    log_.logMessage(tag, 2, "Request to create %s filesystem on block device  %s", fstype.c_str(), blkdev.c_str());
    std::string cmd = "echo y | mkfs -t " + shell_quote(fstype) + " ";
    if (fstype == "xfs") cmd += "-f ";
    cmd += shell_quote(blkdev);
    int rc = run_mkfs(log_, tag, cmd);
    if (rc != 0) return rc;
    log_.logMessage(tag, 2, "Successfully created %s filesystem on block device %s", fstype.c_str(), blkdev.c_str());
    return 0;
}

int tw_storage::format_blkdev_with_uuid(const std::string& blkdev, const std::string& fstype,
                                        const std::string& uuid) {
    const char* tag = "tw_storage::format_blkdev_with_uuid";
    log_.logMessage(tag, 2, "Request to create [%s] filesystem on block device [%s] with uuid [%s]", fstype.c_str(),
                    blkdev.c_str(), uuid.c_str());
    std::string cmd = "echo y | mkfs -t " + shell_quote(fstype) + " ";
    if (fstype == "xfs") cmd += "-f ";
    // mkfs.ext4 reads -m as the reserved-blocks percentage and fails on
    // "uuid=": the ext family takes the UUID with -U.
    if (fstype.compare(0, 3, "ext") == 0)
        cmd += "-U " + shell_quote(uuid) + " " + shell_quote(blkdev);
    else
        cmd += "-m uuid=" + shell_quote(uuid) + " " + shell_quote(blkdev);
    int rc = run_mkfs(log_, tag, cmd);
    if (rc != 0) return rc;
    log_.logMessage(tag, 2, "Successfully created [%s] filesystem on block device [%s] with uuid [%s]",
                    fstype.c_str(), blkdev.c_str(), uuid.c_str());
    return 0;
}

int tw_storage::extract_filesys_uuid(std::string blkdev, std::string fstype, std::string& uuid) {
    const char* tag = "tw_storage::extract_filesys_uuid";
    std::string dev = shell_quote(blkdev), cmd;
    if (fstype == "xfs") {
        cmd = "xfs_admin -u " + dev + " | awk '{print $3}'";
    } else if (fstype == "ext4") {
        cmd = "dumpe2fs " + dev + " 2>/dev/null | grep \"Filesystem UUID\" | awk '{print $3}'";
    } else if (fstype == "fat") {
        cmd = "blkid " + dev + " | awk '{print $2}' | cut -f 2 -d '=' | tr -d '\"'";
    } else {
        log_.logMessage(tag, -1, "Filesystem [%s] not supported", fstype.c_str());
        throw TsException(tag, "Filesystem not supported", "tw_storage", __LINE__, -1);
    }
    log_.logMessage(tag, 0, "UUID will be extracted using command %s", cmd.c_str());
    std::string out, err;
    if (TsProcess::system(cmd, &out, &err, 0, false) != 0) {
        log_.logMessage(tag, -1, "Command [%s] failed error [%s]", cmd.c_str(), err.c_str());
        throw TsException(tag, cmd + " failed", "tw_storage", __LINE__, -1);
    }
    // The pipeline's status is that of its last command: a blank or missing
    // device gives status 0 and no UUID, which is no success.
    std::string value = tsaf_utils::trim(out);
    if (!looks_like_fs_uuid(value)) {
        log_.logMessage(tag, -1, "Command [%s] gave no file-system UUID for [%s]: [%s]", cmd.c_str(), blkdev.c_str(),
                        value.c_str());
        throw TsException(tag, cmd + " failed", "tw_storage", __LINE__, -1);
    }
    uuid = value;
    return 0;
}

int tw_storage::process_blkdev(std::string blkdev, std::string mnt_path, std::string fstype, std::string options) {
    const char* tag = "tw_storage::process_blkdev";
    log_.logMessage(tag, 0,
                    "Request to process block device %s mount point %s file system %s file system mount options %s",
                    blkdev.c_str(), mnt_path.c_str(), fstype.c_str(), options.c_str());
    int rc = wipe_partition_table(blkdev);
    if (rc != 0) {
        int err = errno;
        log_.logMessage(tag, -1, "Failed to wipe partition table on block device  %s error: %s", blkdev.c_str(),
                        std::strerror(err));
        return rc;
    }
    rc = format_blkdev(blkdev, fstype);
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to format block device %s", blkdev.c_str());
        return rc;
    }
    // A directory that cannot be created fails this disk only; the caller goes
    // on with the next one.
    try {
        rc = mkdir(mnt_path, 0755);
    } catch (const TsException&) {
        rc = -1;
    }
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to create directory %s", mnt_path.c_str());
        return rc;
    }
    rc = mount(mnt_path, blkdev, fstype, options);
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to mount block device %s", blkdev.c_str());
        return rc;
    }
    rc = stamp_tsln_xattrs(blkdev, mnt_path, "");
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to stamp block device %s", blkdev.c_str());
        return rc;
    }
    return 0;
}

int tw_storage::check_datapath_target(std::string& why) {
    // Flavour 255 falls back to the Maldor prefix, whose parent a node of the
    // other flavour does not have: every disk would be wiped and none mounted.
    if (get_sds_type() == SDS_UNKNOWN) {
        why = "the appliance type of this node is not recorded: set registry key sArrowfieldApplianceType "
              "(section Dockwright)";
        return -1;
    }
    std::string prefix = get_datapath_prefix();
    const char* key = get_sds_type() == SDS_GLUSTERFS ? "sTidewallDataPathMountPathPrefix"
                                                       : "sTidewallMaldorDataPathMountPathPrefix";
    size_t slash = prefix.rfind('/');
    std::string parent = slash == std::string::npos || slash == 0 ? "/" : prefix.substr(0, slash);
    struct stat st {};
    if (prefix.empty() || prefix[0] != '/' || ::stat(tidewall::host::path(parent).c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
        why = "the directory [" + parent + "] of the data mount-path prefix [" + prefix +
              "] does not exist: create it or set registry key " + key + " (section Dockwright)";
        return -1;
    }
    return 0;
}

namespace {

using tidewall::storage::provisioning_intent_record;
using outcome = tw_storage::provisioning_outcome;
using disk_list = std::list<tsaf_blkdev_basic_info>;

// Whether a disk can be mounted at mnt_path: nothing but an empty directory may
// be there, and nothing may be mounted there.
bool mount_path_free(const std::string& mnt_path, std::string& why) {
    struct stat st {};
    if (::lstat(tidewall::host::path(mnt_path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        why = "[" + mnt_path + "] exists and is not a directory";
        return false;
    }
    if (tidewall::mount_check::is_mount_point(mnt_path)) {
        why = "something is already mounted at [" + mnt_path + "]";
        return false;
    }
    return true;
}

// A random (version 4) UUID, chosen before the wipe so that the intent record
// names the file system the disk is to carry.
std::string new_fs_uuid() {
    unsigned char b[16];
    for (int i = 0; i < 16; i += 4) {
        std::uint32_t w = tidewall::host::current().random_u32();
        for (int j = 0; j < 4; ++j) b[i + j] = static_cast<unsigned char>(w >> (8 * j));
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += hex[b[i] >> 4];
        out += hex[b[i] & 15];
    }
    return out;
}

bool device_present(const std::string& dev) {
    if (dev.rfind("/dev/", 0) != 0) return false;
    struct stat st {};
    return ::stat(tidewall::host::path("/sys/block/" + dev.substr(5)).c_str(), &st) == 0 &&
           ::stat(tidewall::host::path(dev).c_str(), &st) == 0;
}

// Where the mount table has dev mounted, empty when nowhere.
std::string mounted_at(const std::string& dev) {
    std::list<TsMntInfo> mounts;
    TsMntParser("/etc/mtab").ParseMountPointInfo(mounts);
    for (const auto& m : mounts)
        if (m.GetBackingDevice() == dev) return m.GetMountPoint();
    return "";
}

unsigned slot_of(const std::string& mnt_path, const std::string& prefix) {
    if (mnt_path.compare(0, prefix.size(), prefix) != 0) return 0;
    std::string digits = mnt_path.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<unsigned>(std::stoul(digits));
}

// One provisioning run under the provisioning lock: the recorded disks first,
// then the new ones. The slot scan, the survey and the settings are read once a
// run, so that a disk's work does not grow with the disks already on the node.
class provisioning_run {
public:
    provisioning_run(tw_storage& storage, tw_debug& log, const char* tag) : s_(storage), log_(log), tag_(tag) {}

    // Loads the record and the settings; 0, or -1 with why.
    int begin(std::string& why) {
        int rc = tidewall::storage::load_provisioning_intents(records_);
        if (rc != 0) {
            why = std::string("the provisioning record cannot be read (") + std::strerror(rc) + ")";
            return -1;
        }
        fstype_ = s_.get_datapath_file_system();
        options_ = s_.get_datapath_mount_options();
        prefix_ = s_.get_datapath_prefix();
        tidewall::storage::remember_datapath_prefix(prefix_);
        return 0;
    }

    bool has_records() const { return !records_.empty(); }

    // Finishes every recorded disk; their outcomes are appended.
    void finish_recorded(std::list<outcome>& outcomes, const std::function<void(const outcome&)>& finished) {
        std::vector<std::string> devices;
        for (const auto& r : records_) devices.push_back(r.device);
        for (const auto& dev : devices) {
            outcome o = resume(dev);
            if (finished) finished(o);
            outcomes.push_back(o);
        }
    }

    // The slots of this run follow the highest directory and the highest slot
    // still recorded (a recorded disk that is gone keeps its slot).
    void choose_first_slot() {
        slot_ = s_.get_data_mntpath_lastslot();
        for (const auto& r : records_) slot_ = std::max(slot_, slot_of(r.mount_path, prefix_));
    }

    std::string next_mount_path() const { return prefix_ + std::to_string(slot_ + 1); }

    outcome provision_new(const tsaf_blkdev_basic_info& disk, bool record_fstab, const tsaf_blkdev_verdict* verdict) {
        outcome o;
        o.device = disk.get_devpath();
        if (!verdict || !verdict->get_is_new()) {
            o.skipped = true;
            o.rc = -1;
            o.message = verdict ? "no longer new (" + verdict->get_reason() + ")" : "gone";
            log_.logMessage(tag_, -1, "Block device %s left untouched: %s", o.device.c_str(), o.message.c_str());
            return o;
        }
        // Another disk at a recorded disk's name is left alone until the record
        // is settled: the two must never share a record.
        if (const auto* r = find(o.device)) {
            o.skipped = true;
            o.rc = -1;
            o.message = "its name is recorded for the interrupted provisioning at " + r->mount_path;
            log_.logMessage(tag_, -1, "Block device %s left untouched: %s", o.device.c_str(), o.message.c_str());
            return o;
        }
        // A failed disk keeps its slot: a half-provisioned disk may already
        // have created the directory.
        ++slot_;
        o.mnt_path = prefix_ + std::to_string(slot_);
        std::string why;
        if (!mount_path_free(o.mnt_path, why)) {
            o.skipped = true;
            o.rc = -1;
            o.message = why;
            log_.logMessage(tag_, -1, "Failed to process block device %s", o.device.c_str());
            log_.logMessage(tag_, -1, "Block device %s left untouched: %s", o.device.c_str(), why.c_str());
            return o;
        }
        provisioning_intent_record r;
        r.device = o.device;
        tidewall::storage::disk_identity(r.device, r.serial, r.wwn);
        r.mount_path = o.mnt_path;
        r.uuid = new_fs_uuid();
        r.record_fstab = record_fstab;
        records_.push_back(r);
        if (!save(why)) {
            records_.pop_back();
            o.skipped = true;
            o.rc = -1;
            o.message = why;
            log_.logMessage(tag_, -1, "Block device %s left untouched: %s", o.device.c_str(), why.c_str());
            return o;
        }
        return carry_out(o);
    }

private:
    provisioning_intent_record* find(const std::string& dev) {
        for (auto& r : records_)
            if (r.device == dev) return &r;
        return nullptr;
    }

    bool save(std::string& why) {
        int rc = tidewall::storage::save_provisioning_intents(records_);
        if (rc == 0) return true;
        why = std::string("the provisioning record cannot be written (") + std::strerror(rc) + ")";
        log_.logMessage(tag_, -1, "%s", why.c_str());
        return false;
    }

    void drop(const std::string& dev) {
        records_.erase(std::remove_if(records_.begin(), records_.end(),
                                      [&](const provisioning_intent_record& r) { return r.device == dev; }),
                       records_.end());
    }

    // A step failed: the record keeps the disk and says why, and the next run
    // retries it at the same slot.
    outcome& fail(outcome& o, const std::string& step, const std::string& why, int rc) {
        o.rc = rc == 0 ? -1 : rc;
        o.message = "stopped at " + step + ": " + why + "; the next provisioning retries it at " + o.mnt_path;
        if (auto* r = find(o.device)) {
            r->last_failure = step + ": " + why;
            std::string ignored;
            save(ignored);
        }
        log_.logMessage(tag_, -1, "Failed to process block device %s", o.device.c_str());
        log_.logMessage(tag_, -1, "Block device %s %s", o.device.c_str(), o.message.c_str());
        return o;
    }

    // Takes up a recorded disk where its run stopped.
    outcome resume(const std::string& dev) {
        provisioning_intent_record& r = *find(dev);
        outcome o;
        o.device = r.device;
        o.mnt_path = r.mount_path;
        o.uuid = r.uuid;
        o.resumed = true;
        log_.logMessage(tag_, 0, "Finishing the interrupted provisioning of block device %s at %s", dev.c_str(),
                        r.mount_path.c_str());
        std::string serial, wwn;
        if (device_present(dev)) tidewall::storage::disk_identity(dev, serial, wwn);
        bool same = device_present(dev) && (r.serial.empty() || r.serial == serial) && (r.wwn.empty() || r.wwn == wwn);
        if (!same) {
            o.skipped = true;
            o.rc = -1;
            o.message = "recorded for " + r.mount_path + " but " +
                        (device_present(dev) ? "now a different disk (serial [" + serial + "], recorded [" +
                                                   r.serial + "])"
                                             : std::string("gone")) +
                        ": left alone, its record is kept";
            log_.logMessage(tag_, -1, "Block device %s %s", dev.c_str(), o.message.c_str());
            return o;
        }
        std::string where = mounted_at(dev);
        bool ours_mounted = !where.empty() && where == r.mount_path;
        std::string other;
        if (!where.empty() && !ours_mounted) {
            other = "mounted at " + where;
        } else if (!ours_mounted) {
            auto probe = tidewall::blkdev::probe_signatures(tidewall::host::path(dev));
            if (probe.what == tidewall::blkdev::probe_result::nothing) {
                r.step = "format";  // nothing of ours there yet
            } else if (!(probe.what == tidewall::blkdev::probe_result::found && probe.type == fstype_ &&
                         probe.uuid == r.uuid)) {
                other = "carries " + tidewall::blkdev::describe(probe);
                if (probe.what == tidewall::blkdev::probe_result::found && !probe.uuid.empty())
                    other += " with UUID " + probe.uuid + " (recorded " + r.uuid + ")";
            }
        }
        if (!other.empty()) {
            o.skipped = true;
            o.rc = -1;
            o.message = "recorded for " + r.mount_path + " but now " + other + ": left alone, its record is removed";
            log_.logMessage(tag_, -1, "Block device %s %s", dev.c_str(), o.message.c_str());
            // The slot's directory, when this run made it and nothing uses it,
            // goes with the record, so the slot is taken again.
            if (!tidewall::mount_check::is_mount_point(r.mount_path)) ::rmdir(tidewall::host::path(r.mount_path).c_str());
            drop(dev);
            std::string ignored;
            save(ignored);
            return o;
        }
        if (ours_mounted) r.step = "formatted";
        return carry_out(o);
    }

    // The steps of one recorded disk from where its record stands.
    outcome carry_out(outcome& o) {
        provisioning_intent_record* r = find(o.device);
        const std::string& dev = o.device;
        std::string why;
        o.uuid = r->uuid;
        if (r->step != "formatted") {
            if (s_.wipe_partition_table(dev) != 0) {
                int err = errno;
                log_.logMessage(tag_, -1, "Failed to wipe partition table on block device  %s error: %s", dev.c_str(),
                                std::strerror(err));
                return fail(o, "wipe", std::strerror(err), -1);
            }
            int rc = s_.format_blkdev_with_uuid(dev, fstype_, r->uuid);
            if (rc != 0) {
                log_.logMessage(tag_, -1, "Failed to format block device %s", dev.c_str());
                return fail(o, "format", "mkfs exited with " + std::to_string(rc), rc);
            }
            r = find(dev);
            r->step = "formatted";
            r->last_failure.clear();
            if (!save(why)) return fail(o, "format", why, -1);
            r = find(dev);
        }
        int rc = 0;
        try {
            struct stat st {};
            if (::lstat(tidewall::host::path(o.mnt_path).c_str(), &st) != 0) rc = s_.mkdir(o.mnt_path, 0755);
        } catch (const TsException&) {
            rc = -1;
        }
        if (rc != 0) {
            log_.logMessage(tag_, -1, "Failed to create directory %s", o.mnt_path.c_str());
            return fail(o, "mkdir", "cannot create " + o.mnt_path, rc);
        }
        if (!tidewall::mount_check::is_mount_of(o.mnt_path, dev)) {
            if (!mount_path_free(o.mnt_path, why)) return fail(o, "mount", why, -1);
            if (s_.mount(o.mnt_path, dev, fstype_, options_) != 0) {
                log_.logMessage(tag_, -1, "Failed to mount block device %s", dev.c_str());
                return fail(o, "mount", "mount failed (see TSTidewall.log)", -1);
            }
        }
        rc = s_.stamp_tsln_xattrs(dev, o.mnt_path, "");
        if (rc != 0) {
            log_.logMessage(tag_, -1, "Failed to stamp block device %s", dev.c_str());
            return fail(o, "stamp", "the stamps cannot be written", rc);
        }
        o.mounted = true;
        if (r->record_fstab) {
            // By UUID: device names move between boots, the file system's UUID does not.
            try {
                std::string uuid;
                s_.extract_filesys_uuid(dev, fstype_, uuid);
                if (uuid != r->uuid)
                    return fail(o, "fstab", "the file system carries UUID " + uuid + ", not the recorded " + r->uuid,
                                -1);
                s_.update_sysconfig_files(o.mnt_path, "UUID=" + uuid, fstype_, options_, "/etc/fstab");
                o.in_fstab = true;
            } catch (const TsException& e) {
                return fail(o, "fstab", e.formatError(), -1);
            }
        }
        drop(dev);
        // The disk is done; a record left behind only makes the next run check it again.
        save(why);
        o.rc = 0;
        log_.logMessage(tag_, 2, "Successfully processed block device %s", dev.c_str());
        return o;
    }

    tw_storage& s_;
    tw_debug& log_;
    const char* tag_;
    std::vector<provisioning_intent_record> records_;
    std::string fstype_, options_, prefix_;
    unsigned slot_ = 0;
};

// The whole run: lock, checks, recorded disks, then the new disks (all of them
// when only is null). -1 when nothing could be started.
int run_provisioning(tw_storage& s, tw_debug& log, const char* tag, const disk_list* only, bool record_fstab,
                     std::list<outcome>& outcomes,
                     const std::function<void(const outcome&, size_t, size_t)>& starting,
                     const std::function<void(const outcome&)>& finished) {
    outcomes.clear();
    auto refuse = [&](const std::string& why) {
        outcome o;
        o.skipped = true;
        o.rc = -1;
        o.message = why;
        outcomes.push_back(o);
        return -1;
    };
    tidewall::storage::provisioning_hold hold;
    if (!hold.held()) {
        log.logMessage(tag, -1, "Provisioning refused: %s", hold.message().c_str());
        return refuse(hold.message());
    }
    provisioning_run run(s, log, tag);
    std::string why;
    if (run.begin(why) != 0) {
        log.logMessage(tag, -1, "Provisioning refused: %s", why.c_str());
        return refuse(why);
    }
    tsaf_blkdevmgr manager;
    std::list<tsaf_blkdev_verdict> verdicts;
    disk_list news;
    auto survey = [&]() {
        if (only && only->size() == 1) {
            // One disk judged alone: a caller provisioning disk by disk does
            // not read every other disk of the node each time.
            tsaf_blkdev_verdict v;
            int rc = manager.survey_disk(only->front().get_devpath(), v);
            verdicts.assign(1, v);
            news.clear();
            if (rc != 0) return false;
            if (v.get_is_new()) news.push_back(v.get_info());
            return true;
        }
        if (manager.enumerate_blkdevs(false) != 0 || manager.survey_disks(verdicts) != 0) return false;
        news.clear();
        for (const auto& v : verdicts)
            if (v.get_is_new() && (!only || std::any_of(only->begin(), only->end(), [&](const auto& d) {
                                       return d.get_devpath() == v.get_info().get_devpath();
                                   })))
                news.push_back(v.get_info());
        return true;
    };
    if (!run.has_records() && !survey()) {
        log.logMessage(tag, 0, "Failed to detect new disks on the server");
        return refuse("cannot tell which disks are in use");
    }
    if ((run.has_records() || !news.empty() || (only && !only->empty())) && s.check_datapath_target(why) != 0) {
        // Checked before the first wipe: a disk that cannot be mounted
        // afterwards would only have lost what it held.
        log.logMessage(tag, -1, "New disks cannot become data mount paths: %s", why.c_str());
        for (const auto& disk : only ? *only : news)
            log.logMessage(tag, -1, "Block device %s left untouched: %s", disk.get_devpath().c_str(), why.c_str());
        return refuse("new disks cannot become data mount paths: " + why);
    }
    if (run.has_records()) {
        run.finish_recorded(outcomes, finished);
        // The recorded disks were judged by their record; the rest afresh.
        if (!survey()) {
            log.logMessage(tag, 0, "Failed to detect new disks on the server");
            outcomes.push_back(outcome{});
            outcomes.back().skipped = true;
            outcomes.back().rc = -1;
            outcomes.back().message = "cannot tell which disks are in use";
            return 1;
        }
    }
    run.choose_first_slot();
    const disk_list& targets = only ? *only : news;
    size_t index = 0;
    for (const auto& disk : targets) {
        // A recorded disk was finished above, as the first thing of the run.
        if (std::any_of(outcomes.begin(), outcomes.end(),
                        [&](const outcome& o) { return o.resumed && o.device == disk.get_devpath(); }))
            continue;
        const tsaf_blkdev_verdict* verdict = nullptr;
        for (const auto& v : verdicts)
            if (v.get_info().get_devpath() == disk.get_devpath()) verdict = &v;
        if (starting) {
            outcome next;
            next.device = disk.get_devpath();
            next.mnt_path = run.next_mount_path();
            starting(next, index, targets.size());
        }
        ++index;
        outcome o = run.provision_new(disk, record_fstab, verdict);
        if (finished) finished(o);
        outcomes.push_back(o);
    }
    for (const auto& o : outcomes)
        if (o.rc != 0) return 1;
    return 0;
}

} // namespace

struct tw_storage::provisioning_lock::hold : tidewall::storage::provisioning_hold {};

tw_storage::provisioning_lock::provisioning_lock() : hold_(new hold()) {}

tw_storage::provisioning_lock::~provisioning_lock() { delete hold_; }

bool tw_storage::provisioning_lock::held() const { return hold_->held(); }

std::string tw_storage::provisioning_lock::message() const { return hold_->message(); }

int tw_storage::interrupted_provisioning(std::list<provisioning_intent>& intents) {
    intents.clear();
    std::vector<tidewall::storage::provisioning_intent_record> records;
    int rc = tidewall::storage::load_provisioning_intents(records);
    for (const auto& r : records) {
        provisioning_intent i;
        i.device = r.device;
        i.serial = r.serial;
        i.wwn = r.wwn;
        i.mnt_path = r.mount_path;
        i.uuid = r.uuid;
        i.record_fstab = r.record_fstab;
        i.last_failure = r.last_failure;
        intents.push_back(i);
    }
    return rc;
}

int tw_storage::provision_disks(const std::list<tsaf_blkdev_basic_info>& disks, bool record_fstab,
                                std::list<provisioning_outcome>& outcomes,
                                const std::function<void(const provisioning_outcome&, size_t, size_t)>& starting,
                                const std::function<void(const provisioning_outcome&)>& finished) {
    const char* tag = "tw_storage::provision_disks";
    try {
        return run_provisioning(*this, log_, tag, &disks, record_fstab, outcomes, starting, finished);
    } catch (const TsException& e) {
        log_.logMessage(tag, -1, "Provisioning stopped: %s", e.formatError().c_str());
        outcomes.push_back(provisioning_outcome{});
        outcomes.back().rc = -1;
        outcomes.back().skipped = true;
        outcomes.back().message = "provisioning stopped: " + e.formatError();
        return 1;
    }
}

int tw_storage::mount_new_blkdev() {
    const char* tag = "tw_storage::mount_new_blkdev";
    std::list<provisioning_outcome> outcomes;
    // The mounts' /etc/fstab entries are the caller's: a disk's record ends
    // once it is mounted and stamped.
    int rc = -1;
    try {
        rc = run_provisioning(*this, log_, tag, nullptr, false, outcomes, {}, {});
    } catch (const TsException&) {
        log_.logMessage(tag, 0, "Failed to detect new disks on the server");
        return -1;
    }
    if (rc < 0) return -1;
    std::string list;
    size_t failed = 0;
    for (const auto& o : outcomes)
        if (o.rc != 0) {
            ++failed;
            list += (list.empty() ? "" : " ") + o.device;
        }
    if (failed == 0) return 0;
    log_.logMessage(tag, -1, "[%zu] of [%zu] new disks failed: %s", failed, outcomes.size(), list.c_str());
    return 1;
}

int tw_storage::mount_new_blkdev(tsaf_blkdev_basic_info& disk, std::string& mnt_path) {
    const char* tag = "tw_storage::mount_new_blkdev";
    const std::string& dev = disk.get_devpath();
    try {
        std::list<provisioning_outcome> outcomes;
        std::list<tsaf_blkdev_basic_info> only{disk};
        run_provisioning(*this, log_, tag, &only, false, outcomes, {}, {});
        // The disk itself may have been a recorded one, finished first.
        const provisioning_outcome* mine = nullptr;
        for (const auto& o : outcomes)
            if (o.device == dev && (!mine || mine->resumed)) mine = &o;
        if (!mine) return -1;
        mnt_path = mine->mnt_path;
        return mine->rc;
    } catch (const TsException&) {
        log_.logMessage(tag, 0, "Failed to process the block device %s", dev.c_str());
        return -1;
    }
}

int tw_storage::mount_new_blkdev_with_uuid(tsaf_blkdev_basic_info& disk, const std::string& uuid,
                                           const std::string& mnt_path) {
    const char* tag = "tw_storage::mount_new_blkdev_with_uuid";
    const std::string& dev = disk.get_devpath();
    tidewall::storage::provisioning_hold hold;
    if (!hold.held()) {
        log_.logMessage(tag, -1, "Block device %s left untouched: %s", dev.c_str(), hold.message().c_str());
        return -1;
    }
    std::string fstype, options;
    try {
        fstype = get_datapath_file_system();
        options = get_datapath_mount_options();
        std::string mounted_dev, mounted_type;
        std::list<std::string> mounted_options;
        if (is_mounted(mnt_path, mounted_dev, mounted_type, mounted_options) == 1) {
            log_.logMessage(tag, 0, "blk dev  %s mnt path %s mounted", mounted_dev.c_str(), mnt_path.c_str());
            log_.logMessage(tag, 0, "unmounting mount point %s", mnt_path.c_str());
            unmount(mnt_path);
            log_.logMessage(tag, 0, "old block device %s  unmount succeeded", mounted_dev.c_str());
        }
        std::string cmd = "systemctl daemon-reload";
        log_.logMessage(tag, 0, "command [%s]", cmd.c_str());
        std::string out, err;
        int rc = TsProcess::system(cmd, &out, &err, 0, false);
        if (rc != 0) {
            log_.logMessage(tag, -1, "command [%s] failed with error [%s]", cmd.c_str(), err.c_str());
            return rc;
        }
        rc = wipe_partition_table(dev);
        if (rc != 0) {
            int e = errno;
            log_.logMessage(tag, -1, "Failed to wipe partition table on block device  %s error: %s", dev.c_str(),
                            std::strerror(e));
            return rc;
        }
        rc = format_blkdev_with_uuid(dev, fstype, uuid);
        if (rc != 0) {
            log_.logMessage(tag, -1, "Failed to format block device %s", dev.c_str());
            return rc;
        }
    } catch (const TsException&) {
        log_.logMessage(tag, 0, "Failed to process the block device %s", dev.c_str());
        return -1;
    }

    bool mounted = false;
    for (int attempt = 0; attempt < 2 && !mounted; ++attempt) {
        try {
            std::string mounted_dev, mounted_type;
            std::list<std::string> mounted_options;
            if (is_mounted(mnt_path, mounted_dev, mounted_type, mounted_options) != 1) {
                if (mount(mnt_path, dev, fstype, options) == 0)
                    mounted = true;
                else
                    log_.logMessage(tag, -1, "Failed to mount block device %s retrying...", dev.c_str());
            } else if (mounted_dev != dev) {
                log_.logMessage(tag, -1, "device mounted [%s] expected [%s]", mounted_dev.c_str(), dev.c_str());
                return 1;
            } else {
                mounted = true;
            }
        } catch (const TsException&) {
            log_.logMessage(tag, 0, "Failed to process the block device %s", dev.c_str());
        }
    }
    if (!mounted) {
        log_.logMessage(tag, -1, "Failed to mount block device %s", dev.c_str());
        return 1;
    }
    int rc = stamp_tsln_xattrs(dev, mnt_path, "");
    if (rc != 0) {
        log_.logMessage(tag, -1, "Failed to stamp block device %s", dev.c_str());
        return rc;
    }
    return 0;
}

bool tw_storage::is_valid_uuid(const std::string& uuid) {
    try {
        boost::uuids::uuid u = boost::uuids::string_generator()(uuid);
        return u.version() != boost::uuids::uuid::version_unknown;
    } catch (...) {
        return false;
    }
}

int tw_storage::survey_new_disks(std::list<tsaf_blkdev_verdict>& verdicts) {
    tsaf_blkdevmgr manager;
    int rc = manager.enumerate_blkdevs(false);
    if (rc != 0) {
        verdicts.clear();
        return rc;
    }
    return manager.survey_disks(verdicts);
}
