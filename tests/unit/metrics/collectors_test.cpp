// The collector runner (deadlines, failures) and collectors driven by the test
// backend: exact commands, values from real outputs, and no change to the node.

#include "fixture.h"
#include "foundation/host/command_deadline.h"
#include "metrics/collector.h"
#include "test_backend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

namespace tidewall::metrics {
namespace {

using testing::test_backend;
using namespace std::chrono_literals;

std::string rendered(const family_set& set) { return render(set.families()); }

bool has(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

TEST(MetricsRunner, AFailingOrLateCollectorCostsItsOwnSectionOnly) {
    test_backend tb;
    // "late" takes 600 ms of the fake clock, once the runner and the four others
    // have read it (each collector's end is stamped on it): no real wait.
    auto late = [&tb](family_set& s) {
        for (int i = 0; i < 5000 && tb.steady_readers() < 5; ++i) std::this_thread::sleep_for(1ms);
        host::current().sleep_ms(600);
        s.gauge("tw_d", "d", {}, 1);
        return true;
    };
    std::vector<collector> list = {
        {"first",
         [](family_set& s) {
             s.gauge("tw_a", "a", {}, 1);
             return true;
         }},
        {"throws",
         [](family_set& s) -> bool {
             s.gauge("tw_b", "b", {}, 1);
             throw std::runtime_error("x");
         }},
        {"refuses",
         [](family_set& s) {
             s.gauge("tw_c", "c", {}, 1);
             return false;
         }},
        {"late", late},
        {"last",
         [](family_set& s) {
             s.gauge("tw_e", "e", {}, 1);
             return true;
         }},
    };
    const std::string text = rendered(run_collectors(list, 300ms));
    for (const char* kept : {"tw_a 1", "tw_e 1"}) EXPECT_TRUE(has(text, kept)) << kept << "\n" << text;
    for (const char* dropped : {"tw_b 1", "tw_c 1", "tw_d 1"}) EXPECT_FALSE(has(text, dropped)) << dropped;
    for (const char* line :
         {"tidewall_collector_success{collector=\"first\"} 1", "tidewall_collector_success{collector=\"throws\"} 0",
          "tidewall_collector_success{collector=\"refuses\"} 0", "tidewall_collector_success{collector=\"late\"} 0",
          "tidewall_collector_success{collector=\"last\"} 1", "tidewall_last_collection_timestamp_seconds 1700000000"})
        EXPECT_TRUE(has(text, line)) << line << "\n" << text;
    // What a collector threw is in the log, not lost.
    EXPECT_TRUE(tb.logged(-1, "tidewall::metrics::run_collectors", "Collector [throws] failed: x"));
}

TEST(MetricsRunner, CollectorsRunSideBySideAndACutShortOneKeepsItsSamples) {
    test_backend tb;
    // Each of these returns true only once all three have started: run one
    // after the other, the first would wait in vain.
    auto arrived = std::make_shared<std::atomic<int>>(0);
    auto meet = [arrived](family_set& s) {
        ++*arrived;
        for (int i = 0; i < 200 && *arrived < 3; ++i) std::this_thread::sleep_for(5ms);
        s.gauge("tw_met", "m", {}, *arrived);
        return *arrived >= 3;
    };
    std::vector<collector> list = {
        {"a", meet},
        {"b", meet},
        {"c", meet},
        {"partial",
         [](family_set& s) {
             s.gauge("tw_p", "p", {}, 1);
             report_cut_short();
             return true;
         }},
    };
    const std::string text = rendered(run_collectors(list, 5s));
    for (const char* line :
         {"tidewall_collector_success{collector=\"a\"} 1", "tidewall_collector_success{collector=\"c\"} 1",
          "tidewall_collector_cut_short{collector=\"a\"} 0", "tidewall_collector_success{collector=\"partial\"} 0",
          "tidewall_collector_cut_short{collector=\"partial\"} 1", "tw_p 1"})
        EXPECT_TRUE(has(text, line)) << line << "\n" << text;
}

TEST(MetricsRunner, CommandsAreCutToTheDeadlineOfTheirThread) {
    using host::time_limit_within_deadline;
    EXPECT_EQ(time_limit_within_deadline(100), 100);  // no deadline
    {
        host::command_deadline d(std::chrono::steady_clock::now() + 5s);
        EXPECT_EQ(time_limit_within_deadline(100), 5);
        EXPECT_EQ(time_limit_within_deadline(0), 5);
        EXPECT_EQ(time_limit_within_deadline(2), 2);
        {
            host::command_deadline longer(std::chrono::steady_clock::now() + 60s);  // never extends
            EXPECT_EQ(time_limit_within_deadline(100), 5);
        }
        std::thread other([] { EXPECT_EQ(time_limit_within_deadline(100), 100); });
        other.join();
    }
    host::command_deadline past(std::chrono::steady_clock::now() - 1s);
    EXPECT_EQ(time_limit_within_deadline(100), -1);
}

TEST(MetricsCollectors, FansFromARealListing) {
    test_backend tb;
    tb.on("ipmitool sdr type fan | grep -i FAN", 0,
          "Fan1             | 30h | ok  |  7.1 | 5040 RPM\n"
          "Fan2             | 31h | cr  |  7.1 | 0 RPM\n"
          "Fan3             | 32h | ok  |  7.1 | 33.32 percent\n");
    family_set s;
    ASSERT_TRUE(collect_fans(s));
    const std::string text = rendered(s);
    for (const char* line : {"tidewall_fan_ok{fan=\"Fan1\"} 1", "tidewall_fan_ok{fan=\"Fan2\"} 0",
                             "tidewall_fan_speed_rpm{fan=\"Fan1\"} 5040", "tidewall_fan_speed_rpm{fan=\"Fan2\"} 0"})
        EXPECT_TRUE(has(text, line)) << line << "\n" << text;
    EXPECT_EQ(text.find("tidewall_fan_speed_rpm{fan=\"Fan3\"}"), std::string::npos) << "a percentage is no speed";
}

TEST(MetricsCollectors, SmartVerdictsOfPhysicalDisksOnly) {
    test_backend tb;
    for (const char* d : {"sda", "sdb", "sdc", "sdd", "vdc"}) tb.make_dir(std::string("/sys/block/") + d + "/device");
    tb.make_dir("/sys/block/loop0");  // no device behind it: no disk
    const std::string asks = "smartctl -n standby -H -i -A /dev/";
    tb.on(asks + "sda", 8 | 0x20, testing::fixture("smartctl/a-sata-st910021as-health-failed-5.39.txt"));
    tb.on(asks + "sdb", 0, testing::fixture("smartctl/a-sata-hgst-hus724040ale640-megaraid-7.1.txt"));
    // sdc: spun down, and left so.
    tb.on(asks + "sdc", 2, "Device is in STANDBY mode, exit(2)\n");
    // sdd: a SAS disk that only the SCSI form opens.
    tb.on(asks + "sdd", 2, "Smartctl open device: /dev/sdd failed: INQUIRY failed\n");
    tb.on("smartctl -d scsi -n standby -H -i -A /dev/sdd", 0,
          testing::fixture("smartctl/iHA-sas-hgst-huh721212al5204-6.6.txt"));
    // vdc: every smartctl form fails (no SMART on a virtual disk).
    family_set s;
    ASSERT_TRUE(collect_smart(s));
    const std::string text = rendered(s);
    for (const char* line :
         {"tidewall_smart_readable{device=\"/dev/sda\"} 1",
          "tidewall_smart_healthy{device=\"/dev/sda\",serial=\"3MH05H05\"} 0",
          "tidewall_smart_healthy{device=\"/dev/sdb\",serial=\"PKXXXXXXXXXXGB\"} 1",
          "tidewall_smart_healthy{device=\"/dev/sdd\",serial=\"8HJ39K3H\"} 1",
          "tidewall_smart_faulty_attributes{device=\"/dev/sda\"} 1",
          "tidewall_smart_faulty_attributes{device=\"/dev/sdb\"} 0", "tidewall_smart_readable{device=\"/dev/sdc\"} 0",
          "tidewall_smart_standby{device=\"/dev/sdc\"} 1", "tidewall_smart_standby{device=\"/dev/sda\"} 0",
          "tidewall_smart_readable{device=\"/dev/vdc\"} 0", "tidewall_smart_standby{device=\"/dev/vdc\"} 0"})
        EXPECT_TRUE(has(text, line)) << line << "\n" << text;
    EXPECT_EQ(text.find("/dev/loop0"), std::string::npos);
    for (const char* none :
         {"tidewall_smart_healthy{device=\"/dev/vdc\"", "tidewall_smart_healthy{device=\"/dev/sdc\""})
        EXPECT_EQ(text.find(none), std::string::npos) << "no verdict, no sample: " << none;
    // One call a disk, and none that could wake a sleeping one.
    size_t calls = 0;
    for (const auto& c : tb.commands) {
        if (c.compare(0, 8, "smartctl") != 0) continue;
        ++calls;
        EXPECT_NE(c.find(" -n standby "), std::string::npos) << c;
    }
    EXPECT_EQ(calls, 7u);  // one each, sdd and vdc twice (plain, then SCSI)
}

TEST(MetricsCollectors, SmartCutShortAtTheDeadlineReportsEveryDiskUnread) {
    test_backend tb;
    for (const char* d : {"sda", "sdb"}) tb.make_dir(std::string("/sys/block/") + d + "/device");
    // The deadline has passed before the first disk: nothing is asked, every
    // disk is reported unreadable, and the section is kept and marked partial.
    const std::string text = rendered(run_collectors({{"smart", collect_smart}}, 0ms));
    for (const char* line :
         {"tidewall_smart_readable{device=\"/dev/sda\"} 0", "tidewall_smart_readable{device=\"/dev/sdb\"} 0",
          "tidewall_collector_success{collector=\"smart\"} 0", "tidewall_collector_cut_short{collector=\"smart\"} 1"})
        EXPECT_TRUE(has(text, line)) << line << "\n" << text;
    EXPECT_TRUE(tb.commands.empty());
}

TEST(MetricsCollectors, MetadataVgOnlyOnceConfigured) {
    test_backend tb;
    family_set none;
    ASSERT_TRUE(collect_metadata_vg(none));
    EXPECT_TRUE(none.families().empty());
    EXPECT_TRUE(tb.commands.empty());

    tb.set_key("sArrowfieldMetadataVG", "tw meta");
    const std::string cmd = "vgs --noheadings --units b --nosuffix -o vg_size,vg_free 'tw meta'";
    tb.on(cmd, 0, "  536870912000 104857600\n");
    family_set s;
    ASSERT_TRUE(collect_metadata_vg(s));
    EXPECT_EQ(tb.commands, std::vector<std::string>{cmd});
    const std::string text = rendered(s);
    EXPECT_TRUE(has(text, "tidewall_metadata_vg_size_bytes{vg=\"tw meta\"} 536870912000")) << text;
    EXPECT_TRUE(has(text, "tidewall_metadata_vg_free_bytes{vg=\"tw meta\"} 104857600")) << text;

    test_backend broken;
    broken.set_key("sArrowfieldMetadataVG", "tw meta");
    broken.on(cmd, 5, "", "  Volume group \"tw meta\" not found\n");
    family_set failed;
    EXPECT_FALSE(collect_metadata_vg(failed));
}

TEST(MetricsCollectors, CrashDumpsCountedPerLocation) {
    test_backend tb;
    tb.set_key("sArrowfieldKdumpLoc", "/srv/kdump/");
    tb.write_file("/srv/kdump/127.0.0.1-2026-12-01/vmcore", std::string(4096, 'x'));
    tb.write_file("/srv/kdump/127.0.0.1-2026-12-01/vmcore-dmesg.txt", "oops\n");
    tb.write_file("/var/log/core/core.twd.123", std::string(100, 'c'));
    family_set s;
    ASSERT_TRUE(collect_crash_dumps(s));
    const std::string text = rendered(s);
    for (const char* line :
         {"tidewall_crash_dumps{path=\"/srv/kdump\"} 2", "tidewall_crash_dump_bytes{path=\"/srv/kdump\"} 4101",
          "tidewall_crash_dumps{path=\"/var/log/core\"} 1", "tidewall_crash_dump_bytes{path=\"/var/log/core\"} 100"})
        EXPECT_TRUE(has(text, line)) << line << "\n" << text;
    EXPECT_EQ(text.find("path=\"/var/crash\""), std::string::npos) << "no such directory, no sample";
}

TEST(MetricsCollectors, TuningVersionAppliedAndLatest) {
    test_backend tb;
    tb.set_key("nPerfParamsVersion", "5");
    family_set s;
    ASSERT_TRUE(collect_tuning(s));
    const std::string text = rendered(s);
    EXPECT_TRUE(has(text, "tidewall_tuning_version 5")) << text;
    EXPECT_TRUE(has(text, "tidewall_tuning_version_latest 7")) << text;
}

TEST(MetricsCollectors, AFullCollectionChangesNothingOnTheNode) {
    test_backend tb;
    tb.set_key("nTidewallDriveOperations", "1");
    tb.set_key("sLastMonitorTimeDrive", "1699990000");
    tb.set_key("nPerfParamsVersion", "3");
    tb.write_file("/etc/mtab", "/dev/sdb1 /tw/disk1 xfs rw 0 0\n");
    tb.write_file("/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AFVolSize", "vol1:1000\n");
    tb.usage["/tw/disk1"] = {1000, 500};
    const auto registry_before = tb.registry;
    const std::string volsize_before = tb.read_file("/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AFVolSize");
    const std::string text = rendered(run_collectors(node_collectors(), 20s));
    EXPECT_EQ(tb.registry, registry_before);
    EXPECT_EQ(tb.read_file("/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/.AFVolSize"), volsize_before);
    for (const auto& c : node_collectors())
        EXPECT_NE(text.find("tidewall_collector_success{collector=\"" + c.name + "\"}"), std::string::npos) << c.name;
}

}  // namespace
}  // namespace tidewall::metrics
