#ifndef TIDEWALL_TESTS_SUPPORT_FAKE_SYSFS_H
#define TIDEWALL_TESTS_SUPPORT_FAKE_SYSFS_H

// Block devices in a test root as the kernel lays them out: each disk's
// directory under /sys/devices, reached by links from /sys/block (whole disks)
// and /sys/class/block (disks and partitions), partitions inside their disk's
// directory, holders, and sparse image files at /dev/<name> for the nodes.

#include "test_backend.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tidewall::testing {

// A fake whole disk, described by name and what differs from a plain,
// writable hardware disk of 64 MiB.
struct fake_disk {
    explicit fake_disk(std::string n) : name(std::move(n)) {}
    fake_disk& size(unsigned long long b) {
        bytes = b;
        return *this;
    }
    fake_disk& virtual_device() {
        hardware = false;
        return *this;
    }  // loop, dm: no "device" link
    fake_disk& ro_flag(std::string v) {
        ro = std::move(v);
        return *this;
    }
    fake_disk& removable_media() {
        removable = "1";
        return *this;
    }
    fake_disk& with_partitions(std::vector<std::string> p) {
        partitions = std::move(p);
        return *this;
    }
    fake_disk& held_by(std::vector<std::string> h) {
        holders = std::move(h);
        return *this;
    }
    fake_disk& without_node() {
        node = false;
        return *this;
    }
    fake_disk& empty_node() {
        image_bytes = 0;
        return *this;
    }  // a node of size 0, whatever the disk's size
    fake_disk& devnum_is(std::string d) {
        devnum = std::move(d);
        return *this;
    }

    std::string name;
    unsigned long long bytes = 64ULL << 20;
    bool hardware = true;
    std::string ro = "0";
    std::string removable = "0";
    std::vector<std::string> partitions;
    std::vector<std::string> holders;
    bool node = true;  // an image file at /dev/<name>
    long long image_bytes = -1;  // -1: as large as the disk
    std::string devnum;
};

inline int next_minor() {
    static int minor = 16;
    return minor += 16;
}

inline std::string fake_sysfs_dir(const std::string& disk) { return "/sys/devices/tw/block/" + disk; }

inline void fake_sysfs_link(test_backend& tb, const std::string& link, const std::string& target) {
    std::filesystem::path at(tb.root + link);
    std::filesystem::create_directories(at.parent_path());
    std::filesystem::remove(at);
    std::filesystem::create_directory_symlink(std::filesystem::relative(tb.root + target, at.parent_path()), at);
}

// A partition of disk with its own device number.
inline void add_partition(test_backend& tb, const std::string& disk, const std::string& part, int number,
                          const std::string& devnum) {
    std::string sys = fake_sysfs_dir(disk) + "/" + part;
    tb.write_file(sys + "/partition", std::to_string(number) + "\n");
    tb.write_file(sys + "/size", "2048\n");
    tb.write_file(sys + "/dev", devnum + "\n");
    tb.make_dir(sys + "/holders");
    fake_sysfs_link(tb, "/sys/class/block/" + part, sys);
}

inline void add_disk(test_backend& tb, fake_disk d) {
    std::string sys = fake_sysfs_dir(d.name);
    if (d.devnum.empty()) d.devnum = "8:" + std::to_string(next_minor());
    tb.write_file(sys + "/size", std::to_string(d.bytes / 512) + "\n");
    tb.write_file(sys + "/ro", d.ro + "\n");
    tb.write_file(sys + "/removable", d.removable + "\n");
    tb.write_file(sys + "/dev", d.devnum + "\n");
    tb.write_file(sys + "/queue/logical_block_size", "512\n");
    tb.make_dir(sys + "/holders");
    if (d.hardware) tb.write_file(sys + "/device/model", "QEMU HARDDISK   \n");
    fake_sysfs_link(tb, "/sys/block/" + d.name, sys);
    fake_sysfs_link(tb, "/sys/class/block/" + d.name, sys);
    int n = 1;
    for (const auto& p : d.partitions) {
        // The kernel numbers partitions after their disk: 8:16, then 8:17.
        size_t colon = d.devnum.find(':');
        add_partition(tb, d.name, p, n,
                      d.devnum.substr(0, colon) + ":" + std::to_string(std::stoi(d.devnum.substr(colon + 1)) + n));
        ++n;
    }
    for (const auto& h : d.holders) tb.make_dir(sys + "/holders/" + h);
    if (d.node) {
        tb.write_file("/dev/" + d.name, "");
        std::filesystem::resize_file(tb.root + "/dev/" + d.name, d.image_bytes < 0 ? d.bytes : d.image_bytes);
    }
}

// holder (a device-mapper volume when dm_name is given, else md or another
// driver) holding device, a disk or partition already added.
inline void add_holder(test_backend& tb, const std::string& device, const std::string& holder,
                       const std::string& dm_name = "") {
    tb.make_dir("/sys/class/block/" + device + "/holders/" + holder);
    if (dm_name.empty()) return;
    std::string sys = "/sys/devices/virtual/block/" + holder;
    tb.write_file(sys + "/dm/name", dm_name + "\n");
    fake_sysfs_link(tb, "/sys/class/block/" + holder, sys);
}

}  // namespace tidewall::testing

#endif
