// Provisioning cost a disk as the node grows: N new fake disks (a sysfs tree and
// sparse image files under a temporary root, the tools answered by the test
// backend) provisioned and recorded in /etc/fstab, at several N. Printed: time
// a disk at each N and its ratio to the smallest N, for one provisioning run
// of all disks (provision_disks, as twctl disks provision does) and for one
// call a disk (mount_new_blkdev(disk) and the fstab entry, as a library caller
// may do). Figures, never pass/fail.
//
//   bench_provision [N ...]     default 8 16 48
//
// The fake node lives under $TMPDIR (default /tmp): on a tmpfs the figures show
// the library's own work, on a disk they include its fsyncs.

#include "test_backend.h"

#include <tidewall/tw_storage.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using tidewall::testing::test_backend;

namespace {

// A node with n blank hardware disks, sdaa... in kernel order, and tools that
// answer as on a real node: mkfs succeeds, mount shows in /etc/mtab, xfs_admin
// prints the UUID mkfs was given.
struct fake_node {
    explicit fake_node(int n) {
        tb.set_key("sArrowfieldApplianceType", "RM-110");
        tb.level = 1;  // a node's default log level
        for (const char* d : {"/run", "/var/lib", "/tw", "/etc"}) tb.make_dir(d);
        tb.write_file("/etc/mtab", "/dev/vda / ext4 rw 0 0\n");
        tb.write_file("/etc/fstab", "/dev/vda / ext4 defaults 0 1\n");
        for (int i = 0; i < n; ++i) {
            std::string name = std::string("sd") + char('a' + i / 26) + char('a' + i % 26);
            std::string sys = "/sys/block/" + name;
            tb.write_file(sys + "/size", "131072\n");
            tb.write_file(sys + "/ro", "0\n");
            tb.write_file(sys + "/removable", "0\n");
            tb.write_file(sys + "/dev", "65:" + std::to_string(i * 16) + "\n");
            tb.write_file(sys + "/queue/logical_block_size", "512\n");
            tb.write_file(sys + "/device/model", "BENCH DISK\n");
            tb.make_dir(sys + "/holders");
            tb.write_file("/dev/" + name, "");
            std::filesystem::resize_file(tb.root + "/dev/" + name, 64ULL << 20);
            disks.emplace_back("/dev/" + name);
            for (int w = 0; w < 4; ++w) tb.random_values.push_back(0x9e3779b9u * (4 * i + w + 1));
        }
        tb.fallback = [this](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
            tidewall::host::command_result ok;
            std::string dev = cmd.substr(cmd.rfind(' ') + 1);
            if (cmd.rfind("echo y | mkfs", 0) == 0) {
                size_t u = cmd.find("uuid=");
                uuid_of[dev] = u == std::string::npos ? "0baa76a6-e0c5-4d9b-b9e9-3a93d9bcc94b" : cmd.substr(u + 5, 36);
                return ok;
            }
            if (cmd.rfind("mount -t ", 0) == 0) {
                size_t last = cmd.rfind(' '), before = cmd.rfind(' ', last - 1);
                mtab += cmd.substr(before + 1, last - before - 1) + " " + cmd.substr(last + 1) + " xfs rw 0 0\n";
                tb.write_file("/etc/mtab", mtab);
                return ok;
            }
            if (cmd.rfind("xfs_admin -u ", 0) == 0) {
                std::string d = cmd.substr(13, cmd.find(' ', 13) - 13);
                ok.out = uuid_of[d] + "\n";
                return ok;
            }
            return std::nullopt;
        };
    }
    test_backend tb;
    std::list<tsaf_blkdev_basic_info> disks;
    std::map<std::string, std::string> uuid_of;
    std::string mtab = "/dev/vda / ext4 rw 0 0\n";
};

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Seconds a disk for twctl disks provision of n disks: its survey, then one
// provisioning run.
double one_run(int n) {
    fake_node node(n);
    tw_storage storage;
    std::list<tw_storage::provisioning_outcome> outcomes;
    auto t0 = std::chrono::steady_clock::now();
    std::list<tsaf_blkdev_verdict> verdicts;
    storage.survey_new_disks(verdicts);
    int rc = storage.provision_disks(node.disks, true, outcomes);
    double s = seconds_since(t0);
    if (rc != 0 || outcomes.size() != static_cast<size_t>(n)) std::fprintf(stderr, "run of %d disks: rc %d\n", n, rc);
    return s / n;
}

// Seconds a disk for n calls of one disk each, each followed by its fstab entry.
double per_disk_calls(int n) {
    fake_node node(n);
    tw_storage storage;
    auto t0 = std::chrono::steady_clock::now();
    for (auto& d : node.disks) {
        std::string path, uuid;
        if (storage.mount_new_blkdev(d, path) != 0) std::fprintf(stderr, "%s failed\n", d.get_devpath().c_str());
        storage.extract_filesys_uuid(d.get_devpath(), "xfs", uuid);
        storage.update_sysconfig_files(path, "UUID=" + uuid, "xfs", "noatime,inode64,nofail", "/etc/fstab");
    }
    return seconds_since(t0) / n;
}

double median_of(double (*f)(int), int n, int rounds) {
    std::vector<double> v;
    for (int r = 0; r < rounds; ++r) v.push_back(f(n));
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {8, 16, 48};
    std::sort(sizes.begin(), sizes.end());
    std::printf("%-8s %14s %8s %16s %8s\n", "disks", "run ms/disk", "ratio", "calls ms/disk", "ratio");
    double run0 = 0, calls0 = 0;
    for (int n : sizes) {
        double run = median_of(one_run, n, 5) * 1e3, calls = median_of(per_disk_calls, n, 5) * 1e3;
        if (run0 == 0) {
            run0 = run;
            calls0 = calls;
        }
        std::printf("%-8d %14.3f %8.2f %16.3f %8.2f\n", n, run, run / run0, calls, calls / calls0);
    }
    return 0;
}
