#ifndef TIDEWALL_TESTS_UNIT_STORAGE_FIXTURE_H
#define TIDEWALL_TESTS_UNIT_STORAGE_FIXTURE_H

// Shared set-up of the storage tests: a test backend, a node flavour, and
// signatures written into the fake disks' image files (fake_sysfs.h).

#include "fake_sysfs.h"
#include "test_backend.h"

#include <tidewall/tw_storage.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tidewall::testing {

inline void use_gluster_flavour(test_backend& tb) { tb.set_key("sArrowfieldApplianceType", "RM-110"); }
inline void use_maldor_flavour(test_backend& tb) { tb.set_key("sArrowfieldApplianceType", "RM-500"); }

// Writes bytes into an image file at an offset.
inline void poke(test_backend& tb, const std::string& path, long offset, const std::string& bytes) {
    std::fstream f(tb.root + path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string peek(test_backend& tb, const std::string& path, long offset, size_t len) {
    std::ifstream f(tb.root + path, std::ios::binary);
    f.seekg(offset);
    std::string out(len, '\0');
    f.read(out.data(), static_cast<std::streamsize>(len));
    return out;
}

// An MBR partition table with one Linux partition: libblkid reports PTTYPE "dos".
inline void write_dos_table(test_backend& tb, const std::string& dev) {
    std::string entry("\x00\x00\x02\x00\x83\x00\x00\x00\x00\x08\x00\x00\x00\x20\x00\x00", 16);
    poke(tb, dev, 446, entry);
    poke(tb, dev, 510, "\x55\xaa");
}

// The magic of an ext2 superblock: libblkid reports TYPE "ext2".
inline void write_ext_superblock(test_backend& tb, const std::string& dev) { poke(tb, dev, 1024 + 0x38, "\x53\xef"); }

// A swap signature of version 1: TYPE "swap".
inline void write_swap_signature(test_backend& tb, const std::string& dev) {
    poke(tb, dev, 4096 - 10, "SWAPSPACE2");
    poke(tb, dev, 1024, std::string("\x01\x00\x00\x00\xff\x07\x00\x00", 8));
}

// A FAT12 boot sector with volume id 02DC-E00F: libblkid reports TYPE "vfat".
inline void write_fat_boot_sector(test_backend& tb, const std::string& dev) {
    std::string bs(512, '\0');
    const unsigned char head[] = {
        0xEB, 0x3C, 0x90, 'M',  'S', 'D', 'O', 'S', '5',  '.',  '0',  0x00, 0x02,  // 512 bytes a sector
        0x04,  // sectors a cluster
        0x01, 0x00,  // reserved sectors
        0x02,  // FATs
        0x00, 0x02,  // root entries
        0x00, 0x10,  // sectors
        0xF8,  // media
        0x03, 0x00,  // sectors a FAT
        0x20, 0x00, 0x40, 0x00,  // geometry
        0,    0,    0,    0,    0,   0,   0,   0,   0x80, 0x00, 0x29, 0x0F, 0xE0, 0xDC, 0x02};
    bs.replace(0, sizeof head, reinterpret_cast<const char*>(head), sizeof head);
    bs.replace(43, 19, "NO NAME    FAT12   ");
    bs[510] = '\x55';
    bs[511] = '\xaa';
    poke(tb, dev, 0, bs);
    poke(tb, dev, 512, "\xF8\xFF\xFF");
    poke(tb, dev, 512 + 3 * 512, "\xF8\xFF\xFF");
}

// mount(8) as the kernel answers it: a "mount -t" command without a script of
// its own succeeds and its device then shows in /etc/mtab at the path.
inline void mounts_take_effect(test_backend& tb) {
    tb.fallback = [&tb](const std::string& cmd) -> std::optional<host::command_result> {
        if (cmd.rfind("mount -t ", 0) != 0) return std::nullopt;
        size_t last = cmd.rfind(' '), before = cmd.rfind(' ', last - 1);
        std::string type = cmd.substr(9, cmd.find(' ', 9) - 9);
        std::string mtab = tb.exists("/etc/mtab") ? tb.read_file("/etc/mtab") : "";
        tb.write_file("/etc/mtab", mtab + cmd.substr(before + 1, last - before - 1) + " " + cmd.substr(last + 1) + " " +
                                       type + " rw 0 0\n");
        return host::command_result{};
    };
}

// Builds a tw_storage on a machine with an /etc, and forgets the commands its
// construction ran.
struct storage_under_test {
    explicit storage_under_test(test_backend& tb) : storage() {
        tb.make_dir("/etc");
        tb.commands.clear();
        tb.time_limits.clear();
    }
    tw_storage storage;
};

}  // namespace tidewall::testing

#endif
