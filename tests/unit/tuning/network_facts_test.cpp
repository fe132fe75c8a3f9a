// Interface and memory facts read from real tool outputs and sysfs texts.

#include "tuning_fixture.h"

using namespace tidewall::testing;

namespace {

TEST(RingBufferValues, ReadsMaximumsAndCurrentSizesFromRealEthtoolOutputs) {
    struct ring_case {
        const char* name;
        std::string output;
        unsigned max_rx, max_tx, current_rx, current_tx;
    } cases[] = {
        {"ethtool 6 with extra fields", fixture("ethtool/g-ethtool6-extra-fields-insights.txt"), 4096, 4096, 1024, 512},
        {"virtio, tab separated", fixture("ethtool/g-virtio-na-insights.txt"), 256, 256, 256, 256},
        {"this machine's eth0", tool_output("thisvm/ethtool_g_eth0.txt"), 256, 256, 256, 256},
    };
    for (const auto& c : cases) {
        test_backend tb;
        tb.on("ethtool -g eth0", 0, c.output);
        tw_perf_params_config tuning;
        unsigned max_rx = 0, max_tx = 0, current_rx = 0, current_tx = 0;
        ASSERT_EQ(0, tuning.get_nw_if_ring_buffer_values("eth0", max_rx, max_tx, current_rx, current_tx)) << c.name;
        EXPECT_EQ(c.max_rx, max_rx) << c.name;
        EXPECT_EQ(c.max_tx, max_tx) << c.name;
        EXPECT_EQ(c.current_rx, current_rx) << c.name;
        EXPECT_EQ(c.current_tx, current_tx) << c.name;
        EXPECT_TRUE(tb.logged(0, "tw_perf_params_config::get_nw_if_ring_buffer_values",
                              "nw_if [eth0] current_tx [" + std::to_string(c.current_tx) + "]"));
    }
}

TEST(RingBufferValues, ShortOrFailedOutputsAreFailures) {
    test_backend tb;
    tw_perf_params_config tuning;
    unsigned a = 7, b = 7, c = 7, d = 7;
    // A VLAN on a bond: two lines only.
    tb.on("ethtool -g bond0.102", 0, fixture("ethtool/g-error-no-such-device-insights.txt"));
    EXPECT_EQ(1, tuning.get_nw_if_ring_buffer_values("bond0.102", a, b, c, d));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_nw_if_ring_buffer_values",
                          "expected output list 11 but received [2]"));
    // The loop-back device of this machine: ethtool fails.
    tb.on("ethtool -g lo", 1, tool_output("thisvm/ethtool_lo_g.txt"));
    EXPECT_EQ(1, tuning.get_nw_if_ring_buffer_values("lo", a, b, c, d));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_nw_if_ring_buffer_values", "command [ethtool -g lo] failed"));
    // Eleven lines but not in ethtool's layout; nothing is half filled in.
    tb.on("ethtool -g x", 0, "a\nb\nRX: 1\nc\nd\nTX: 2\ne\nf\nRX: 3\ng\nh\n");
    EXPECT_EQ(1, tuning.get_nw_if_ring_buffer_values("x", a, b, c, d));
    EXPECT_EQ(7u, a);
    // An interface name the shell would split is quoted.
    tb.on("ethtool -g 'em1;reboot'", 1);
    EXPECT_EQ(1, tuning.get_nw_if_ring_buffer_values("em1;reboot", a, b, c, d));
    EXPECT_EQ("ethtool -g 'em1;reboot'", tb.commands.back());
}

TEST(InterfaceFacts, ListSpeedAndAddressFromIfconfigAndSysfs) {
    test_backend tb;
    tb.on(kIfListCommand, 0, "em1\nem2\n\n");
    tb.on(kIfListCommand, 2, "", "ifconfig: not found");  // the second time
    tb.write_file("/sys/class/net/em1/speed", "10000\n");
    tb.write_file("/sys/class/net/em1/address", "00:1b:21:aa:bb:cc\n");
    tb.write_file("/sys/class/net/eth0/speed", tool_output("thisvm/sys_class_net_eth0_speed.txt"));
    tw_perf_params_config tuning;
    std::list<std::string> interfaces;
    ASSERT_EQ(0, tuning.get_nw_if_list(interfaces));
    EXPECT_EQ((std::list<std::string>{"em1", "em2"}), interfaces);
    EXPECT_EQ(std::vector<int>{100}, tb.time_limits);

    std::string speed, mac;
    EXPECT_EQ(0, tuning.get_nw_if_speed("em1", speed));
    EXPECT_EQ("10000", speed);
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_config::get_nw_if_speed", "nw_if [em1] speed [10000]"));
    EXPECT_EQ(0, tuning.get_nw_if_speed("eth0", speed));  // a virtio link without a speed
    EXPECT_EQ("-1", speed);
    EXPECT_EQ(1, tuning.get_nw_if_speed("em2", speed));  // link down: no speed
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_nw_if_speed", "failed to find nw_if [em2] speed"));
    EXPECT_EQ(0, tuning.get_nw_if_mac_addr("em1", mac));
    EXPECT_EQ("00:1b:21:aa:bb:cc", mac);
    EXPECT_EQ(1, tuning.get_nw_if_mac_addr("em2", mac));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_nw_if_mac_addr", "failed to find nw_if [em2] address"));

    EXPECT_EQ(1, tuning.get_nw_if_list(interfaces));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_nw_if_list", "command [" + kIfListCommand + "] failed"));
}

TEST(InterfaceFacts, ConfFileIsTheIfcfgFileNamingTheMacInAnyCase) {
    test_backend tb;
    const std::string dir = "/etc/sysconfig/network-scripts/";
    tb.write_file(dir + "ifcfg-em1", "DEVICE=em1\nHWADDR=00:1B:21:AA:BB:CC\n");  // NetworkManager: upper case
    tb.write_file(dir + "ifcfg-em2", "DEVICE=em2\nHWADDR=\"00:1b:21:aa:bb:dd\"\n");  // quoted
    tb.write_file(dir + "ifcfg-em3", "DEVICE=em3\n#HWADDR=00:1b:21:aa:bb:ee\n");
    tb.write_file(dir + "route-em1", "HWADDR=00:1b:21:aa:bb:ee\n");
    tw_perf_params_config tuning;
    std::string path;
    EXPECT_EQ(0, tuning.get_nw_if_conf_file("00:1b:21:aa:bb:cc", path));
    EXPECT_EQ(dir + "ifcfg-em1", path);
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_config::get_nw_if_conf_file",
                          "nw_if [00:1b:21:aa:bb:cc] conf file [/etc/sysconfig/network-scripts/ifcfg-em1]"));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_nw_if_conf_file",
                          "network conf file [/etc/sysconfig/network-scripts/ifcfg-em1]\n"));
    EXPECT_EQ(0, tuning.get_nw_if_conf_file("00:1b:21:aa:bb:dd", path));
    EXPECT_EQ(dir + "ifcfg-em2", path);
    path = "unchanged";
    EXPECT_EQ(1, tuning.get_nw_if_conf_file("00:1b:21:aa:bb:ee", path));  // commented out, or no ifcfg file
    EXPECT_EQ(1, tuning.get_nw_if_conf_file("00:1b:21:aa:bb:c", path));  // a prefix is no match
    EXPECT_EQ("unchanged", path);
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_nw_if_conf_file", "failed to find network conf file"));
}

TEST(RamSize, MemTotalInKbFromTheFirstLine) {
    test_backend tb;
    tw_perf_params_config tuning;
    unsigned long long kb = 0;
    tb.write_file("/proc/meminfo", fixture("meminfo/proc-meminfo-8g-sysstat-testroot.txt"));
    EXPECT_EQ(0, tuning.get_ram_size(kb));
    EXPECT_EQ(8144960u, kb);
    EXPECT_TRUE(tb.logged(0, "tw_perf_params_config::get_ram_size", "RAM size [8144960]"));

    // free(1)'s table is no meminfo.
    tb.write_file("/proc/meminfo", fixture("meminfo/free-b-plus-meminfo-percona-001.txt"));
    kb = 1;
    EXPECT_EQ(1, tuning.get_ram_size(kb));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_ram_size", "memTotal not found"));
    tb.write_file("/proc/meminfo", "MemTotal: 8144960\n");
    EXPECT_EQ(1, tuning.get_ram_size(kb));
    EXPECT_TRUE(tb.logged(-1, "tw_perf_params_config::get_ram_size", "failed to find mem info size = 2"));
    tb.write_file("/proc/meminfo", "MemTotal: lots kB\n");
    EXPECT_EQ(1, tuning.get_ram_size(kb));
    EXPECT_EQ(1u, kb);
    std::filesystem::remove(tb.root + "/proc/meminfo");
    EXPECT_EQ(1, tuning.get_ram_size(kb));
}

TEST(GlusterVolumes, AllButTheDavVolumesInGlustersOrder) {
    test_backend tb;
    // Three answers, in turn.
    tb.on(kVolumeList, 0, volume_list_xml({"dav_he_vol", "vol_b", "dav_vm_vol", "vol_a"}));
    tb.on(kVolumeList, 0, fixture("gluster/volume-list-xml-exporter.txt"));
    tb.on(kVolumeList, 1, "", "Connection failed. Please check if gluster daemon is operational.\n");
    tw_perf_params_config tuning;
    std::list<std::string> volumes = {"kept"};
    EXPECT_EQ(0, tuning.get_gluster_volumes(volumes));
    EXPECT_EQ((std::list<std::string>{"kept", "vol_b", "vol_a"}), volumes);

    volumes.clear();
    EXPECT_EQ(0, tuning.get_gluster_volumes(volumes));
    EXPECT_EQ((std::list<std::string>{"gv_cluster", "gv_test"}), volumes);

    EXPECT_EQ(1, tuning.get_gluster_volumes(volumes));
    EXPECT_TRUE(
        tb.logged(0, "tw_perf_params_config::get_gluster_volumes", "Failed to scan gluster volumes on the server"));
}

}  // namespace
