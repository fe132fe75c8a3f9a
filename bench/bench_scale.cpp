// Large nodes, measured with fake hardware that answers as large nodes do
// (tests/integration/lib/fake_scale.sh): a smartctl answering in 1.6 s a call
// with some disks spun down, a gluster answering in 0.17 s a call, a long
// /etc/fstab. For each size: the time, the time per item, its ratio to the
// smallest size's, and the ratio to the standard tool where one exists (one
// smartctl call, findmnt --fstab). With a second twctl (an older build) the
// same items are measured with it in the same run, as "before".
//
//   tests/integration/sandbox.sh build/bench/bench_scale build/tools/twctl [OLD_TWCTL]
//
// Root, inside the sandbox only: it mounts a tmpfs over /sys/block and writes
// /etc/fstab and the registry of the throw-away machine copy. Figures, never
// pass/fail.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "shell.h"

namespace {

using tidewall::testing::run_shell;
using tidewall::testing::sh;

std::string prelude;  // sources the fakes and puts them first on PATH
std::string step;  // the script file each measured step is written to

// cmd run by bash after the prelude; its standard output.
tidewall::testing::run_result bash(const std::string& cmd) {
    std::ofstream(step) << prelude << cmd << "\n";
    return run_shell("bash " + step);
}

double timed(const std::string& cmd, std::string* out = nullptr) {
    auto t0 = std::chrono::steady_clock::now();
    auto r = bash(cmd);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (out) *out = r.out;
    return s;
}

size_t lines_matching(const std::string& text, const std::string& head, const std::string& tail = "") {
    size_t n = 0, at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.compare(0, head.size(), head) == 0 &&
            (tail.empty() ||
             (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0)))
            ++n;
        at = end + 1;
    }
    return n;
}

struct tool {
    std::string label, path;
};

void set_flavour(bool gluster) {
    sh("mkdir -p /etc/TessalineRegistry/Tolvan/Instance001/Dockwright && printf '" +
       std::string(gluster ? "sArrowfieldApplianceType RM-110\\n" : "") +
       "' > /etc/TessalineRegistry/Tolvan/Instance001/Dockwright/registry.conf");
}

void disks(const std::vector<tool>& tools, const std::string& bin) {
    set_flavour(false);
    std::printf("\ntwctl metrics, N physical disks, smartctl answering in 1.6 s a call, 8 readers, deadline 30 s\n");
    std::string one;
    double call = timed("fake_scale_disks 1 && SMART_DELAY=1.6 smartctl -n standby -H -i -A /dev/sdaa >/dev/null");
    std::printf("  one smartctl call: %.2f s\n", call);
    for (const auto& t : tools) {
        double base = 0;
        for (int n : {8, 24, 60}) {
            for (int asleep : n == 60 ? std::vector<int>{0, 12} : std::vector<int>{0}) {
                std::string out;
                double s =
                    timed("fake_scale_disks " + std::to_string(n) + " && fake_scale_disk_names " + std::to_string(n) +
                              " | head -" + std::to_string(asleep) + " > " + bin + "/standby && : > " + bin +
                              "/woken && SMART_DELAY=1.6 " + t.path + " metrics 2>/dev/null",
                          &out);
                const double per = s / n;
                if (base == 0) base = per;
                size_t read = lines_matching(out, "tidewall_smart_readable{", "} 1");
                size_t standby = lines_matching(out, "tidewall_smart_standby{", "} 1");
                std::string woken = sh("wc -l < " + bin + "/woken");
                std::printf(
                    "  %-6s N=%2d asleep=%2d: %6.2f s, %.3f s a disk (x%.2f of N=8), %5.2f x one smartctl "
                    "call; read %zu, in standby %zu, woken %s, smart success %s\n",
                    t.label.c_str(), n, asleep, s, per, per / base, s / call, read, standby, woken.c_str(),
                    lines_matching(out, "tidewall_collector_success{collector=\"smart\"} 1") ? "1" : "0");
            }
        }
    }
    bash("umount /sys/block 2>/dev/null");
}

void gluster(const std::vector<tool>& tools, const std::string& bin) {
    set_flavour(true);
    bash("fake_scale_disks 0");
    std::printf("\ntwctl metrics, M gluster volumes (replica 3), gluster answering in 0.17 s a call\n");
    for (const auto& t : tools) {
        double base = 0;
        for (int m : {50, 500}) {
            std::string out;
            sh(": > " + bin + "/gluster_calls");
            double s =
                timed("GLUSTER_VOLUMES=" + std::to_string(m) + " GLUSTER_DELAY=0.17 " + t.path + " metrics 2>/dev/null",
                      &out);
            const double per = s / m;
            if (base == 0) base = per;
            std::string calls = sh("wc -l < " + bin + "/gluster_calls");
            std::string repeats = sh("sort " + bin + "/gluster_calls | uniq -d | wc -l");
            std::printf(
                "  %-6s M=%3d: %6.2f s, %.4f s a volume (x%.2f of M=50); gluster calls %s, asked twice %s; "
                "volumes reported %zu, gluster success %s\n",
                t.label.c_str(), m, s, per, per / base, calls.c_str(), repeats.c_str(),
                lines_matching(out, "tidewall_gluster_volume_heal_pending{"),
                lines_matching(out, "tidewall_collector_success{collector=\"gluster\"} 1") ? "1" : "0");
        }
    }
    std::printf("\ntwctl monitor, M DAV volumes with a brick on this node, gluster answering in 0.17 s a call\n");
    sh("printf '#!/bin/sh\\necho \"--== Host 1 status ==--\"\\n' > /usr/sbin/hosted-engine && "
       "chmod 755 /usr/sbin/hosted-engine");
    for (const auto& t : tools) {
        double base = 0;
        for (int m : {10, 50}) {
            std::string out;
            sh(": > " + bin + "/gluster_calls");
            double s = timed("GLUSTER_VOLUMES=" + std::to_string(m) +
                                 " GLUSTER_PREFIX=dav_vm_vol_ GLUSTER_HOST=$(hostname) GLUSTER_DELAY=0.17 " + t.path +
                                 " monitor --json 2>/dev/null",
                             &out);
            const double per = s / m;
            if (base == 0) base = per;
            std::string calls = sh("wc -l < " + bin + "/gluster_calls");
            std::string repeats = sh("sort " + bin + "/gluster_calls | uniq -d | wc -l");
            std::printf("  %-6s M=%2d: %6.2f s, %.3f s a volume (x%.2f of M=10); gluster calls %s, asked twice %s\n",
                        t.label.c_str(), m, s, per, per / base, calls.c_str(), repeats.c_str());
        }
    }
    sh("rm -f /usr/sbin/hosted-engine");
    set_flavour(false);
}

void fstab(const std::vector<tool>& tools) {
    std::printf("\ntwctl fstab show, L lines of /etc/fstab (half UUID= entries), against findmnt --fstab\n");
    const std::string saved = sh("mktemp");
    sh("cp /etc/fstab " + saved);
    for (const auto& t : tools) {
        double base = 0;
        for (int l : {1000, 10000}) {
            sh("python3 -c 'import sys\nfor i in range(" + std::to_string(l) +
               "):\n    d = \"UUID=%08x-0000-4000-8000-%012x\" % (i, i) if i % 2 else \"/dev/sd%d\" % i\n"
               "    print(\"%s /tw/disk%d xfs noatime,inode64,nofail 0 0\" % (d, i))' > /etc/fstab");
            double findmnt = timed("findmnt --fstab >/dev/null");
            double text = timed(t.path + " fstab show >/dev/null 2>&1");
            double json = timed(t.path + " fstab show --json >/dev/null 2>&1");
            const double per = text / l;
            if (base == 0) base = per;
            std::printf(
                "  %-6s L=%5d: show %6.2f s (%.1f us a line, x%.2f of L=1000), --json %6.2f s; findmnt "
                "%.3f s: show = %.1f x findmnt (goal: 10 x findmnt + 1 s = %.2f s)\n",
                t.label.c_str(), l, text, per * 1e6, per / base, json, findmnt, text / findmnt, 10 * findmnt + 1);
        }
    }
    sh("cp " + saved + " /etc/fstab && rm -f " + saved);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::getenv("TW_IN_SANDBOX")) {
        std::fprintf(stderr, "usage (as root): tests/integration/sandbox.sh bench_scale TWCTL [OLD_TWCTL]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures as they come: the run takes minutes
    std::vector<tool> tools{{"after", argv[1]}};
    if (argc > 2) tools.push_back({"before", argv[2]});
    const std::string bin = sh("mktemp -d");
    const char* fixtures = std::getenv("TW_FIXTURES_DIR");
    prelude = "source " TW_SOURCE_DIR "/tests/integration/lib/fake_scale.sh && export FIX=" +
              std::string(fixtures ? fixtures : TW_SOURCE_DIR "/tests/fixtures") + " PATH=" + bin +
              ":$PATH SMART_STANDBY=" + bin + "/standby SMART_WOKEN=" + bin + "/woken GLUSTER_CALLS=" + bin +
              "/gluster_calls GLUSTER_VOLUMES=0 && ";
    step = bin + "/step.sh";
    std::ofstream(bin + "/standby").flush();
    bash("fake_scale_smartctl " + bin + " && fake_scale_gluster " + bin + " && fake_scale_peer_names");
    sh("mkdir -p /etc/TessalineRegistry/Tolvan/Instance001/EventManager && printf 'dEVLOGDIR " + bin +
       "\\n' > /etc/TessalineRegistry/Tolvan/Instance001/EventManager/registry.conf");
    disks(tools, bin);
    gluster(tools, bin);
    bash("umount /sys/block 2>/dev/null");
    fstab(tools);
    sh("rm -rf " + bin);
    return 0;
}
