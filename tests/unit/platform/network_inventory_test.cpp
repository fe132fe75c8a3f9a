// The network inventory: the configured interfaces of the network document
// (plain interfaces and bond members from the adapters' ports), the facts
// lspci and ethtool give with their retries, and the interface list itself on
// this project's VM (eth0 with "Speed: Unknown!").

#include "platform/network_document.h"

#include "platform_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

const char* const kGenerate =
    "PYTHONPATH=/opt/tessaline/Dockwright python /opt/tessaline/Dockwright/tsnwconfigmgr.py get "
    "/var/lib/tidewall/nwconf.json";
const char* const kParse = "tw_platform::nwconf_json_parse";

// What "grep needle | cut -d ':' -f 2-" prints from a tool's output.
std::string after_colon(const std::string& text, const std::string& needle) {
    std::string out;
    std::istringstream in(grep(text, needle));
    std::string line;
    while (std::getline(in, line)) out += line.substr(line.find(':') + 1) + "\n";
    return out;
}

// What "lspci -s ADDR | cut -d ' ' -f 2- | cut -d ':' -f 2-" prints from a listing.
std::string lspci_description(const std::string& listing, const std::string& short_address) {
    std::string line = grep(listing, short_address + " ");
    line = line.substr(line.find(' ') + 1);
    return line.substr(line.find(':') + 1);
}

// Two adapters of a bonded node: the ports of the first are bonded, the second
// carries a plain interface and one port whose entry has no hardware address.
const char* const kBondedNode = R"({
  "ethernet_adaptors": [
    { "pci_bus_info": "0000:3b:00.0",
      "ports": {
        "0": { "intfx": "eth0", "pci_bus_info": "0000:3b:00.0", "hwaddr": "b8:59:9f:10:00:01", "speed": "10000" },
        "1": { "intfx": "eth1", "pci_bus_info": "0000:3b:00.1", "hwaddr": "b8:59:9f:10:00:02", "speed": "10000" }
      } },
    { "ports": { "0": { "intfx": "eth7" } } },
    { "pci_bus_info": "0000:af:00.0",
      "ports": {
        "0": { "intfx": "eth2", "pci_bus_info": "0000:af:00.0", "hwaddr": "3c:fd:fe:00:00:0a", "speed": "1000" },
        "1": { "intfx": "eth3", "pci_bus_info": "0000:af:00.1", "speed": "Unknown!" },
        "2": { "pci_bus_info": "0000:af:00.2" },
        "4": { "intfx": "eth5", "pci_bus_info": "0000:af:00.4" }
      } }
  ],
  "interfaces": [
    { "device": "bond0", "ipaddr": "10.20.0.11", "slave_devices": ["eth0", "eth1"] },
    { "device": "eth2", "ipaddr": "192.168.10.11", "pci_bus_info": "0000:af:00.0", "hwaddr": "3c:fd:fe:00:00:0a", "speed": "1000" },
    { "device": "bond1", "ipaddr": "10.30.0.11", "slave_devices": ["eth2", "eth3", "eth9"] },
    { "device": "eth4", "ipaddr": "" },
    { "ipaddr": "10.40.0.11" },
    { "device": "bond2", "ipaddr": "10.50.0.11" }
  ]
})";

// This VM as the network script would describe it: eth0 on virtio, no speed.
const char* const kThisVm = R"({
  "ethernet_adaptors": [
    { "pci_bus_info": "0000:00:03.0",
      "ports": { "0": { "intfx": "eth0", "pci_bus_info": "0000:00:03.0", "hwaddr": "02:fc:00:00:00:01", "speed": "Unknown!" } } }
  ],
  "interfaces": [
    { "device": "eth0", "ipaddr": "172.16.0.2", "pci_bus_info": "0000:00:03.0", "hwaddr": "02:fc:00:00:00:01", "speed": "Unknown!" },
    { "device": "ifb0" }
  ]
})";

struct nic_row {
    std::string dev, bus, mac, speed;
    bool operator==(const nic_row& o) const { return dev == o.dev && bus == o.bus && mac == o.mac && speed == o.speed; }
};

std::ostream& operator<<(std::ostream& os, const nic_row& r) {
    return os << "{" << r.dev << " " << r.bus << " " << r.mac << " " << r.speed << "}";
}

std::vector<nic_row> rows(const std::map<std::string, tw_nicinfo>& nics) {
    std::vector<nic_row> out;
    for (const auto& [name, n] : nics) {
        EXPECT_EQ(name, n.get_devname());
        out.push_back({n.get_devname(), n.get_busaddr(), n.get_macaddr(), n.get_linkspeed()});
    }
    return out;
}

// The ethtool and lspci answers of this VM's eth0, from its real outputs.
void serve_vm_eth0(test_backend& tb) {
    tb.on("lspci -s 0000:00:03.0 | cut -d ' ' -f 2- | cut -d ':' -f 2-", 0,
          lspci_description(thisvm("lspci.txt"), "00:03.0"));
    tb.on("ethtool -i eth0 | grep \"firmware-version\" | cut -d ':' -f 2-", 0,
          after_colon(thisvm("ethtool_i_eth0.txt"), "firmware-version"));
    tb.on("ethtool eth0 | grep \"Link detected\" | cut -d ':' -f 2-", 0,
          after_colon(thisvm("ethtool_eth0.txt"), "Link detected"));
    tb.on("ethtool -i eth0 | grep -E '(^version)' | cut -d ':' -f 2-", 0,
          after_colon(thisvm("ethtool_i_eth0.txt"), "version: "));
}

}  // namespace

TEST(NetworkDocument, PlainInterfacesAndBondMembersFromThePortMap) {
    test_backend tb;
    tb.write_file("/var/lib/tidewall/nwconf.json", kBondedNode);
    tw_platform p;
    auto nics = p.nwconf_json_parse("/var/lib/tidewall/nwconf.json");
    EXPECT_EQ(rows(nics), (std::vector<nic_row>{
                              {"eth0", "0000:3b:00.0", "b8:59:9f:10:00:01", "10000"},
                              {"eth1", "0000:3b:00.1", "b8:59:9f:10:00:02", "10000"},
                              {"eth2", "0000:af:00.0", "3c:fd:fe:00:00:0a", "1000"},
                              // No hwaddr on its port: empty, not the previous port's.
                              {"eth3", "0000:af:00.1", "", "Unknown!"},
                          }));
    EXPECT_TRUE(tb.logged(-1, kParse, "PCIbus info missing in ethernet adapter info at index[1]"));
    EXPECT_TRUE(tb.logged(-1, kParse, "No interface name for the adapter [0000:af:00.0] port [2]"));
    EXPECT_TRUE(tb.logged(-1, kParse, "Interface [eth2] is already in the NIC list"));
    EXPECT_TRUE(tb.logged(-1, kParse, "Data for [bond1] slave interface [eth9] not available"));
    EXPECT_TRUE(tb.logged(3, kParse, "Skipping device [eth4] as IP Address is missing"));
    EXPECT_TRUE(tb.logged(2, kParse, "Device name missing in interface object at index [4]"));
    EXPECT_TRUE(tb.logged(2, kParse, "Slave devices data missing for interface [bond2]"));
    EXPECT_TRUE(tb.logged(3, kParse, "Number of Interfaces [6]"));
    EXPECT_TRUE(tb.logged(3, kParse, "Eth-Intfx [eth3] HWaddr [] PCI info [0000:af:00.1] Speed [Unknown!]"));
    // Port "4" follows a missing "3": the port list ends before it.
    EXPECT_FALSE(tb.logged(3, kParse, "Eth-Intfx [eth5] HWaddr [] PCI info [0000:af:00.4] Speed []"));
}

TEST(NetworkDocument, ABondMemberListedFirstKeepsItsPortFacts) {
    test_backend tb;
    tb.write_file("/var/lib/tidewall/nwconf.json", R"({
      "ethernet_adaptors": [ { "pci_bus_info": "0000:3b:00.0", "ports": {
          "0": { "intfx": "eth0", "pci_bus_info": "0000:3b:00.0", "hwaddr": "b8:59:9f:10:00:01", "speed": "25000" } } } ],
      "interfaces": [
        { "device": "bond0", "ipaddr": "10.20.0.11", "slave_devices": ["eth0"] },
        { "device": "eth0", "ipaddr": "10.20.0.12", "pci_bus_info": "elsewhere", "hwaddr": "00:00:00:00:00:99", "speed": "1" }
      ] })");
    tw_platform p;
    EXPECT_EQ(rows(p.nwconf_json_parse("/var/lib/tidewall/nwconf.json")),
              (std::vector<nic_row>{{"eth0", "0000:3b:00.0", "b8:59:9f:10:00:01", "25000"}}));
}

TEST(NetworkDocument, MissingOrBrokenDocumentsGiveNoInterfaces) {
    test_backend tb;
    tw_platform p;
    EXPECT_TRUE(p.nwconf_json_parse("/var/lib/tidewall/nwconf.json").empty());
    EXPECT_TRUE(tb.logged(-1, kParse, "Error parsing network config file"));

    tb.write_file("/var/lib/tidewall/nwconf.json", "{ \"interfaces\": [ { \"device\": \"eth0\", \"ipaddr\": ");
    EXPECT_TRUE(p.nwconf_json_parse("/var/lib/tidewall/nwconf.json").empty());

    tb.logs.clear();
    tb.write_file("/var/lib/tidewall/nwconf.json", "{ \"ethernet_adaptors\": [] }");
    EXPECT_TRUE(p.nwconf_json_parse("/var/lib/tidewall/nwconf.json").empty());
    EXPECT_TRUE(tb.logged(-1, kParse, "Interfaces data missing"));

    // Kinds other than those the document uses count as absent.
    tb.write_file("/var/lib/tidewall/nwconf.json", R"({ "ethernet_adaptors": {}, "interfaces": [
        { "device": 7, "ipaddr": "1.2.3.4" }, { "device": "eth1", "ipaddr": 5 },
        { "device": "bond0", "ipaddr": "1.2.3.5", "slave_devices": [ 3, null ] } ] })");
    EXPECT_TRUE(p.nwconf_json_parse("/var/lib/tidewall/nwconf.json").empty());
}

// Only a document root alone could have written is read: one that another
// account could write, or a link or FIFO at the name, yields no interfaces
// (and a FIFO does not hang the read).
TEST(NetworkDocument, DocumentsOthersCouldHaveWrittenAreNotRead) {
    const std::string doc = "/var/lib/tidewall/nwconf.json";
    struct {
        const char* what;
        std::function<void(test_backend&)> plant;
        const char* log_text;  // empty: not opened at all
    } cases[] = {
        {"world-writable", [&](test_backend& tb) { ::chmod((tb.root + doc).c_str(), 0666); },
         "Network config file [/var/lib/tidewall/nwconf.json] not read: not a regular file of root's alone"},
        {"a link to a good document",
         [&](test_backend& tb) {
             std::filesystem::rename(tb.root + doc, tb.root + "/var/lib/tidewall/real.json");
             ::symlink((tb.root + "/var/lib/tidewall/real.json").c_str(), (tb.root + doc).c_str());
         },
         ""},
        {"a FIFO",
         [&](test_backend& tb) {
             std::filesystem::remove(tb.root + doc);
             ::mkfifo((tb.root + doc).c_str(), 0600);
         },
         "Network config file [/var/lib/tidewall/nwconf.json] not read: not a regular file of root's alone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_backend tb;
        tb.write_file(doc, kThisVm);
        tw_platform p;
        ASSERT_EQ(1u, p.nwconf_json_parse(doc).size());
        c.plant(tb);
        EXPECT_TRUE(p.nwconf_json_parse(doc).empty());
        if (*c.log_text) {
            EXPECT_TRUE(tb.logged(-1, kParse, c.log_text));
        }
        EXPECT_TRUE(tb.logged(-1, kParse, "Error parsing network config file"));
    }
}

TEST(NetworkDocument, GeneratedByTheProductScriptWithAnOlderDocumentAsFallback) {
    test_backend tb;
    tw_debug log;
    tb.on(kGenerate, 0);
    EXPECT_EQ(nwconf_file_generate("/var/lib/tidewall/nwconf.json", log), 0);
    EXPECT_TRUE(tb.logged(2, "nwconf_file_generate",
                          "Failed to get Home directory regkey value from registry. Using default."));
    EXPECT_TRUE(
        tb.logged(2, "nwconf_file_generate", std::string("Generate NW config file with cmd - [") + kGenerate + "]"));

    // A home with a blank stays one word for the shell.
    tb.set_key("dHOME", "/opt/tess home");
    const std::string quoted =
        "PYTHONPATH='/opt/tess home' python '/opt/tess home'/tsnwconfigmgr.py get /var/lib/tidewall/nwconf.json";
    tb.on(quoted, 1, "", "Traceback (most recent call last):\n");
    EXPECT_EQ(nwconf_file_generate("/var/lib/tidewall/nwconf.json", log), 0);
    EXPECT_EQ(tb.commands.back(), quoted);
    EXPECT_TRUE(tb.logged(-1, "nwconf_file_generate", "Error [1] executing cmd [" + quoted + "]. Continuing.."));

    // The script failed: the document it wrote last time is read.
    tb.write_file("/var/lib/tidewall/nwconf.json", kThisVm);
    tw_platform p;
    std::map<std::string, tw_nicinfo> nics;
    p.config_get_nicmap(nics);
    EXPECT_EQ(rows(nics), (std::vector<nic_row>{{"eth0", "0000:00:03.0", "02:fc:00:00:00:01", "Unknown!"}}));
    EXPECT_TRUE(tb.logged(3, "tw_platform::config_get_nicmap",
                          "Intfx [eth0] HWaddr [02:fc:00:00:00:01] PCI info [0000:00:03.0] Speed [Unknown!]"));
}

TEST(NicFacts, RealEthtoolAndLspciOutputsOfThisVm) {
    test_backend tb;
    serve_vm_eth0(tb);
    tb.on("ethtool eth0 | grep \"Speed\" | cut -d ':' -f 2-", 0, after_colon(thisvm("ethtool_eth0.txt"), "Speed"));
    tb.on("ifconfig eth0 | egrep -o \"..:..:..:..:..:..\"", 0, "02:fc:00:00:00:01\n");
    tw_platform p;
    auto fact = [&p](const char* what) {
        std::string v = "stale";
        p.get_nicdevinfo("eth0", "0000:00:03.0", what, v, 2);
        return v;
    };
    EXPECT_EQ(fact("model"), "Red Hat, Inc. Virtio 1.0 network device (rev 01)");
    EXPECT_EQ(fact("linkstatus"), "yes");
    EXPECT_EQ(fact("linkspeed"), "0");  // "Unknown!"
    EXPECT_EQ(fact("version"), "1.0.0");
    EXPECT_EQ(fact("macaddr"), "02:fc:00:00:00:01");
    EXPECT_TRUE(tb.sleeps.empty());

    // virtio has no firmware version: an empty answer, asked three times.
    tb.commands.clear();
    EXPECT_EQ(fact("fwver"), "");
    EXPECT_EQ(tb.commands.size(), 3u);
    EXPECT_EQ(tb.sleeps, (std::vector<unsigned>{100, 100}));
    const std::string fw = "ethtool -i eth0 | grep \"firmware-version\" | cut -d ':' -f 2-";
    EXPECT_TRUE(tb.logged(-1, "tw_platform::get_nicdevinfo",
                          "Error [0] getting NIC info fwver, command[" + fw + "] output [ ] retry count [2]"));
    EXPECT_TRUE(tb.logged(-1, "tw_platform::get_nicdevinfo", "Error [0] getting NIC info fwver, output [ ]"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::get_nicdevinfo", "Get NIC info fwver (retry_count=[0])"));
}

TEST(NicFacts, LinkDownIsRetriedAndKeptAndRetriesAreClamped) {
    test_backend tb;
    tw_platform p;
    const std::string link = "ethtool eth1 | grep \"Link detected\" | cut -d ':' -f 2-";
    tb.on(link, 0, " no\n");
    std::string v;
    EXPECT_EQ(p.get_nicdevinfo("eth1", "", "linkstatus", v, 50), 0);
    EXPECT_EQ(v, "no");
    EXPECT_EQ(runs(tb, link), 11);
    EXPECT_EQ(tb.sleeps.size(), 10u);

    // A link that comes up on the second look.
    const std::string link2 = "ethtool eth2 | grep \"Link detected\" | cut -d ':' -f 2-";
    tb.on(link2, 0, " no\n");
    tb.on(link2, 0, " yes\n");
    v.clear();
    p.get_nicdevinfo("eth2", "", "linkstatus", v, 2);
    EXPECT_EQ(v, "yes");
    EXPECT_EQ(runs(tb, link2), 2);

    // A port without a PCI address has no model to ask lspci for: "lspci -s ''"
    // would describe the machine's first device instead.
    tb.commands.clear();
    v = "kept";
    p.get_nicdevinfo("eth3", "", "model", v, 2);
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_EQ(v, "kept");
    EXPECT_TRUE(
        tb.logged(-1, "tw_platform::get_nicdevinfo", "No PCI address for device [eth3]. Cannot get NIC info model"));

    // A device name that is no plain word reaches ethtool as one argument.
    p.get_nicdevinfo("e$th", "", "linkspeed", v, -4);
    EXPECT_EQ(tb.commands.back(), "ethtool 'e$th' | grep \"Speed\" | cut -d ':' -f 2-");
}

TEST(NicFacts, PhysicalPortsAndBusAddresses) {
    test_backend tb;
    tw_platform p;
    tb.on("ethtool -P \"eth0\"", 0, thisvm("ethtool_P_eth0.txt"));
    tb.on("ethtool -P \"bond0\"", 0, "Permanent address: 00:00:00:00:00:00\n");
    tb.on("ethtool -P \"lo\"", 0, "Permanent address:\n");
    tb.on("ethtool -P \"gone\"", 1, "", "Cannot get permanent address: No such device\n");
    EXPECT_TRUE(p.nic_is_physical("eth0"));
    EXPECT_FALSE(p.nic_is_physical("bond0"));
    EXPECT_FALSE(p.nic_is_physical("gone"));
    EXPECT_FALSE(p.nic_is_physical("lo"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::nic_is_physical", "Unexpected output line: Permanent address:"));

    // What "grep bus-info | cut -d ' ' -f 2" prints for this VM, and a bond with none.
    tb.on("ethtool -i eth0 | grep bus-info | cut -d ' ' -f 2", 0, "0000:00:03.0\n");
    tb.on("ethtool -i lo | grep bus-info | cut -d ' ' -f 2", 1);
    std::string bus = "stale";
    EXPECT_EQ(tw_platform::nic_get_busaddr("eth0", bus), 0);
    EXPECT_EQ(bus, "0000:00:03.0");
    EXPECT_EQ(tw_platform::nic_get_busaddr("lo", bus), -1);
    EXPECT_EQ(bus, "");
}

TEST(NicInventory, ThisVmListsEth0WithUnknownSpeedAsZero) {
    local_zone zone("UTC");
    test_backend tb;
    tb.clock = local_epoch(2026, 12, 8, 16, 40, 0);
    tb.on("ls /sys/class/net/", 0, thisvm("ls_sys_class_net.txt"));
    tb.on(kGenerate, 0);
    tb.write_file("/var/lib/tidewall/nwconf.json", kThisVm);
    serve_vm_eth0(tb);
    const std::string sar = "env -u S_TIME_FORMAT LC_ALL=C sar -f /var/log/sa/sa08 -n DEV -s 16:10:00 -e 16:40:00";
    tb.on(sar, 0,
          replaced(thisvm("sar_f_sa08_n_DEV.txt"), "Average:         eth0      0.00      0.00      0.00      0.00",
                   "Average:         eth0      9.00      8.00      1.50      0.25"));
    tw_platform p;
    const auto& nics = p.get_nicinfo();
    ASSERT_EQ(nics.size(), 1u);
    const tw_nicinfo& eth0 = nics.front();
    EXPECT_EQ(eth0.get_devname(), "eth0");
    EXPECT_EQ(eth0.get_busaddr(), "0000:00:03.0");
    EXPECT_EQ(eth0.get_macaddr(), "02:fc:00:00:00:01");
    EXPECT_EQ(eth0.get_linkspeed(), "0Mb/s");
    EXPECT_EQ(eth0.get_model(), "Red Hat, Inc. Virtio 1.0 network device (rev 01)");
    EXPECT_EQ(eth0.get_fwversion(), "");
    EXPECT_EQ(eth0.get_linkstatus(), "yes");
    EXPECT_DOUBLE_EQ(eth0.get_rxkbps(), 1.5);
    EXPECT_DOUBLE_EQ(eth0.get_txkbps(), 0.25);
    EXPECT_EQ(tb.key("sLastMonitorTimeNW"), std::to_string(tb.clock));
    EXPECT_EQ(tb.commands.front(), "ls /sys/class/net/");
    EXPECT_EQ(tb.commands[1], kGenerate);
    EXPECT_TRUE(tb.logged(3, "tw_platform::get_nicinfo", "Interface [lo] is not configured. Not reporting it."));
    EXPECT_TRUE(tb.logged(3, "tw_platform::get_nicinfo", "Interface [ifb0] is not configured. Not reporting it."));
    EXPECT_TRUE(
        tb.logged(2, "tw_platform::loginfo",
                  "Devname:[eth0] BusAddress:[0000:00:03.0] Model:[Red Hat, Inc. Virtio 1.0 network device (rev "
                  "01)] FWVersion:[] LinkStatus:[yes] LinkSpeed:[0Mb/s] MacAddr:[02:fc:00:00:00:01] RX "
                  "kb/s:[1.500000] TX kb/s:[0.250000]"));
}

TEST(NicInventory, BondMembersAreReportedWithOneSharedInterval) {
    local_zone zone("UTC");
    test_backend tb;
    tb.clock = local_epoch(2026, 12, 8, 16, 40, 0);
    tb.set_key("sLastMonitorTimeNW", std::to_string(local_epoch(2026, 12, 8, 16, 35, 0)));
    tb.on("ls /sys/class/net/", 0, "bond0\nbond1\neth0\neth1\neth2\neth3\nlo\n");
    tb.on(kGenerate, 0);
    tb.write_file("/var/lib/tidewall/nwconf.json", kBondedNode);
    tw_platform p;
    std::vector<std::string> names, speeds;
    for (const auto& n : p.get_nicinfo()) {
        names.push_back(n.get_devname());
        speeds.push_back(n.get_linkspeed());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"eth0", "eth1", "eth2", "eth3"}));
    EXPECT_EQ(speeds, (std::vector<std::string>{"10000Mb/s", "10000Mb/s", "1000Mb/s", "0Mb/s"}));
    // Every interface averages from the time the key held (to its own now:
    // the retries of the facts before it took their time).
    auto sars = commands_starting(tb, "env -u S_TIME_FORMAT LC_ALL=C sar ");
    ASSERT_EQ(sars.size(), 4u);
    for (const auto& s : sars) EXPECT_NE(s.find(" -n DEV -s 16:35:00 -e 16:40:0"), std::string::npos) << s;
    EXPECT_EQ(tb.key("sLastMonitorTimeNW"), std::to_string(tb.clock));
}

// twctl's look lists the same interfaces and leaves sLastMonitorTimeNW alone.
TEST(NicInventory, ALookLeavesTheMonitoringIntervalAlone) {
    local_zone zone("UTC");
    test_backend tb;
    tb.clock = local_epoch(2026, 12, 8, 16, 40, 0);
    const std::string last = std::to_string(local_epoch(2026, 12, 8, 16, 10, 0));
    tb.set_key("sLastMonitorTimeNW", last);
    tb.on("ls /sys/class/net/", 0, thisvm("ls_sys_class_net.txt"));
    tb.on(kGenerate, 0);
    tb.write_file("/var/lib/tidewall/nwconf.json", kThisVm);
    serve_vm_eth0(tb);
    tb.on("env -u S_TIME_FORMAT LC_ALL=C sar -f /var/log/sa/sa08 -n DEV -s 16:10:00 -e 16:40:00", 0,
          replaced(thisvm("sar_f_sa08_n_DEV.txt"), "Average:         eth0      0.00      0.00      0.00      0.00",
                   "Average:         eth0      9.00      8.00      1.50      0.25"));
    tw_platform p;
    const auto& nics = p.get_nicinfo(false);
    ASSERT_EQ(nics.size(), 1u);
    EXPECT_DOUBLE_EQ(nics.front().get_rxkbps(), 1.5);
    EXPECT_EQ(tb.key("sLastMonitorTimeNW"), last);
}

TEST(NicInventory, NoDevicesReportAnEmptyList) {
    test_backend tb;
    tw_platform p;
    tw_platform_peer::nics(p).push_back(tw_nicinfo());
    tb.on("ls /sys/class/net/", 2, "", "ls: cannot access '/sys/class/net/': No such file or directory\n");
    EXPECT_TRUE(p.get_nicinfo().empty());
    EXPECT_TRUE(tb.logged(-1, "tw_platform::get_nicinfo", "No network devices found"));
    EXPECT_EQ(tb.commands.size(), 1u);
}

TEST(NicInventory, NoDocumentReportsAnEmptyList) {
    test_backend tb;
    tw_platform p;
    tb.on("ls /sys/class/net/", 0, thisvm("ls_sys_class_net.txt"));
    EXPECT_TRUE(p.get_nicinfo().empty());
    EXPECT_TRUE(tb.logged(-1, "tw_platform::get_nicinfo", "No configured network devices found"));
    EXPECT_FALSE(tb.key("sLastMonitorTimeNW"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "NIC Info:"));
}
