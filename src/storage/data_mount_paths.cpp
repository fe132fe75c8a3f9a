// The node's data mount paths: the numbered directories under the data-path
// prefix, as the mount tables list them and as the slot scan counts them.

#include <tidewall/tw_storage.h>

#include "foundation/compat/czu_file.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_level.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "storage/datapath_prefix.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <vector>

namespace {

// Overlapping calls within one process are the caller's fault, but they must
// not tear the string apart.
std::mutex& prefix_mutex() {
    static std::mutex m;
    return m;
}

std::string& prefix_store() {
    static std::string prefix;
    return prefix;
}

// Names of data mount-path directories: "disk<digit>..." on the GlusterFS
// flavour, "d<digit>..." on the others; never hidden entries.
bool accepted_slot_name(const std::string& name, bool gluster) {
    if (name.empty() || name[0] == '.') return false;
    if (gluster)
        return name.compare(0, 4, "disk") == 0 && name.size() > 4 && std::isdigit(static_cast<unsigned char>(name[4]));
    return name[0] == 'd' && name.size() > 1 && std::isdigit(static_cast<unsigned char>(name[1]));
}

}  // namespace

void tidewall::storage::remember_datapath_prefix(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(prefix_mutex());
    prefix_store() = prefix;
}

std::string tw_storage::last_datapath_prefix() {
    std::lock_guard<std::mutex> lock(prefix_mutex());
    return prefix_store();
}

int tw_storage::get_datapath_mnt_list(std::list<free_space_info>& list, std::string prefix, std::string fstype,
                                      bool from_fstab) {
    std::list<TsMntInfo> entries;
    TsMntParser(from_fstab ? tidewall::host::system_paths::fstab : tidewall::host::system_paths::mtab)
        .ParseMountPointInfo(entries);
    list.clear();
    for (const auto& e : entries) {
        const std::string& mp = e.GetMountPoint();
        if (mp.find(prefix) == std::string::npos || e.GetFileSystemType() != fstype || mp == "/maldor/d2") continue;
        free_space_info info;
        info.mnt_path = mp;
        if (from_fstab) {
            list.push_back(info);
            continue;
        }
        unsigned long long total = 0, free = 0;
        if (CZuDirectory::GetSpaceUsage(mp, &total, &free).IsSuccess()) {
            info.free_space = free >> 30;
            list.push_back(info);
        }
    }
    if (!from_fstab)
        list.sort([](const free_space_info& a, const free_space_info& b) { return a.free_space < b.free_space; });
    return 0;
}

int tw_storage::enumerate_data_drives(std::list<free_space_info>& list, bool from_fstab) {
    return get_mnt_path(get_sds_type() == SDS_GLUSTERFS ? MNT_PATH_DATAPATH : MNT_PATH_MALDOR_DATAPATH, list,
                        from_fstab);
}

unsigned tw_storage::get_data_mntpath_lastslot() {
    const char* tag = "tw_storage::get_data_mntpath_lastslot";
    std::string prefix = get_datapath_prefix();
    tidewall::storage::remember_datapath_prefix(prefix);
    std::string copy = prefix.substr(0, 512);
    size_t slash = copy.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : copy.substr(0, slash));
    bool gluster = get_sds_type() == SDS_GLUSTERFS;

    std::vector<std::string> entries, names;
    if (int err = tidewall::file_io::list_dir(tidewall::host::path(dir), entries))
        log_.logMessage(tag, tidewall::log_level::detail, "Failed to read directory [%s] error [%s]", dir.c_str(),
                        std::strerror(err));
    for (const auto& e : entries)  // sorted
        if (accepted_slot_name(e, gluster)) names.push_back(e);

    unsigned highest = 0;
    for (const auto& name : names) {
        log_.logMessage(tag, tidewall::log_level::step, "Directory : %s\n", name.c_str());
        size_t first = name.find_first_of("0123456789");
        std::string digits = name.substr(first);
        if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
        errno = 0;
        unsigned long long num = std::strtoull(digits.c_str(), nullptr, 10);
        // A slot number beyond what a slot can hold would wrap the next slot
        // round to 0: such a name is no slot.
        if (errno == ERANGE || num > UINT_MAX - 1) {
            log_.logMessage(tag, tidewall::log_level::detail, "Ignoring directory [%s]: slot number out of range",
                            name.c_str());
            continue;
        }
        log_.logMessage(tag, tidewall::log_level::step, "Dirnum: %u\n", static_cast<unsigned>(num));
        highest = std::max(highest, static_cast<unsigned>(num));
    }
    log_.logMessage(tag, tidewall::log_level::step, "last_highest_num: %u\n", highest);
    return highest;
}
