// A provisioning run: each new disk recorded before its first wipe, then
// wiped, formatted with the recorded UUID, mounted at its slot, stamped and put
// in /etc/fstab; a recorded disk finished from where its record stands.

#include "storage/provisioning_run.h"

#include "foundation/blkdev/blkdev_probe.h"
#include "foundation/blkdev/blkdevmgr.h"
#include "foundation/compat/czu_file.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/mount_check.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "storage/datapath_prefix.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>

namespace tidewall::storage {

namespace {

using outcome = tw_storage::provisioning_outcome;

// What is at a system path; false when nothing is. Links are followed only
// when asked.
bool entry_at(const std::string& path, struct stat& st, bool follow_links) {
    const std::string real = tidewall::host::path(path);
    return (follow_links ? ::stat(real.c_str(), &st) : ::lstat(real.c_str(), &st)) == 0;
}

// Whether a disk can be mounted at mnt_path: nothing but an empty directory may
// be there, and nothing may be mounted there.
bool mount_path_free(const std::string& mnt_path, std::string& why) {
    struct stat st {};
    if (entry_at(mnt_path, st, false) && !S_ISDIR(st.st_mode)) {
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
    return entry_at("/sys/block/" + dev.substr(5), st, true) && entry_at(dev, st, true);
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

}  // namespace

int provisioning_run::begin(std::string& why) {
    int rc = load_provisioning_intents(records_);
    if (rc != 0) {
        why = std::string("the provisioning record cannot be read (") + std::strerror(rc) + ")";
        return -1;
    }
    fstype_ = s_.get_datapath_file_system();
    options_ = s_.get_datapath_mount_options();
    prefix_ = s_.get_datapath_prefix();
    remember_datapath_prefix(prefix_);
    return 0;
}

void provisioning_run::finish_recorded(std::list<outcome>& outcomes,
                                       const std::function<void(const outcome&)>& finished) {
    std::vector<std::string> devices;
    for (const auto& r : records_) devices.push_back(r.device);
    for (const auto& dev : devices) {
        outcome o = resume(dev);
        if (finished) finished(o);
        outcomes.push_back(o);
    }
}

void provisioning_run::choose_first_slot() {
    slot_ = s_.get_data_mntpath_lastslot();
    for (const auto& r : records_) slot_ = std::max(slot_, slot_of(r.mount_path, prefix_));
}

outcome provisioning_run::provision_new(const tsaf_blkdev_basic_info& disk, bool record_fstab,
                                        const tsaf_blkdev_verdict* verdict) {
    outcome o;
    o.device = disk.get_devpath();
    if (!verdict || !verdict->get_is_new()) {
        o.skipped = true;
        o.rc = -1;
        o.message = verdict ? "no longer new (" + verdict->get_reason() + ")" : "gone";
        log_.logMessage(tag_, tidewall::log_level::failure, "Block device %s left untouched: %s", o.device.c_str(),
                        o.message.c_str());
        return o;
    }
    // Another disk at a recorded disk's name is left alone until the record
    // is settled: the two must never share a record.
    if (const auto* r = find(o.device)) {
        o.skipped = true;
        o.rc = -1;
        o.message = "its name is recorded for the interrupted provisioning at " + r->mount_path;
        log_.logMessage(tag_, tidewall::log_level::failure, "Block device %s left untouched: %s", o.device.c_str(),
                        o.message.c_str());
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
        log_.logMessage(tag_, tidewall::log_level::failure, "Failed to process block device %s", o.device.c_str());
        log_.logMessage(tag_, tidewall::log_level::failure, "Block device %s left untouched: %s", o.device.c_str(),
                        why.c_str());
        return o;
    }
    provisioning_intent_record r;
    r.device = o.device;
    disk_identity(r.device, r.serial, r.wwn);
    r.mount_path = o.mnt_path;
    r.uuid = new_fs_uuid();
    r.record_fstab = record_fstab;
    records_.push_back(r);
    if (!save(why)) {
        records_.pop_back();
        o.skipped = true;
        o.rc = -1;
        o.message = why;
        log_.logMessage(tag_, tidewall::log_level::failure, "Block device %s left untouched: %s", o.device.c_str(),
                        why.c_str());
        return o;
    }
    return carry_out(o);
}

provisioning_intent_record* provisioning_run::find(const std::string& dev) {
    for (auto& r : records_)
        if (r.device == dev) return &r;
    return nullptr;
}

bool provisioning_run::save(std::string& why) {
    int rc = save_provisioning_intents(records_);
    if (rc == 0) return true;
    why = std::string("the provisioning record cannot be written (") + std::strerror(rc) + ")";
    log_.logMessage(tag_, tidewall::log_level::failure, "%s", why.c_str());
    return false;
}

void provisioning_run::drop(const std::string& dev) {
    records_.erase(std::remove_if(records_.begin(), records_.end(),
                                  [&](const provisioning_intent_record& r) { return r.device == dev; }),
                   records_.end());
}

outcome& provisioning_run::fail(outcome& o, const std::string& step, const std::string& why, int rc) {
    o.rc = rc == 0 ? -1 : rc;
    o.message = "stopped at " + step + ": " + why + "; the next provisioning retries it at " + o.mnt_path;
    if (auto* r = find(o.device)) {
        r->last_failure = step + ": " + why;
        std::string ignored;
        save(ignored);
    }
    log_.logMessage(tag_, tidewall::log_level::failure, "Failed to process block device %s", o.device.c_str());
    log_.logMessage(tag_, tidewall::log_level::failure, "Block device %s %s", o.device.c_str(), o.message.c_str());
    return o;
}

outcome provisioning_run::resume(const std::string& dev) {
    provisioning_intent_record& r = *find(dev);
    outcome o;
    o.device = r.device;
    o.mnt_path = r.mount_path;
    o.uuid = r.uuid;
    o.resumed = true;
    log_.logMessage(tag_, tidewall::log_level::step, "Finishing the interrupted provisioning of block device %s at %s",
                    dev.c_str(), r.mount_path.c_str());
    std::string serial, wwn;
    if (device_present(dev)) disk_identity(dev, serial, wwn);
    bool same = device_present(dev) && (r.serial.empty() || r.serial == serial) && (r.wwn.empty() || r.wwn == wwn);
    if (!same) {
        o.skipped = true;
        o.rc = -1;
        o.message = "recorded for " + r.mount_path + " but " +
                    (device_present(dev) ? "now a different disk (serial [" + serial + "], recorded [" + r.serial + "])"
                                         : std::string("gone")) +
                    ": left alone, its record is kept";
        log_.logMessage(tag_, tidewall::log_level::failure, "Block device %s %s", dev.c_str(), o.message.c_str());
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
        log_.logMessage(tag_, tidewall::log_level::failure, "Block device %s %s", dev.c_str(), o.message.c_str());
        // The slot's directory, when this run made it and nothing uses it,
        // goes with the record, so the slot is taken again.
        if (!tidewall::mount_check::is_mount_point(r.mount_path)) CZuDirectory::Remove(r.mount_path);
        drop(dev);
        std::string ignored;
        save(ignored);
        return o;
    }
    if (ours_mounted) r.step = "formatted";
    return carry_out(o);
}

outcome provisioning_run::carry_out(outcome& o) {
    provisioning_intent_record* r = find(o.device);
    const std::string& dev = o.device;
    std::string why;
    o.uuid = r->uuid;
    if (r->step != "formatted") {
        if (s_.wipe_partition_table(dev) != 0) {
            int err = errno;
            log_.logMessage(tag_, tidewall::log_level::failure,
                            "Failed to wipe partition table on block device  %s error: %s", dev.c_str(),
                            std::strerror(err));
            return fail(o, "wipe", std::strerror(err), -1);
        }
        int rc = s_.format_blkdev_with_uuid(dev, fstype_, r->uuid);
        if (rc != 0) {
            log_.logMessage(tag_, tidewall::log_level::failure, "Failed to format block device %s", dev.c_str());
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
        bool exists = false;
        if (CZuPath::Exists(o.mnt_path, exists).IsFailure() || !exists) rc = s_.mkdir(o.mnt_path, 0755);
    } catch (const TsException&) {
        rc = -1;
    }
    if (rc != 0) {
        log_.logMessage(tag_, tidewall::log_level::failure, "Failed to create directory %s", o.mnt_path.c_str());
        return fail(o, "mkdir", "cannot create " + o.mnt_path, rc);
    }
    if (!tidewall::mount_check::is_mount_of(o.mnt_path, dev)) {
        if (!mount_path_free(o.mnt_path, why)) return fail(o, "mount", why, -1);
        if (s_.mount(o.mnt_path, dev, fstype_, options_) != 0) {
            log_.logMessage(tag_, tidewall::log_level::failure, "Failed to mount block device %s", dev.c_str());
            return fail(o, "mount", "mount failed (see TSTidewall.log)", -1);
        }
    }
    rc = s_.stamp_tsln_xattrs(dev, o.mnt_path, "");
    if (rc != 0) {
        log_.logMessage(tag_, tidewall::log_level::failure, "Failed to stamp block device %s", dev.c_str());
        return fail(o, "stamp", "the stamps cannot be written", rc);
    }
    o.mounted = true;
    if (r->record_fstab) {
        // By UUID: device names move between boots, the file system's UUID does not.
        try {
            std::string uuid;
            s_.extract_filesys_uuid(dev, fstype_, uuid);
            if (uuid != r->uuid)
                return fail(o, "fstab", "the file system carries UUID " + uuid + ", not the recorded " + r->uuid, -1);
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
    log_.logMessage(tag_, tidewall::log_level::trace, "Successfully processed block device %s", dev.c_str());
    return o;
}

}  // namespace tidewall::storage
