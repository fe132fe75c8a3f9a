// Version 1: the walk's commands and files, and the ring-buffer rules per
// interface speed and current ring size.

#include "tuning_fixture.h"

#include "tuning/perf_params_versions.h"

using namespace tidewall::testing;

namespace {

const char* const kTag = "tw_perf_params_version_v1::configure()";
const std::string kScripts = "/etc/sysconfig/network-scripts/";

// ethtool 6's -g layout with the given maximum and current sizes (the numbers
// of a real output replaced).
std::string rings(unsigned max, unsigned current_rx, unsigned current_tx) {
    std::string text = fixture("ethtool/g-ethtool6-extra-fields-insights.txt");
    auto set = [&](const std::string& from, const std::string& to) { text.replace(text.find(from), from.size(), to); };
    set("Pre-set maximums:\nRX:\t\t4096", "Pre-set maximums:\nRX:\t\t" + std::to_string(max));
    set("TX:\t\t4096\nCurrent", "TX:\t\t" + std::to_string(max) + "\nCurrent");
    set("settings:\nRX:\t\t1024", "settings:\nRX:\t\t" + std::to_string(current_rx));
    set("TX:\t\t512", "TX:\t\t" + std::to_string(current_tx));
    return text;
}

// A node with the given interfaces (name, speed text, MAC), each with an ifcfg file.
void add_interface(test_backend& tb, const std::string& name, const std::string& speed, const std::string& mac) {
    tb.write_file("/sys/class/net/" + name + "/speed", speed + "\n");
    tb.write_file("/sys/class/net/" + name + "/address", mac + "\n");
    tb.write_file(kScripts + "ifcfg-" + name, "DEVICE=" + name + "\nBOOTPROTO=none\nHWADDR=" + mac + "\nONBOOT=yes\n");
}

struct v1_node {
    explicit v1_node(const std::string& interfaces, int ifconfig_status = 0) {
        quiet_node(tb);
        tb.on(kIfListCommand, ifconfig_status, interfaces, ifconfig_status ? "sh: ifconfig: not found\n" : "");
    }
    test_backend tb;
};

TEST(VersionOne, WalksTheParametersInOrderWithExactCommandsFilesAndRegistryValues) {
    v1_node n("em1\n");
    add_interface(n.tb, "em1", "10000", "00:1b:21:aa:bb:cc");
    n.tb.on("ethtool -g em1", 0, rings(4096, 2048, 2048));
    n.tb.write_file("/proc/meminfo", "MemTotal:       65536000 kB\nMemFree:         1437740 kB\n");
    n.tb.write_file("/etc/sysctl.conf",
                    "# System default settings live in /usr/lib/sysctl.d/00-system.conf.\n"
                    "kernel.sem = 250 32000 32 128\n");
    n.tb.write_file("/etc/lvm/lvm.conf", "activation {\n\tthin_pool_autoextend_threshold = 100\n}\n");
    n.tb.write_file("/etc/modprobe.d/blacklist.conf", "blacklist nouveau\n");
    n.tb.write_file("/etc/passwd",
                    "root:x:0:0:root:/root:/bin/bash\napache:x:48:48:Apache:/usr/share/httpd:/sbin/nologin\n");

    EXPECT_EQ(0, tw_perf_params_version_v1().configure());

    std::vector<std::string> expected = {kIfListCommand};
    for (const char* d : {"static", "templates", "scripts", "logs", "config", "static/css", "static/fonts",
                          "static/compare", "static/screenshots", "static/img", "static/js"})
        expected.push_back(std::string("mkdir -p /var/www/my_flask_prod/") + d);
    for (const char* c : {"chmod -R 775 /var/www/my_flask_prod/static", "chmod -R 775 /var/www/my_flask_prod/templates",
                          "chown -R apache:apache /var/www/my_flask_prod", "sysctl -p", "ethtool -g em1",
                          "ethtool -G em1 rx 4096", "ethtool -g em1", "ethtool -G em1 tx 4096",
                          "systemctl start fstrim", "systemctl enable fstrim", "systemctl start fstrim.timer",
                          "systemctl enable fstrim.timer", "tuned-adm profile throughput-performance", "sysctl -p"})
        expected.push_back(c);
    EXPECT_EQ(expected, n.tb.commands);

    // 2 % of 65536000 kB.
    EXPECT_EQ(
        "# System default settings live in /usr/lib/sysctl.d/00-system.conf.\n"
        "kernel.sem=6000 768000 6000 128\n"
        "vm.min_free_kbytes=1310720\n",
        n.tb.read_file("/etc/sysctl.conf"));
    EXPECT_EQ("activation {\n\tthin_pool_autoextend_threshold = 50\n}\n", n.tb.read_file("/etc/lvm/lvm.conf"));
    EXPECT_EQ("blacklist nouveau\nblacklist tsbf\nblacklist tsfsf\n", n.tb.read_file("/etc/modprobe.d/blacklist.conf"));
    EXPECT_EQ("install tsbf /bin/true\n", n.tb.read_file("/etc/modprobe.d/tsbf.conf"));
    EXPECT_EQ("install tsfsf /bin/true\n", n.tb.read_file("/etc/modprobe.d/tsfsf.conf"));
    // One ETHTOOL_OPTS line holding both sizes, though both rings were set.
    EXPECT_EQ(
        "DEVICE=em1\nBOOTPROTO=none\nHWADDR=00:1b:21:aa:bb:cc\nONBOOT=yes\nETHTOOL_OPTS=\"-G em1 tx 4096 rx 4096\"\n",
        n.tb.read_file(kScripts + "ifcfg-em1"));

    EXPECT_EQ("256", n.tb.key("nBufFileRdrReadSizeKB").value_or(""));
    EXPECT_EQ("128", n.tb.key("DataMoverLookAheadLinkReaderSlots").value_or(""));
    EXPECT_EQ("1", n.tb.key("DataMoverUseLookAheadLinkReader").value_or(""));
    EXPECT_EQ("32768", n.tb.key("SIDBCommitThreshold").value_or(""));
    EXPECT_TRUE(n.tb.logged(0, kTag, "reg key set [SIDBCommitThreshold] = [32768]"));
    EXPECT_TRUE(n.tb.logged(0, kTag, "requested[4096] current[2048] max [4096] nw_if_name[em1] [nw_rx_ring_buffer]"));
    EXPECT_TRUE(n.tb.logged(0, kTag, "requested[4096] current[2048] max [4096] nw_if_name[em1] [nw_tx_ring_buffer]"));
}

TEST(VersionOne, RingBuffersOnlyOnFastLinksAndOnlyWhereTheSizeDiffers) {
    v1_node n("em1\nem2\nem3\nem4\np1p1\np1p2\n");
    add_interface(n.tb, "em1", "1000", "00:1b:21:00:00:01");  // 1 Gb/s: never touched
    add_interface(n.tb, "em2", "9999", "00:1b:21:00:00:02");  // just below 10 Gb/s
    add_interface(n.tb, "em3", "10000", "00:1b:21:00:00:03");  // rings already 4096
    add_interface(n.tb, "em4", "10000", "00:1b:21:00:00:04");  // only the transmit ring differs
    add_interface(n.tb, "p1p1", "40000", "00:1b:21:00:00:05");  // virtio-like: maximum 256, still asked
    n.tb.write_file("/sys/class/net/p1p2/address", "00:1b:21:00:00:06\n");  // link down: no speed
    n.tb.on("ethtool -g em3", 0, rings(4096, 4096, 4096));
    n.tb.on("ethtool -g em4", 0, rings(4096, 4096, 1024));
    n.tb.on("ethtool -g p1p1", 0, fixture("ethtool/g-virtio-na-insights.txt"));
    n.tb.on("ethtool -G p1p1 rx 4096", 1, "", "netlink error: Invalid argument\n");
    n.tb.on("ethtool -G p1p1 tx 4096", 1, "", "netlink error: Invalid argument\n");

    EXPECT_EQ(0, tw_perf_params_version_v1().configure());

    EXPECT_EQ((std::vector<std::string>{"ethtool -g em3", "ethtool -g em4", "ethtool -g p1p1", "ethtool -g em3",
                                        "ethtool -g em4", "ethtool -g p1p1"}),
              commands_starting(n.tb, "ethtool -g"));
    EXPECT_EQ(
        (std::vector<std::string>{"ethtool -G p1p1 rx 4096", "ethtool -G em4 tx 4096", "ethtool -G p1p1 tx 4096"}),
        commands_starting(n.tb, "ethtool -G"));
    for (const char* i : {"em1", "em2", "em3", "p1p1"})
        EXPECT_EQ(std::string::npos, n.tb.read_file(kScripts + "ifcfg-" + i).find("ETHTOOL_OPTS")) << i;
    EXPECT_NE(std::string::npos,
              n.tb.read_file(kScripts + "ifcfg-em4").find("\nETHTOOL_OPTS=\"-G em4 tx 4096 rx 4096\"\n"));
    EXPECT_TRUE(n.tb.logged(-1, kTag, "getting network interface speed failed [p1p2]"));
    EXPECT_TRUE(n.tb.logged(0, kTag, "requested[4096] current[256] max [256] nw_if_name[p1p1] [nw_rx_ring_buffer]"));
}

TEST(VersionOne, InterfaceProblemsNeverStopTheVersion) {
    v1_node n("em1\nem2\nem3\n");
    add_interface(n.tb, "em1", "10000", "00:1b:21:00:00:01");
    add_interface(n.tb, "em2", "10000", "00:1b:21:00:00:02");
    add_interface(n.tb, "em3", "10000", "00:1b:21:00:00:03");
    n.tb.on("ethtool -g em1", 0, fixture("ethtool/g-error-no-such-device-insights.txt"));
    n.tb.on("ethtool -g em2", 0, rings(4096, 512, 512));
    n.tb.on("ethtool -g em3", 0, rings(4096, 512, 512));
    std::filesystem::remove(n.tb.root + kScripts + "ifcfg-em2");  // no ifcfg file to make it permanent
    n.tb.write_file(kScripts + "ifcfg-em3", "DEVICE=em3\nHWADDR=00:1B:21:00:00:03\n");  // upper case, as NM writes

    EXPECT_EQ(0, tw_perf_params_version_v1().configure());
    EXPECT_TRUE(n.tb.logged(-1, kTag, "failed to get ring buffer settings [em1]"));
    EXPECT_TRUE(ran(n.tb, "ethtool -G em2 rx 4096") && ran(n.tb, "ethtool -G em3 tx 4096"));
    EXPECT_FALSE(n.tb.exists(kScripts + "ifcfg-em2"));
    EXPECT_EQ("DEVICE=em3\nHWADDR=00:1B:21:00:00:03\nETHTOOL_OPTS=\"-G em3 tx 4096 rx 4096\"\n",
              n.tb.read_file(kScripts + "ifcfg-em3"));
    EXPECT_TRUE(ran(n.tb, "tuned-adm profile throughput-performance"));
}

TEST(VersionOne, NoApacheUserNoWebFolders) {
    v1_node n("");
    n.tb.write_file("/etc/passwd",
                    "root:x:0:0:root:/root:/bin/bash\ntomcat:x:91:91::/usr/share/apache-tomcat:/sbin/nologin\n");
    EXPECT_EQ(0, tw_perf_params_version_v1().configure());
    EXPECT_TRUE(n.tb.logged(-1, kTag, "user [apache] does not exist"));
    EXPECT_TRUE(commands_starting(n.tb, "mkdir").empty());
    EXPECT_TRUE(commands_starting(n.tb, "chown").empty());
    // A node without lvm.conf gets none.
    EXPECT_FALSE(n.tb.exists("/etc/lvm/lvm.conf"));
}

TEST(VersionOne, FailuresStopAtTheFailingStepWithItsStatus) {
    {
        v1_node n("");
        std::filesystem::remove(n.tb.root + "/proc/meminfo");
        EXPECT_EQ(1, tw_perf_params_version_v1().configure());
        EXPECT_TRUE(n.tb.logged(-1, kTag, "getting ram size failed"));
        EXPECT_TRUE(n.tb.commands.empty());
    }
    {
        v1_node n("", 127);
        EXPECT_EQ(1, tw_perf_params_version_v1().configure());
        EXPECT_TRUE(n.tb.logged(-1, kTag, "getting network interface list failed"));
        EXPECT_FALSE(n.tb.key("DataMoverLookAheadLinkReaderSlots").has_value());
    }
    {
        v1_node n("");
        n.tb.registry_read_only = true;
        EXPECT_EQ(1, tw_perf_params_version_v1().configure());
        EXPECT_TRUE(n.tb.logged(-1, kTag, "setting reg key failed for [DataMoverLookAheadLinkReaderSlots]= [128]"));
        EXPECT_FALSE(n.tb.exists("/etc/modprobe.d/blacklist.conf"));
    }
    {
        v1_node n("");
        n.tb.on("systemctl enable fstrim", 4, "", "Failed to enable unit\n");
        EXPECT_EQ(4, tw_perf_params_version_v1().configure());
        EXPECT_FALSE(ran(n.tb, "systemctl start fstrim.timer"));
        EXPECT_FALSE(ran(n.tb, "tuned-adm profile throughput-performance"));
    }
    {
        // The tuned profile's result is not looked at.
        v1_node n("");
        n.tb.on("tuned-adm profile throughput-performance", 1, "", "Cannot talk to Tuned daemon via DBus.\n");
        EXPECT_EQ(0, tw_perf_params_version_v1().configure());
        EXPECT_NE(std::string::npos, n.tb.read_file("/etc/sysctl.conf").find("vm.min_free_kbytes=324037\n"));
    }
    {
        // Without /etc/modprobe.d the blacklist cannot be written.
        v1_node n("");
        std::filesystem::remove_all(n.tb.root + "/etc/modprobe.d");
        EXPECT_EQ(1, tw_perf_params_version_v1().configure());
        EXPECT_FALSE(ran(n.tb, "sysctl -p"));
    }
}

}  // namespace
