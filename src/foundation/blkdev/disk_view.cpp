#include "foundation/blkdev/disk_view.h"
#include "foundation/blkdev/physical_disks.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace tidewall::blkdev {

bool read_attr(const std::string& mapped, std::string& value) {
    std::string text;
    if (file_io::read_all(mapped, text) != 0) return false;
    value = tsaf_utils::trim(text);
    return true;
}

bool read_number(const std::string& mapped, unsigned long long& value) {
    std::string text;
    if (!read_attr(mapped, text) || text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno != ERANGE;
}

bool exists(const std::string& mapped) {
    struct stat st {};
    return file_io::status_of(mapped, st, true) == 0;
}

namespace {

sysfs_device read_device(const std::string& name, const std::string& sysdir) {
    sysfs_device d;
    d.name = name;
    d.sysdir = sysdir;
    d.size_known = read_number(sysdir + "/size", d.sectors);
    if (!read_attr(sysdir + "/dev", d.devnum)) d.devnum.clear();
    d.holders_error = file_io::list_dir(sysdir + "/holders", d.holders);
    std::sort(d.holders.begin(), d.holders.end(), kernel_order);
    return d;
}

}  // namespace

std::vector<std::string> disk_view::devnums() const {
    std::vector<std::string> out;
    if (!disk.devnum.empty()) out.push_back(disk.devnum);
    for (const auto& p : partitions)
        if (!p.devnum.empty()) out.push_back(p.devnum);
    return out;
}

std::vector<std::string> disk_view::kernel_names() const {
    std::vector<std::string> out{disk.name};
    for (const auto& p : partitions) out.push_back(p.name);
    return out;
}

disk_view read_disk_view(const std::string& sysdir, const std::string& devpath) {
    disk_view v;
    v.devpath = devpath;
    std::string dir = host::path(sysdir);
    v.disk = read_device(sysdir.substr(sysdir.rfind('/') + 1), dir);
    v.hardware = exists(dir + "/device");
    if (!read_attr(dir + "/device/model", v.model)) v.model.clear();
    v.ro_read = read_attr(dir + "/ro", v.ro);
    v.removable_read = read_attr(dir + "/removable", v.removable);
    // The "partition" attribute marks a partition's directory inside its disk's.
    std::vector<std::string> entries;
    file_io::list_dir(dir, entries);
    std::sort(entries.begin(), entries.end(), kernel_order);
    for (const auto& e : entries)
        if (exists(dir + "/" + e + "/partition")) v.partitions.push_back(read_device(e, dir + "/" + e));
    std::string node = host::path(devpath);
    struct stat st {};
    if (::stat(node.c_str(), &st) == 0) {
        v.node_exists = true;
        v.node_dev = st.st_dev;
        v.node_ino = st.st_ino;
        char buf[PATH_MAX];
        if (::realpath(node.c_str(), buf)) v.node = buf;
    }
    return v;
}

bool kernel_order(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        bool da = std::isdigit(static_cast<unsigned char>(a[i])), db = std::isdigit(static_cast<unsigned char>(b[j]));
        size_t ei = i, ej = j;
        while (ei < a.size() && (std::isdigit(static_cast<unsigned char>(a[ei])) != 0) == da) ++ei;
        while (ej < b.size() && (std::isdigit(static_cast<unsigned char>(b[ej])) != 0) == db) ++ej;
        std::string ra = a.substr(i, ei - i), rb = b.substr(j, ej - j);
        if (da != db) return da;
        if (da) {
            std::string za = ra.substr(std::min(ra.find_first_not_of('0'), ra.size()));
            std::string zb = rb.substr(std::min(rb.find_first_not_of('0'), rb.size()));
            if (za.size() != zb.size()) return za.size() < zb.size();
            if (za != zb) return za < zb;
        } else if (ra != rb) {
            // Drive letters run sdz, sdaa: within one family of names (same
            // first two letters) fewer letters come first.
            bool same_family = ra.size() >= 2 && rb.size() >= 2 && ra.compare(0, 2, rb, 0, 2) == 0;
            if (same_family && ra.size() != rb.size()) return ra.size() < rb.size();
            return ra < rb;
        }
        i = ei;
        j = ej;
    }
    return a.size() - i < b.size() - j;
}

bool is_partition_name(const std::string& disk_dev, const std::string& candidate) {
    if (disk_dev.empty() || candidate.size() <= disk_dev.size() || candidate.compare(0, disk_dev.size(), disk_dev) != 0)
        return false;
    std::string rest = candidate.substr(disk_dev.size());
    if (std::isdigit(static_cast<unsigned char>(disk_dev.back()))) {
        if (rest[0] != 'p') return false;
        rest = rest.substr(1);
    }
    return !rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos;
}

std::vector<std::string> physical_disks() {
    std::vector<std::string> names, disks;
    file_io::list_dir(host::path(host::system_paths::sys_block), names);
    for (const auto& n : names)
        if (exists(host::path("/sys/block/" + n + "/device"))) disks.push_back("/dev/" + n);
    return disks;
}

}  // namespace tidewall::blkdev

std::vector<std::string> tw_physical_disks() { return tidewall::blkdev::physical_disks(); }
