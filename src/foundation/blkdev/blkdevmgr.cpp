#include "foundation/blkdev/blkdevmgr.h"
#include "foundation/log/log_level.h"

#include "foundation/blkdev/blkdev_probe.h"
#include "foundation/blkdev/disk_view.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/mount/ts_mnt_parser.h"

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

using tidewall::blkdev::exists;
using tidewall::blkdev::read_attr;
using tidewall::blkdev::read_number;

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

std::vector<std::string> names_of(const std::vector<tidewall::blkdev::sysfs_device>& devices) {
    std::vector<std::string> out;
    for (const auto& d : devices) out.push_back(d.name);
    return out;
}

}  // namespace

using tidewall::blkdev::in_use;
using tidewall::blkdev::kernel_order;

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
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to read /sys/block error [%s]",
                        std::strerror(enumerate_error_));
        return enumerate_error_;
    }
    std::sort(names.begin(), names.end(), kernel_order);
    for (const auto& name : names) add_disk(name, include_partitions);
    return 0;
}

void tsaf_blkdevmgr::add_disk(const std::string& name, bool include_partitions) {
    disk_facts d;
    d.view = tidewall::blkdev::read_disk_view("/sys/block/" + name, "/dev/" + name);
    const auto& v = d.view;
    d.info.set_devpath("/dev/" + name);
    d.info.set_name(name);
    if (v.disk.size_known) d.info.set_size(v.disk.sectors * 512ULL);
    if (!v.model.empty()) d.info.set_model(v.model);
    if (!v.disk.devnum.empty()) d.info.set_devnum(v.disk.devnum);
    devices_.push_back(d.info);
    for (const auto& p : v.partitions) {
        tsaf_blkdev_basic_info part("/dev/" + p.name);
        part.set_name(p.name);
        part.set_is_partition(true);
        if (p.size_known) part.set_size(p.sectors * 512ULL);
        if (!p.devnum.empty()) part.set_devnum(p.devnum);
        if (include_partitions) devices_.push_back(part);
    }
    log_.logMessage("tsaf_blkdevmgr::enumerate_blkdevs", tidewall::log_level::trace,
                    "Block device [%s] size [%llu] partitions [%s]", d.info.get_devpath().c_str(), d.info.get_size(),
                    join(names_of(v.partitions), ",").c_str());
    disks_.push_back(std::move(d));
}

int tsaf_blkdevmgr::load_usage_tables(usage_tables& t) {
    t.in_use = tidewall::blkdev::read_usage_tables();
    const auto& u = t.in_use;
    int rc = 0;
    if (u.unreadable == "/etc/mtab") {
        t.problem = std::string("mount table /etc/mtab unreadable (") + std::strerror(u.error) + ")";
        return u.error;
    }
    rc = read_table("/etc/fstab", t.fstab, true);
    if (rc != 0) {
        t.problem = std::string("/etc/fstab unreadable (") + std::strerror(rc) + ")";
        return rc;
    }
    // mountinfo names the device number of every mount, whatever path the
    // source was given by; where it exists it must be readable.
    if (!u.unreadable.empty()) {
        t.problem = u.unreadable + " unreadable (" + std::strerror(u.error) + ")";
        return u.error;
    }
    return 0;
}

std::string tsaf_blkdevmgr::judge(const disk_facts& d, const usage_tables& t) {
    if (!t.problem.empty()) return t.problem;
    const auto& v = d.view;
    const std::string& name = d.info.get_name();
    const std::string& dev = d.info.get_devpath();
    if (name.compare(0, 4, "loop") == 0) {
        if (!loop_allowed(dev)) return std::string("loop device not named in ") + kTestDisksKey;
    } else if (!v.hardware) {
        return "no hardware device behind it (virtual block device)";
    }
    if (!v.disk.size_known) return "size unreadable";
    if (v.disk.sectors == 0) return "zero size (no medium)";
    if (!v.ro_read || (v.ro != "0" && v.ro != "1")) return "read-only flag unreadable";
    if (v.ro == "1") return "read-only";
    if (!v.removable_read || (v.removable != "0" && v.removable != "1")) return "removable flag unreadable";
    if (v.removable == "1") return "removable media";
    if (!v.partitions.empty()) return "has partitions (" + join(names_of(v.partitions), ", ") + ")";
    // Policy: any holder, mount or swap of the disk rules it out; the
    // holders are named together.
    std::vector<std::string> holders;
    for (const auto& r : tidewall::blkdev::why_in_use(v, t.in_use)) {
        if (r.kind == in_use::cannot_tell) return "holders unreadable";
        if (r.kind == in_use::held) holders.push_back(r.holder);
    }
    if (!holders.empty()) return "held by " + join(holders, ", ");
    for (const auto& r : tidewall::blkdev::why_in_use(v, t.in_use)) {
        if (r.kind == in_use::mounted) return "mounted at " + r.mount_point;
        if (r.kind == in_use::swap) return "used as swap (" + r.source + ")";
    }
    for (const auto& f : t.fstab)
        if (tidewall::blkdev::names_disk(f.GetBackingDevice(), v))
            return "named in /etc/fstab (" + f.GetBackingDevice() + " on " + f.GetMountPoint() + ")";
    if (!v.node_exists) return "no device node " + dev;

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
    if (rc != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Cannot tell which disks are in use: %s", t.problem.c_str());
    for (const auto& d : disks_) {
        tsaf_blkdev_verdict v;
        v.set_info(d.info);
        std::string reason = judge(d, t);
        v.set_is_new(reason.empty());
        v.set_reason(reason);
        if (reason.empty())
            log_.logMessage(tag, tidewall::log_level::detail, "Disk [%s] is new", d.info.get_devpath().c_str());
        else
            log_.logMessage(tag, tidewall::log_level::detail, "Disk [%s] is not new: %s", d.info.get_devpath().c_str(),
                            reason.c_str());
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
    if (rc != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Cannot tell which disks are in use: %s", t.problem.c_str());
    const disk_facts& d = disks_.front();
    std::string reason = judge(d, t);
    verdict.set_info(d.info);
    verdict.set_is_new(reason.empty());
    verdict.set_reason(reason);
    if (reason.empty())
        log_.logMessage(tag, tidewall::log_level::detail, "Disk [%s] is new", devpath.c_str());
    else
        log_.logMessage(tag, tidewall::log_level::detail, "Disk [%s] is not new: %s", devpath.c_str(), reason.c_str());
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
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to read the capacity of block device [%s]",
                        devpath.c_str());
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
    log_.logMessage(tag, tidewall::log_level::trace, "Block device [%s] blocks [%llu] block size [%llu]",
                    devpath.c_str(), dev.get_blocks(), blksize);
}

int tsaf_blkdevmgr::get_vfat_partition(std::string& partition, std::string& uuid) {
    const char* tag = "tsaf_blkdevmgr::get_vfat_partition";
    if (!enumerated_ || !with_partitions_) enumerate_blkdevs(true);
    std::string first, first_uuid;
    for (const auto& d : disks_) {
        if (d.info.get_name().compare(0, 4, "loop") == 0 && !loop_allowed(d.info.get_devpath())) continue;
        // A USB stick's vfat is never the node's EFI system partition.
        if (d.view.removable_read && d.view.removable == "1") continue;
        for (const auto& part : d.view.partitions) {
            const std::string& p = part.name;
            auto probe = tidewall::blkdev::probe_signatures(path("/dev/" + p));
            if (probe.what != tidewall::blkdev::probe_result::found || probe.type != "vfat") continue;
            bool esp =
                probe.part_entry_type == "0xef" || probe.part_entry_type == "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";
            if (esp) {
                partition = "/dev/" + p;
                uuid = probe.uuid;
                log_.logMessage(tag, tidewall::log_level::detail, "EFI system partition [%s] uuid [%s]",
                                partition.c_str(), uuid.c_str());
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
    log_.logMessage(tag, tidewall::log_level::detail, "vfat partition [%s] uuid [%s]", partition.c_str(), uuid.c_str());
    return 0;
}
