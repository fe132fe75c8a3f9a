#include "foundation/blkdev/blkdevmgr.h"

#include "foundation/blkdev/blkdev_probe.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "foundation/compat/tsaf_utils.h"

#include <tidewall/ts_exception.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using tidewall::host::path;

namespace {

// Loop devices take part only when the integration tests name them, so that
// parallel tests never see each other's devices.
const char* const kTestDisksKey = "sTidewallTestDisks";

// A sysfs attribute, trimmed; false when it cannot be read.
bool read_attr(const std::string& mapped, std::string& value) {
    std::string text;
    if (tidewall::file_io::read_all(mapped, text) != 0) return false;
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
    return ::stat(mapped.c_str(), &st) == 0;
}

// Names in a directory, without "." and ".."; 0 or an errno value.
int list_dir(const std::string& mapped, std::vector<std::string>& names) {
    DIR* d = ::opendir(mapped.c_str());
    if (!d) return errno;
    while (struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(d);
    return 0;
}

// Kernel-name order: runs of digits compare as numbers, and drive letters as
// the kernel hands them out, so sdb < sdaa and loop2 < loop10.
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

// The kernel names partitions of "sdb" sdb1, sdb2, and those of a disk whose
// name ends in a digit with a "p": nvme0n1p1, loop3p1.
bool is_partition_name(const std::string& disk_dev, const std::string& candidate) {
    if (candidate.size() <= disk_dev.size() || candidate.compare(0, disk_dev.size(), disk_dev) != 0) return false;
    std::string rest = candidate.substr(disk_dev.size());
    if (std::isdigit(static_cast<unsigned char>(disk_dev.back()))) {
        if (rest[0] != 'p') return false;
        rest = rest.substr(1);
    }
    return !rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos;
}

std::string devnum_of(dev_t rdev) { return std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev)); }

std::string join(const std::vector<std::string>& items, const char* sep) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : sep) + i;
    return out;
}

// Reads a mount-table-like file; ENOENT is an empty table when `optional`.
int read_table(const char* file, std::list<TsMntInfo>& entries, bool optional) {
    int rc = TsMntParser(file).ParseMountPointInfo(entries);
    if (rc == ENOENT && optional) return 0;
    return rc;
}

// The "partition" attribute marks a partition's directory inside its disk's.
bool is_partition_dir(const std::string& disk_sysdir, const std::string& entry) {
    return exists(disk_sysdir + "/" + entry + "/partition");
}

} // namespace

tsaf_blkdevmgr::tsaf_blkdevmgr() = default;

bool tsaf_blkdevmgr::loop_allowed(const std::string& devpath) {
    if (!test_disks_read_) {
        test_disks_read_ = true;
        std::string value;
        if (tsaf_utils::get_reg_key(kTestDisksKey, value) == 0) {
            std::vector<std::string> items;
            tsaf_utils::tokenize(value.c_str(), ",", items);
            for (const auto& i : items) {
                std::string t = tsaf_utils::trim(i);
                if (!t.empty()) test_disks_.push_back(t);
            }
        }
    }
    return std::find(test_disks_.begin(), test_disks_.end(), devpath) != test_disks_.end();
}

int tsaf_blkdevmgr::enumerate_blkdevs(bool include_partitions) {
    const char* tag = "tsaf_blkdevmgr::enumerate_blkdevs";
    devices_.clear();
    disks_.clear();
    enumerated_ = true;
    with_partitions_ = include_partitions;
    std::vector<std::string> names;
    enumerate_error_ = list_dir(path("/sys/block"), names);
    if (enumerate_error_ != 0) {
        log_.logMessage(tag, -1, "Failed to read /sys/block error [%s]", std::strerror(enumerate_error_));
        return enumerate_error_;
    }
    std::sort(names.begin(), names.end(), kernel_order);
    for (const auto& name : names) add_disk(name, include_partitions);
    return 0;
}

void tsaf_blkdevmgr::add_disk(const std::string& name, bool include_partitions) {
    unsigned long long sectors = 0;
    std::string text;
    disk_facts d;
    d.sysdir = path("/sys/block/" + name);
    d.info.set_devpath("/dev/" + name);
    d.info.set_name(name);
    if (read_number(d.sysdir + "/size", sectors)) d.info.set_size(sectors * 512ULL);
    if (read_attr(d.sysdir + "/device/model", text)) d.info.set_model(text);
    if (read_attr(d.sysdir + "/dev", text)) {
        d.info.set_devnum(text);
        d.devnums.push_back(text);
    }
    std::vector<std::string> entries;
    list_dir(d.sysdir, entries);
    for (const auto& e : entries)
        if (is_partition_dir(d.sysdir, e)) d.partitions.push_back(e);
    std::sort(d.partitions.begin(), d.partitions.end(), kernel_order);
    struct stat st {};
    if (::stat(path(d.info.get_devpath()).c_str(), &st) == 0) {
        d.node_exists = true;
        d.node_dev = st.st_dev;
        d.node_ino = st.st_ino;
    }
    devices_.push_back(d.info);
    for (const auto& p : d.partitions) {
        tsaf_blkdev_basic_info part("/dev/" + p);
        part.set_name(p);
        part.set_is_partition(true);
        if (read_number(d.sysdir + "/" + p + "/size", sectors)) part.set_size(sectors * 512ULL);
        if (read_attr(d.sysdir + "/" + p + "/dev", text)) {
            part.set_devnum(text);
            d.devnums.push_back(text);
        }
        if (include_partitions) devices_.push_back(part);
    }
    log_.logMessage("tsaf_blkdevmgr::enumerate_blkdevs", 2, "Block device [%s] size [%llu] partitions [%s]",
                    d.info.get_devpath().c_str(), d.info.get_size(), join(d.partitions, ",").c_str());
    disks_.push_back(std::move(d));
}

int tsaf_blkdevmgr::load_usage_tables(usage_tables& t) {
    int rc = read_table("/etc/mtab", t.mounts, false);
    if (rc != 0) {
        t.problem = std::string("mount table /etc/mtab unreadable (") + std::strerror(rc) + ")";
        return rc;
    }
    rc = read_table("/etc/fstab", t.fstab, true);
    if (rc != 0) {
        t.problem = std::string("/etc/fstab unreadable (") + std::strerror(rc) + ")";
        return rc;
    }
    rc = read_table("/proc/swaps", t.swaps, true);
    if (rc != 0) {
        t.problem = std::string("/proc/swaps unreadable (") + std::strerror(rc) + ")";
        return rc;
    }
    // mountinfo names the device number of every mount, whatever path the
    // source was given by; where it exists it must be readable.
    std::string text;
    rc = tidewall::file_io::read_all(path("/proc/self/mountinfo"), text);
    if (rc == ENOENT) return 0;
    if (rc != 0) {
        t.problem = std::string("/proc/self/mountinfo unreadable (") + std::strerror(rc) + ")";
        return rc;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        start = nl == std::string::npos ? text.size() : nl + 1;
        std::vector<std::string> f;
        tsaf_utils::tokenize(line.c_str(), " ", f);
        if (f.size() >= 5) t.mountinfo.emplace_back(f[2], f[4]);
    }
    return 0;
}

bool tsaf_blkdevmgr::names_device(const std::string& source, const disk_facts& d) {
    const std::string& dev = d.info.get_devpath();
    if (source.empty() || source[0] != '/') return false;
    if (source == dev || is_partition_name(dev, source)) return true;
    struct stat st {};
    if (::stat(path(source).c_str(), &st) != 0) return false;
    if (S_ISBLK(st.st_mode) &&
        std::find(d.devnums.begin(), d.devnums.end(), devnum_of(st.st_rdev)) != d.devnums.end())
        return true;
    return d.node_exists && st.st_dev == d.node_dev && st.st_ino == d.node_ino;
}

std::string tsaf_blkdevmgr::judge(const disk_facts& d, const usage_tables& t) {
    if (!t.problem.empty()) return t.problem;
    const std::string& name = d.info.get_name();
    const std::string& dev = d.info.get_devpath();
    if (name.compare(0, 4, "loop") == 0) {
        if (!loop_allowed(dev)) return std::string("loop device not named in ") + kTestDisksKey;
    } else if (!exists(d.sysdir + "/device")) {
        return "no hardware device behind it (virtual block device)";
    }
    unsigned long long sectors = 0;
    if (!read_number(d.sysdir + "/size", sectors)) return "size unreadable";
    if (sectors == 0) return "zero size (no medium)";
    std::string flag;
    if (!read_attr(d.sysdir + "/ro", flag) || (flag != "0" && flag != "1")) return "read-only flag unreadable";
    if (flag == "1") return "read-only";
    if (!read_attr(d.sysdir + "/removable", flag) || (flag != "0" && flag != "1")) return "removable flag unreadable";
    if (flag == "1") return "removable media";
    if (!d.partitions.empty()) return "has partitions (" + join(d.partitions, ", ") + ")";
    std::vector<std::string> holders;
    if (list_dir(d.sysdir + "/holders", holders) != 0) return "holders unreadable";
    if (!holders.empty()) {
        std::sort(holders.begin(), holders.end(), kernel_order);
        return "held by " + join(holders, ", ");
    }
    for (const auto& m : t.mounts)
        if (names_device(m.GetBackingDevice(), d)) return "mounted at " + m.GetMountPoint();
    for (const auto& [devnum, mnt] : t.mountinfo)
        if (std::find(d.devnums.begin(), d.devnums.end(), devnum) != d.devnums.end()) return "mounted at " + mnt;
    for (const auto& s : t.swaps)
        if (names_device(s.GetBackingDevice(), d)) return "used as swap (" + s.GetBackingDevice() + ")";
    for (const auto& f : t.fstab)
        if (names_device(f.GetBackingDevice(), d))
            return "named in /etc/fstab (" + f.GetBackingDevice() + " on " + f.GetMountPoint() + ")";
    if (!d.node_exists) return "no device node " + dev;

    std::string node = path(dev);
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0) return "no device node " + dev;
    if (S_ISBLK(st.st_mode)) {
        // The kernel refuses an exclusive open while anything holds the device:
        // a mount, swap, RAID or device mapper we did not see in the tables.
        int fd = ::open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            int e = errno;
            if (e == EBUSY) return "in use (the kernel refuses an exclusive open)";
            return std::string("cannot be opened (") + std::strerror(e) + ")";
        }
        ::close(fd);
    } else if (!S_ISREG(st.st_mode)) {
        return "device node " + dev + " is neither a block device nor an image file";
    }
    auto probe = tidewall::blkdev::probe_signatures(node);
    if (probe.what == tidewall::blkdev::probe_result::nothing) return "";
    return "carries " + tidewall::blkdev::describe(probe);
}

int tsaf_blkdevmgr::survey_disks(std::list<tsaf_blkdev_verdict>& verdicts) {
    const char* tag = "tsaf_blkdevmgr::survey_disks";
    verdicts.clear();
    if (!enumerated_) enumerate_blkdevs(false);
    if (enumerate_error_ != 0) return enumerate_error_;
    usage_tables t;
    int rc = load_usage_tables(t);
    if (rc != 0) log_.logMessage(tag, -1, "Cannot tell which disks are in use: %s", t.problem.c_str());
    for (const auto& d : disks_) {
        tsaf_blkdev_verdict v;
        v.set_info(d.info);
        std::string reason = judge(d, t);
        v.set_is_new(reason.empty());
        v.set_reason(reason);
        if (reason.empty())
            log_.logMessage(tag, 1, "Disk [%s] is new", d.info.get_devpath().c_str());
        else
            log_.logMessage(tag, 1, "Disk [%s] is not new: %s", d.info.get_devpath().c_str(), reason.c_str());
        verdicts.push_back(std::move(v));
    }
    return rc;
}

int tsaf_blkdevmgr::survey_disk(const std::string& devpath, tsaf_blkdev_verdict& verdict) {
    const char* tag = "tsaf_blkdevmgr::survey_disk";
    verdict = tsaf_blkdev_verdict();
    verdict.set_info(tsaf_blkdev_basic_info(devpath));
    std::string name = devpath.compare(0, 5, "/dev/") == 0 ? devpath.substr(5) : "";
    struct stat st {};
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == ".." ||
        ::stat(path("/sys/block/" + name).c_str(), &st) != 0) {
        verdict.set_reason("gone");
        return 0;
    }
    devices_.clear();
    disks_.clear();
    enumerated_ = true;
    enumerate_error_ = 0;
    with_partitions_ = false;
    add_disk(name, false);
    usage_tables t;
    int rc = load_usage_tables(t);
    if (rc != 0) log_.logMessage(tag, -1, "Cannot tell which disks are in use: %s", t.problem.c_str());
    const disk_facts& d = disks_.front();
    std::string reason = judge(d, t);
    verdict.set_info(d.info);
    verdict.set_is_new(reason.empty());
    verdict.set_reason(reason);
    if (reason.empty())
        log_.logMessage(tag, 1, "Disk [%s] is new", devpath.c_str());
    else
        log_.logMessage(tag, 1, "Disk [%s] is not new: %s", devpath.c_str(), reason.c_str());
    return rc;
}

int tsaf_blkdevmgr::get_new_disks(std::list<tsaf_blkdev_basic_info>& disks) {
    std::list<tsaf_blkdev_verdict> verdicts;
    int rc = survey_disks(verdicts);
    disks.clear();
    if (rc != 0) return rc;
    for (const auto& v : verdicts)
        if (v.get_is_new()) disks.push_back(v.get_info());
    return 0;
}

void tsaf_blkdevmgr::get_capacity(tsaf_blkdev& dev) {
    const char* tag = "tsaf_blkdevmgr::get_capacity";
    const std::string& devpath = dev.get_devpath();
    auto fail = [&](int line) {
        log_.logMessage(tag, -1, "Failed to read the capacity of block device [%s]", devpath.c_str());
        throw TsException(tag, "Failed to read the capacity of block device " + devpath, "tsaf_blkdevmgr", line, -1);
    };
    if (devpath.compare(0, 5, "/dev/") != 0) fail(__LINE__);
    std::string name = devpath.substr(5);
    if (name.find('/') != std::string::npos) {
        // /dev/mapper/x, /dev/disk/by-id/y: the kernel name is the link's end.
        char buf[PATH_MAX];
        if (!::realpath(path(devpath).c_str(), buf)) fail(__LINE__);
        std::string real(buf);
        name = real.substr(real.rfind('/') + 1);
    }
    if (name.empty() || name == "." || name == "..") fail(__LINE__);

    // A disk's directory holds its queue; a partition's lies inside its disk's.
    std::string sysdir = path("/sys/block/" + name), queue;
    if (exists(sysdir + "/size")) {
        queue = sysdir + "/queue";
    } else {
        std::vector<std::string> disks;
        list_dir(path("/sys/block"), disks);
        sysdir.clear();
        for (const auto& disk : disks) {
            std::string base = path("/sys/block/" + disk);
            if (is_partition_dir(base, name)) {
                sysdir = base + "/" + name;
                queue = base + "/queue";
                break;
            }
        }
        if (sysdir.empty()) fail(__LINE__);
    }
    unsigned long long sectors = 0, blksize = 0;
    if (!read_number(sysdir + "/size", sectors) || !read_number(queue + "/logical_block_size", blksize) ||
        blksize == 0 || blksize > UINT_MAX)
        fail(__LINE__);
    // sysfs counts 512-byte sectors whatever the logical block size.
    dev.set_blocks(sectors * 512ULL / blksize);
    dev.set_blksize(static_cast<unsigned>(blksize));
    log_.logMessage(tag, 2, "Block device [%s] blocks [%llu] block size [%llu]", devpath.c_str(),
                    dev.get_blocks(), blksize);
}

int tsaf_blkdevmgr::get_vfat_partition(std::string& partition, std::string& uuid) {
    const char* tag = "tsaf_blkdevmgr::get_vfat_partition";
    if (!enumerated_ || !with_partitions_) enumerate_blkdevs(true);
    std::string first, first_uuid;
    for (const auto& d : disks_) {
        if (d.info.get_name().compare(0, 4, "loop") == 0 && !loop_allowed(d.info.get_devpath())) continue;
        std::string removable;
        // A USB stick's vfat is never the node's EFI system partition.
        if (read_attr(d.sysdir + "/removable", removable) && removable == "1") continue;
        for (const auto& p : d.partitions) {
            auto probe = tidewall::blkdev::probe_signatures(path("/dev/" + p));
            if (probe.what != tidewall::blkdev::probe_result::found || probe.type != "vfat") continue;
            bool esp = probe.part_entry_type == "0xef" ||
                       probe.part_entry_type == "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";
            if (esp) {
                partition = "/dev/" + p;
                uuid = probe.uuid;
                log_.logMessage(tag, 1, "EFI system partition [%s] uuid [%s]", partition.c_str(), uuid.c_str());
                return 0;
            }
            if (first.empty()) {
                first = "/dev/" + p;
                first_uuid = probe.uuid;
            }
        }
    }
    if (first.empty()) return -1;
    partition = first;
    uuid = first_uuid;
    log_.logMessage(tag, 1, "vfat partition [%s] uuid [%s]", partition.c_str(), uuid.c_str());
    return 0;
}
