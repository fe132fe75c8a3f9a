// The mount-path location file: which file system and which drive each data
// mount path lives on, kept so that the drive of a failed disk can still be
// found and blinked.

#include "platform/drive_locate.h"
#include "platform/mount_points.h"

#include <tidewall/tw_platform.h>
#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/sync.h"
#include "foundation/log/log_level.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// Serialises the file's readers and writers among the threads of this process.
TsCriticalSection g_location_lock;

// Another process's rewrite takes well under a second; past this the update is skipped.
constexpr unsigned kLockWaitMs = 10000;

// Holds the file against threads (the critical section) and against other
// processes (the file's lock in the root-only lock directory: the file itself
// is replaced by rename on every rewrite, so it cannot carry the lock).
class location_lock {
public:
    location_lock(tw_debug& log, const std::string& file)
        : guard_(), lock_(tidewall::locks::lock_name_for("location", tidewall::host::path(file)), kLockWaitMs) {
        if (!lock_.held())
            log.logMessage("tw_mpathfileinfo", tidewall::log_level::failure, "Cannot lock [%s]: %s", file.c_str(),
                           lock_.why().c_str());
    }
    bool held() const { return lock_.held(); }
    location_lock(const location_lock&) = delete;
    location_lock& operator=(const location_lock&) = delete;

private:
    struct thread_guard {
        thread_guard() { g_location_lock.enter(); }
        ~thread_guard() { g_location_lock.leave(); }
    } guard_;
    tidewall::locks::held_lock lock_;
};

// Values of an entry are blank-separated tokens of one line.
bool storable(const std::string& v) { return v.find_first_of(" \t\r\n") == std::string::npos; }

}  // namespace

tw_mpathfileinfo::tw_mpathfileinfo() = default;
tw_mpathfileinfo::~tw_mpathfileinfo() = default;

std::string tw_mpathfileinfo::mpath_file() {
    return "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AF_mpath_info";
}

void tw_mpathfileinfo::mpath_add_filedata(std::string& mount_path, mpath_file_data_s& data) {
    if (map_.count(mount_path)) return;  // the first entry of a mount path holds
    log_.logMessage("tw_mpathfileinfo::mpath_add_filedata", tidewall::log_level::trace,
                    "Inserting in mpath-filemap: [%s] -> %s,%s", mount_path.c_str(), data.devuuid.c_str(),
                    data.drivenum.c_str());
    map_.emplace(mount_path, data);
}

namespace {

// Adds the entries of the file's lines to info through add(mount_path, data).
template <typename Add>
void parse_location_lines(tw_debug& log, const char* tag, const std::list<std::string>& lines, Add add) {
    for (const auto& raw : lines) {
        log.logMessage(tag, tidewall::log_level::dump, "Handling mountpath file info: [%s]", raw.c_str());
        std::string line = tsaf_utils::trim(raw);
        if (line.empty()) continue;
        std::vector<std::string> tokens;
        tsaf_utils::tokenize(line.c_str(), " \t", tokens);
        if (tokens.size() != 3) continue;
        std::string mount_path;
        mpath_file_data_s data;
        for (size_t i = 0; i < tokens.size(); ++i) {
            log.logMessage(tag, tidewall::log_level::dump, "Tokens[%d]=%s", static_cast<int>(i), tokens[i].c_str());
            std::string name, value;
            if (tsaf_utils::get_name_value_pair(tokens[i], ':', name, value) != 0) {
                log.logMessage(tag, tidewall::log_level::failure, "Failed to get name, value pair from token (%s)",
                               tokens[i].c_str());
                continue;
            }
            if (name == tw_mpathfileinfo::mnt_str())
                mount_path = value;
            else if (name == tw_mpathfileinfo::devuuid_str())
                data.devuuid = value;
            else if (name == tw_mpathfileinfo::drvnum_str())
                data.drivenum = value;
        }
        if (!mount_path.empty()) add(mount_path, data);
    }
}

}  // namespace

void tw_mpathfileinfo::create_mpath_fileinfo_map(const std::string& file) {
    const char* tag = "tw_mpathfileinfo::create_mpath_fileinfo_map";
    map_.clear();
    std::list<std::string> lines;
    if (tsaf_utils::is_file(file) && tsaf_utils::read_file(file, lines) == 0)
        parse_location_lines(log_, tag, lines,
                             [this](std::string& m, mpath_file_data_s& d) { mpath_add_filedata(m, d); });
    updated_ = false;
}

void tw_mpathfileinfo::create_mntpath_backingdev_list() {
    const char* tag = "tw_mpathfileinfo::create_mntpath_backingdev_list";
    mounts_.clear();
    // The data mount paths as the mount-point inventory lists them: /tw/disk*.
    struct dirent** entries = nullptr;
    int count = ::scandir(tidewall::host::path("/tw").c_str(), &entries, disk_select, alphasort);
    if (count < 0) {
        log_.logMessage(tag, tidewall::log_level::trace, "No disk* directories found in %s", "/tw");
        return;
    }
    for (int i = 0; i < count; ++i) {
        std::string path = std::string("/tw/") + entries[i]->d_name;
        std::free(entries[i]);
        std::string blkdev, fstype;
        std::list<std::string> options;
        if (tsaf_utils::is_mounted(path, blkdev, fstype, options) == 1) mounts_[path] = blkdev;
    }
    std::free(entries);
}

void tw_mpathfileinfo::mpath_map_find_insert(const std::string& mount_path, const mpath_file_data_s& data) {
    auto it = map_.find(mount_path);
    if (it == map_.end()) {
        map_.emplace(mount_path, data);
        updated_ = true;
    } else if (!fdata_is_same(it->second, data)) {
        it->second = data;
        updated_ = true;
    }
}

void tw_mpathfileinfo::mpath_fileinfo_update_incore() {
    const char* tag = "tw_mpathfileinfo::mpath_fileinfo_update_incore";
    if (!drives_) {
        log_.logMessage(tag, tidewall::log_level::failure,
                        "Failed to update mpath fileinfo as drivelist pointer is NULL.");
        return;
    }
    std::unique_ptr<tw_storage> storage;
    for (const auto& [mount_path, device] : mounts_) {
        tw_driveinfo drive;
        if (!drivelist_find_devname(drives_, device, drive)) {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Cannot find disk name [%s] in driveinfo list. Skipping mount path [%s].", device.c_str(),
                            mount_path.c_str());
            continue;
        }
        std::string uuid;
        bool have_uuid = false;
        // One storage manager for the pass: building one scans the gluster volumes.
        if (!storage) storage = std::make_unique<tw_storage>();
        try {
            have_uuid = storage->extract_filesys_uuid(device, "xfs", uuid) == 0 && !uuid.empty();
        } catch (const TsException&) {
            have_uuid = false;
        }
        if (!have_uuid) {
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Could not get UUID for block device=%s. Skipping addition of this block device to "
                            "location registry.",
                            device.c_str());
            continue;
        }
        mpath_file_data_s data{uuid, drive.get_drivenum()};
        if (!storable(mount_path) || !storable(data.devuuid) || !storable(data.drivenum)) {
            // A blank would split the entry's line into more tokens than a reader accepts.
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Mount path [%s] (UUID [%s], drive [%s]) cannot be stored in the location file",
                            mount_path.c_str(), data.devuuid.c_str(), data.drivenum.c_str());
            continue;
        }
        log_.logMessage(tag, tidewall::log_level::dump, "Find and insert Mpath[%s] DevUuid[%s] Drivenum[%s]",
                        mount_path.c_str(), data.devuuid.c_str(), data.drivenum.c_str());
        mpath_map_find_insert(mount_path, data);
    }
}

int tw_mpathfileinfo::mpath_map_writefile(const std::string& file) {
    const char* tag = "tw_mpathfileinfo::mpath_map_writefile";
    log_.logMessage(tag, tidewall::log_level::trace, "Updating file: %s", file.c_str());
    std::string text;
    for (const auto& [mount_path, data] : map_)
        text += "\n" + mnt_str() + ":" + mount_path + " " + devuuid_str() + ":" + data.devuuid + " " + drvnum_str() +
                ":" + data.drivenum + "\n";
    int rc = tsaf_utils::write(file, text);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to write file [%s] error [%d]", file.c_str(), rc);
        return -1;
    }
    return 0;
}

int tw_mpathfileinfo::mpath_fileinfo_update() {
    const std::string file = mpath_file();
    location_lock lock(log_, file);
    if (!lock.held()) return -1;  // a rewrite without it could undo another process's
    create_mntpath_backingdev_list();
    create_mpath_fileinfo_map(file);
    mpath_fileinfo_update_incore();
    if (!updated_) return 0;
    return mpath_map_writefile(file);
}

bool tw_mpathfileinfo::mpath_fileinfo_search(const std::string& file, const std::string& mount_path,
                                             std::string& drive_number) {
    const char* tag = "tw_mpathfileinfo::mpath_fileinfo_search";
    log_.logMessage(tag, tidewall::log_level::trace, "Reading mountpath file info: [%s]", file.c_str());
    std::list<std::string> lines;
    {
        location_lock lock(log_, file);  // a reader goes on without it: the file is replaced whole
        if (!tsaf_utils::is_file(file) || tsaf_utils::read_file(file, lines) != 0) return false;
    }
    std::map<std::string, mpath_file_data_s> found;
    parse_location_lines(log_, tag, lines, [&found](std::string& m, mpath_file_data_s& d) { found.emplace(m, d); });
    auto it = found.find(mount_path);
    if (it == found.end()) return false;
    drive_number = it->second.drivenum;
    return true;
}

int tw_platform::mpath_fileinfo_update() {
    const char* tag = "tw_platform::mpath_fileinfo_update";
    if (drives_.empty()) get_driveinfo();
    if (drives_.empty()) {
        if (!hwmon_driveops_supported())
            log_.logMessage(tag, tidewall::log_level::dump,
                            "No drives found. Cannot update location information in registry. Drive operations not "
                            "supported.");
        else
            log_.logMessage(tag, tidewall::log_level::failure,
                            "No drives found. Cannot update location information in registry.");
        return -1;
    }
    mpath_info_.mpath_assign_drivelistp(&drives_);
    mpath_info_.mpath_fileinfo_update();
    return 0;
}
