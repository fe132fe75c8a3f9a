// The node's data mount paths as the mount tables list them.

#include <tidewall/tw_storage.h>

#include "foundation/czu_file.h"
#include "foundation/ts_mnt_parser.h"

#include <algorithm>

int tw_storage::get_datapath_mnt_list(std::list<free_space_info>& list, std::string prefix, std::string fstype,
                                      bool from_fstab) {
    std::list<TsMntInfo> entries;
    TsMntParser(from_fstab ? "/etc/fstab" : "/etc/mtab").ParseMountPointInfo(entries);
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
