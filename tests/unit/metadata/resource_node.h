#ifndef TIDEWALL_TESTS_METADATA_RESOURCE_NODE_H
#define TIDEWALL_TESTS_METADATA_RESOURCE_NODE_H

// A node for the resource manager tests: registry values, a server model, a
// mount table that its mount and umount commands change as the real ones do,
// and disks sdb to sdf of 1 TiB in a fake sysfs with image files as nodes.

#include "fake_sysfs.h"
#include "lvm_setup.h"
#include "test_backend.h"

#include <tidewall/tw_resource_mgr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tidewall::testing {

using strings = std::vector<std::string>;

inline const char* const kDell = "DellInc._PowerEdgeR740xd";
inline const std::string kIndexPath = "/opt/tessaline/Dockwright64/IndexCache";
constexpr unsigned long long kTiB = 1ULL << 40;

// A disk as sysfs shows it: size, device number, holders, partitions.
inline void add_block_device(test_backend& tb, const std::string& name, unsigned long long bytes,
                             const std::string& devnum) {
    add_disk(tb, fake_disk(name).size(bytes).devnum_is(devnum).empty_node());
}

// An LVM physical-volume label in the disk's image (made 4 MiB: libblkid
// passes over a label on a device of 1 MiB or less), as pvcreate writes it in
// the second sector: label header with its checksum, then the PV header's UUID
// and device size.
inline void write_lvm_label(test_backend& tb, const std::string& disk) {
    const unsigned long long size = 4ULL << 20;
    std::string label(512, '\0');
    label.replace(0, 8, "LABELONE");
    label[8] = 1;  // the sector it lies in
    label[20] = 32;  // offset of the PV header
    label.replace(24, 8, "LVM2 001");
    label.replace(32, 32, std::string(32, 'A'));
    for (int i = 0; i < 8; ++i) label[64 + i] = static_cast<char>((size >> (8 * i)) & 0xff);
    std::uint32_t crc = 0xf597a6cf;  // LVM's CRC-32 seed, no final inversion
    for (size_t i = 20; i < label.size(); ++i) {
        crc ^= static_cast<unsigned char>(label[i]);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0u);
    }
    for (int i = 0; i < 4; ++i) label[16 + i] = static_cast<char>((crc >> (8 * i)) & 0xff);
    std::string image = tb.root + "/dev/" + disk;
    std::filesystem::resize_file(image, size);
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(512);
    f.write(label.data(), static_cast<std::streamsize>(label.size()));
}

// A device-mapper volume named dm_name holding the disk.
inline void hold_disk(test_backend& tb, const std::string& disk, const std::string& holder,
                      const std::string& dm_name) {
    add_holder(tb, disk, holder, dm_name);
}

// A node whose mount and umount commands change its mount table, as the real
// ones do; every other command not scripted fails.
class fake_node {
public:
    fake_node(test_backend& tb, const std::string& node_type, const std::string& platform, const std::string& model)
        : tb_(tb) {
        if (!node_type.empty()) tb.set_key("sArrowfieldNodeType", node_type);
        tb.set_key("sScaleoutPlatformType", platform);
        tb.make_dir("/etc");
        tb.make_dir("/opt");
        int minor = 16;
        for (const char* disk : {"sdb", "sdc", "sdd", "sde", "sdf"}) {
            add_block_device(tb, disk, kTiB, "8:" + std::to_string(minor));
            minor += 16;
        }
        write_mtab();
        tb.fallback = [this, model](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
            tidewall::host::command_result ok;
            if (cmd.find("dmidecode --type system") != std::string::npos) {
                ok.out = model + "\n";
                return ok;
            }
            if (cmd == "systemctl daemon-reload") return ok;
            if (cmd.rfind("umount ", 0) == 0) {
                std::string path = cmd.substr(7);
                auto it = std::find_if(mounted_.rbegin(), mounted_.rend(), [&](auto& m) { return m.second == path; });
                if (it == mounted_.rend()) return std::nullopt;
                mounted_.erase(std::next(it).base());
                write_mtab();
                return ok;
            }
            if (cmd.rfind("mount -t xfs -o ", 0) == 0) {
                size_t last = cmd.rfind(' '), before = cmd.rfind(' ', last - 1);
                mount(cmd.substr(before + 1, last - before - 1), cmd.substr(last + 1));
                return ok;
            }
            return std::nullopt;
        };
    }
    void mount(const std::string& dev, const std::string& path) {
        mounted_.emplace_back(dev, path);
        tb_.make_dir(path);
        write_mtab();
    }
    strings mount_points() const {
        strings out;
        for (const auto& m : mounted_) out.push_back(m.second);
        return out;
    }
    std::vector<std::pair<std::string, std::string>> mounts() const { return mounted_; }

private:
    void write_mtab() {
        std::string text = "/dev/sda1 / xfs rw 0 0\n";
        for (const auto& [dev, path] : mounted_) text += dev + " " + path + " xfs rw,noatime 0 0\n";
        tb_.write_file("/etc/mtab", text);
    }
    test_backend& tb_;
    std::vector<std::pair<std::string, std::string>> mounted_;
};

// The default document of a node for the disks.
inline std::string layout_of(const std::string& node_type, strings disks) {
    tw_resource_mgr mgr;
    std::list<std::string> list(disks.begin(), disks.end());
    std::string doc, type = node_type;
    EXPECT_EQ(0, mgr.create_meta_data_storage_config(list, doc, type));
    return doc;
}

// Group creation and extent queries of metadatavg on the disks.
inline void script_group(test_backend& tb, const strings& disks, const std::string& scan, const std::string& free) {
    std::string pv_text;
    for (const auto& d : disks) {
        tb.on("pvcreate -ff -y " + d, 0);
        pv_text += d + " ";
    }
    tb.on(kPvScan, 0, scan);
    tb.on("vgcreate  metadatavg --physicalextentsize 4M " + pv_text, 0);
    tb.on(alloc_query("metadatavg"), 0, "0\n");
    tb.on(free_query("metadatavg"), 0, free);
}

}  // namespace tidewall::testing

#endif
