// /etc/fstab as the node writes it: reading entries, replacing and removing the
// entries of mount paths, and resolving the device an entry names.
//
// The file is always rewritten whole, with the node's own header, and always
// replaced atomically: a half-written /etc/fstab stops a node from booting.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/throw_error.h"
#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "foundation/text/lines.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const char* const kHeader =
    "#\n"
    "#/etc/fstab\n"
    "#Created by Tessaline Tidewall Storage\n"
    "#\n"
    "#Accessible filesystems, by reference, are maintained under '/dev/disk'\n"
    "#See man pages fstab(5), findfs(8), mount(8) and/or blkid(8) for more info\n"
    "#\n";

const char* const kSeparator = "      ";  // six blanks between fields

using tidewall::mount_table::escape_field;

// Entries of a mount table the node is about to rewrite. A missing file is an
// empty table; any other read failure must stop the rewrite, or the entries the
// file holds would be lost.
// Every read-change-replace of the mount table holds this lock, so that two
// processes provisioning at once do not lose each other's entries. A rewrite
// that cannot have it fails: going on could drop another process's entry.
std::unique_ptr<tidewall::locks::held_lock> lock_fstab_rewrites(tw_debug& log, const char* tag) {
    auto lock = std::make_unique<tidewall::locks::held_lock>("fstab.lock", 30000);
    if (!lock->held()) {
        log.logMessage(tag, tidewall::log_level::failure, "Cannot lock /etc/fstab rewrites: %s", lock->why().c_str());
        tidewall::throw_storage_error(tag, "Cannot lock /etc/fstab rewrites: " + lock->why());
    }
    return lock;
}

// Comment lines that follow the file's first entry, each kept before the entry
// it preceded (nullptr: at the end of the file). The leading comments are the
// file's header, which the node's own header replaces.
using kept_comments = tw_storage::kept_fstab_comments;

void read_for_rewrite(tw_debug& log, const char* tag, const std::string& file, std::list<TsMntInfo>& entries,
                      kept_comments& comments) {
    std::string text;
    int rc = tidewall::file_io::read_all(tidewall::host::path(file), text);
    if (rc == ENOENT) return;
    if (rc != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to read [%s] error [%s]", file.c_str(),
                       std::strerror(rc));
        tidewall::throw_storage_error(tag, "Failed to read " + file);
    }
    std::vector<std::string> pending;
    for (const std::string& line : tidewall::text::split_lines(text)) {
        size_t before = entries.size();
        TsMntParser::ParseText(line, entries);
        if (entries.size() != before) {
            for (auto& c : pending) comments.emplace_back(&entries.back(), std::move(c));
            pending.clear();
            continue;
        }
        size_t first = line.find_first_not_of(" \t\r");
        if (!entries.empty() && first != std::string::npos && line[first] == '#') pending.push_back(line);
    }
    for (auto& c : pending) comments.emplace_back(nullptr, std::move(c));
}

// Removes an entry; the comments it carried go with the entry that follows.
std::list<TsMntInfo>::iterator erase_entry(std::list<TsMntInfo>& entries, std::list<TsMntInfo>::iterator it,
                                           kept_comments& comments) {
    auto next = std::next(it);
    const TsMntInfo* heir = next == entries.end() ? nullptr : &*next;
    for (auto& c : comments)
        if (c.first == &*it) c.first = heir;
    return entries.erase(it);
}

// The UUID of a "UUID=" device text, without the double quotes some entries
// carry (UUID="..."); empty when the text is no UUID reference.
std::string uuid_of_device_text(const std::string& device) {
    if (device.compare(0, 5, "UUID=") != 0) return "";
    std::string uuid = device.substr(5);
    if (uuid.size() >= 2 && uuid.front() == '"' && uuid.back() == '"') uuid = uuid.substr(1, uuid.size() - 2);
    return uuid;
}

// The UUID names a link inside /dev/disk/by-uuid and nothing outside it.
bool usable_uuid(const std::string& uuid) {
    return !uuid.empty() && uuid.find('/') == std::string::npos && uuid != "." && uuid != "..";
}

// A link target read in dir, as an absolute path without "." and "..".

std::string resolve_link_target(const std::string& dir, const std::string& target) {
    std::string joined = target.empty() || target[0] != '/' ? dir + "/" + target : target;
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= joined.size()) {
        size_t slash = joined.find('/', i);
        std::string part = joined.substr(i, slash == std::string::npos ? std::string::npos : slash - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string::npos) break;
        i = slash + 1;
    }
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

// The dump and pass fields of an entry. A line read from the file is the
// system's own: it keeps them (a pass of 2 is what makes the boot check /var).
// The fixed pair applies to the entries this node adds or replaces.
std::string dump_and_pass(const TsMntInfo& e, bool system_path) {
    if (e.IsFromFile()) return std::to_string(e.GetDumpFrequency()) + "   " + std::to_string(e.GetPassNumber());
    return system_path ? "1   1" : "0   0";
}

}  // namespace

std::string tw_storage::create_file_sys_args(std::list<std::string>& options) {
    std::string args = tsaf_utils::create_file_sys_args(options);
    log_.logMessage("tw_storage::create_file_sys_args", tidewall::log_level::trace, "File system arguments [%s]",
                    args.c_str());
    return args;
}

int tw_storage::read_sysconfig_file(std::string file, std::list<TsMntInfo>& entries) {
    return TsMntParser(file).ParseMountPointInfo(entries);
}

int tw_storage::create_sysconfig_files(std::list<TsMntInfo>& entries, std::string file) {
    return write_sysconfig_file(entries, {}, file);
}

int tw_storage::write_sysconfig_file(const std::list<TsMntInfo>& entries, const kept_fstab_comments& comments,
                                     const std::string& file) {
    const char* tag = "tw_storage::create_sysconfig_files";
    std::string text = kHeader;
    auto comments_before = [&](const TsMntInfo* entry) {
        for (const auto& c : comments)
            if (c.first == entry) text += c.second + "\n";
    };
    for (const auto& e : entries) {
        comments_before(&e);
        std::string line = escape_field(e.GetBackingDevice()) + kSeparator + escape_field(e.GetMountPoint()) +
                           kSeparator + escape_field(e.GetFileSystemType()) + kSeparator;
        std::string options = tsaf_utils::create_file_sys_args(e.MountOptions());
        if (!options.empty())
            line += escape_field(options) + kSeparator + dump_and_pass(e, is_sys_mnt_path(e.GetMountPoint()));
        log_.logMessage(tag, tidewall::log_level::step, "fstab entry [%s]", line.c_str());
        text += line + "\n";
    }
    comments_before(nullptr);
    // The whole file goes to a temporary file beside it and replaces it by
    // rename: a full disk or a crash leaves the old file whole.
    int rc = tidewall::file_io::write_atomic(tidewall::host::path(file), text);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to add entry to [%s]", file.c_str());
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to write [%s] error [%s]; the file is unchanged",
                        file.c_str(), std::strerror(rc));
        tidewall::throw_storage_error(tag, "Failed to add entry to " + file);
    }
    return 0;
}

int tw_storage::is_valid_sysconfig_file_entry(std::string path, std::string blkdev, std::string fstype,
                                              std::list<std::string>& options) {
    const char* tag = "tw_storage::is_valid_sysconfig_file_entry";
    log_.logMessage(tag, tidewall::log_level::step, "BlkDev                [%s]", blkdev.c_str());
    log_.logMessage(tag, tidewall::log_level::step, "Mount path            [%s]", path.c_str());
    log_.logMessage(tag, tidewall::log_level::step, "File system           [%s]", fstype.c_str());
    std::list<TsMntInfo> entries;
    TsMntParser(tidewall::host::system_paths::fstab).ParseMountPointInfo(entries);
    for (const auto& e : entries) {
        e.GetMountOptions(options);
        if (e.GetBackingDevice() == blkdev && e.GetMountPoint() == path && e.GetFileSystemType() == fstype) {
            log_.logMessage(tag, tidewall::log_level::step,
                            "BlkDev [%s] mountpath [%s] file sys args [%s] already exists in /etc/fstab file.",
                            blkdev.c_str(), path.c_str(), tsaf_utils::create_file_sys_args(options).c_str());
            return 0;
        }
    }
    log_.logMessage(tag, tidewall::log_level::step, "BlkDev [%s] mountpath [%s] does not exist in /etc/fstab file.",
                    blkdev.c_str(), path.c_str());
    return -1;
}

int tw_storage::update_sysconfig_files(std::string path, std::string blkdev, std::string fstype, std::string fsargs,
                                       std::string file) {
    const char* tag = "tw_storage::update_sysconfig_files";
    log_.logMessage(tag, tidewall::log_level::step, "BlkDev                [%s]", blkdev.c_str());
    log_.logMessage(tag, tidewall::log_level::step, "Mount path            [%s]", path.c_str());
    log_.logMessage(tag, tidewall::log_level::step, "File system           [%s]", fstype.c_str());
    log_.logMessage(tag, tidewall::log_level::step, "File system arguments [%s]", fsargs.c_str());

    auto lock = lock_fstab_rewrites(log_, tag);
    std::list<TsMntInfo> entries;
    kept_comments comments;
    read_for_rewrite(log_, tag, tidewall::host::system_paths::fstab, entries, comments);
    bool matched = false;
    for (auto it = entries.begin(); it != entries.end();) {
        if (it->GetMountPoint() != path && it->GetBackingDevice() != blkdev) {
            ++it;
            continue;
        }
        if (it->GetBackingDevice() == blkdev && it->GetMountPoint() == path && it->GetFileSystemType() == fstype &&
            tsaf_utils::create_file_sys_args(it->MountOptions()) == fsargs) {
            log_.logMessage(tag, tidewall::log_level::step,
                            "BlkDev [%s] mountpath [%s] already exists in /etc/fstab file. Will skip updation.",
                            blkdev.c_str(), path.c_str());
            return 0;
        }
        if (matched) {
            // Overwriting a second match would write the same line twice: the
            // entry for a mount path or device is replaced, never duplicated.
            it = erase_entry(entries, it, comments);
            continue;
        }
        it->SetMountPoint(path);
        it->SetBackingDevice(blkdev);
        it->SetFileSystemType(fstype);
        it->SetMountOptions(fsargs);
        it->SetFromFile(false);  // replaced: the node's own entry now
        matched = true;
        ++it;
    }
    if (!matched) {
        TsMntInfo entry;
        entry.SetMountPoint(path);
        entry.SetBackingDevice(blkdev);
        entry.SetFileSystemType(fstype);
        entry.SetMountOptions(fsargs);
        entries.push_back(entry);
    }
    if (write_sysconfig_file(entries, comments, file) != 0) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to create system config file [%s]", file.c_str());
        tidewall::throw_storage_error(tag, "Failed to create system config file " + file);
    }
    return 0;
}

int tw_storage::trim_sysconfig_files(std::string path, std::string file, std::list<std::string>& removed) {
    const char* tag = "tw_storage::trim_sysconfig_files";
    auto lock = lock_fstab_rewrites(log_, tag);
    std::list<TsMntInfo> entries;
    kept_comments comments;
    read_for_rewrite(log_, tag, file, entries, comments);
    log_.logMessage(tag, tidewall::log_level::step, "Mount path [%s]", path.c_str());
    removed.clear();
    for (auto it = entries.begin(); it != entries.end();) {
        if (it->GetMountPoint() != path) {
            ++it;
            continue;
        }
        removed.push_back(it->GetBackingDevice());
        log_.logMessage(tag, tidewall::log_level::step,
                        "BlkDev [%s] mountpath [%s] removing entry from /etc/fstab file.",
                        it->GetBackingDevice().c_str(), path.c_str());
        it = erase_entry(entries, it, comments);
    }
    if (write_sysconfig_file(entries, comments, file) != 0) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to create system config file [%s]", file.c_str());
        tidewall::throw_storage_error(tag, "Failed to create system config file " + file);
    }
    return 0;
}

int tw_storage::get_fstab_backing_device(std::string path, std::string& blkdev) {
    const char* tag = "tw_storage::get_fstab_backing_device";
    log_.logMessage(tag, tidewall::log_level::step, "Mount path [%s]", path.c_str());
    std::list<TsMntInfo> entries;
    TsMntParser(tidewall::host::system_paths::fstab).ParseMountPointInfo(entries);
    const TsMntInfo* found = nullptr;
    for (const auto& e : entries) {
        if (e.GetMountPoint() == path) {
            found = &e;
            break;
        }
    }
    if (!found) return -1;
    blkdev = found->GetBackingDevice();
    log_.logMessage(tag, tidewall::log_level::step, "Found BlkDev [%s] mountpath [%s].", blkdev.c_str(), path.c_str());
    // Only an entry that begins with UUID= is a UUID reference (PARTUUID= is not).
    if (blkdev.compare(0, 5, "UUID=") != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "BlkDev [%s] mountpath [%s] not a UUID config",
                        blkdev.c_str(), path.c_str());
        return 0;
    }
    std::string uuid = uuid_of_device_text(blkdev);
    if (!usable_uuid(uuid)) {
        log_.logMessage(tag, tidewall::log_level::failure, "BlkDev [%s] mountpath [%s] holds no valid UUID",
                        blkdev.c_str(), path.c_str());
        return -1;
    }
    if (resolve_fstab_uuid(blkdev, blkdev) != 0) return -1;
    log_.logMessage(tag, tidewall::log_level::step, "Found BlkDev [%s] mountpath [%s].", blkdev.c_str(), path.c_str());
    return 0;
}

int tw_storage::resolve_fstab_uuid(const std::string& device_text, std::string& blkdev) {
    if (device_text.compare(0, 5, "UUID=") != 0) return -1;
    std::string uuid = uuid_of_device_text(device_text);
    if (!usable_uuid(uuid)) return -1;
    std::string target;
    if (tsaf_utils::readlink("/dev/disk/by-uuid/" + uuid, target) != 0 || target.size() > 255) return -1;
    blkdev = resolve_link_target("/dev/disk/by-uuid", target);
    return 0;
}

int tw_storage::get_uuid_from_fstab(const std::string& path, std::string& uuid) {
    const char* tag = "tw_storage::get_uuid_from_fstab";
    std::list<TsMntInfo> entries;
    TsMntParser(tidewall::host::system_paths::fstab).ParseMountPointInfo(entries);
    for (const auto& e : entries) {
        if (e.GetMountPoint() != path) continue;
        const std::string& dev = e.GetBackingDevice();
        log_.logMessage(tag, tidewall::log_level::step, "BlkDev [%s] mountpath [%s] found in /etc/fstab file.",
                        dev.c_str(), path.c_str());
        std::string value = uuid_of_device_text(dev);
        if (value.empty()) {
            log_.logMessage(tag, tidewall::log_level::failure, "BlkDev [%s] mountpath [%s] not a UUID config",
                            dev.c_str(), path.c_str());
            return -1;
        }
        uuid = value;
        return 0;
    }
    log_.logMessage(tag, tidewall::log_level::failure, "mountpath [%s] not found in /etc/fstab ", path.c_str());
    return -1;
}

bool tw_storage::fsargs_valid(mnt_path_type kind, std::list<std::string>& options) {
    auto has = [&](const char* o) { return tsaf_utils::is_present(options, o) == 1; };
    switch (kind) {
    case MNT_PATH_DDB:
    case MNT_PATH_DATAPATH:
    case MNT_PATH_MALDOR_DATAPATH: return has("noatime") && has("inode64") && has("nofail");
    case MNT_PATH_EFI_BOOT: return has("nofail");
    case MNT_PATH_GLUSTERFS:
    case MNT_PATH_MALDOR_FS:
    case MNT_PATH_OTHER: return true;
    }
    return false;
}
