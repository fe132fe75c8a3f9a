// The platform report's exact lines and section order, the capability tests,
// the vendor table and the drive-operations gate.

#include "platform_test_util.h"

#include <gtest/gtest.h>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

const char* const kReport = "tw_platform::loginfo";

// Answers the server-model pipeline of tw_storage with model.
void serve_model(test_backend& tb, const std::string& model) {
    tb.fallback = [model](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        if (cmd.find("dmidecode --type system") == std::string::npos) return std::nullopt;
        tidewall::host::command_result r;
        r.out = model + "\n";
        return r;
    };
}

}  // namespace

TEST(Loginfo, NothingBelowLevelTwo) {
    for (int level : {0, 1}) {
        test_backend tb;
        tb.level = level;
        tw_platform p;
        tb.logs.clear();
        p.loginfo(static_cast<tw_platforminfo>(0xFFF));
        EXPECT_TRUE(texts(tb, kReport).empty()) << "level " << level;
    }
}

TEST(Loginfo, EverySectionInItsOrderWithExactLines) {
    test_backend tb;
    tb.level = 2;
    tw_platform p;

    tw_nicinfo nic;
    nic.set_devname("eth0");
    nic.set_busaddr("0000:00:03.0");
    nic.set_model("Virtio network device");
    nic.set_linkstatus("yes");
    nic.set_linkspeed("Unknown!");
    nic.set_macaddr("52:54:00:12:34:56");
    nic.set_rxkbps(1.5);
    nic.set_txkbps(0.25);
    tw_platform_peer::nics(p).push_back(nic);
    tw_ctrlinfo sas;
    sas.set_type("SAS");
    sas.set_model("PERC H740P Mini");
    sas.set_fwversion("51.13.0-3485");
    sas.set_bdf("0000:18:00.0");
    sas.set_state("Optimal");
    tw_platform_peer::sas(p).push_back(sas);
    tw_ctrlinfo fc;
    fc.set_type("FC");
    fc.set_wwn("0x21000024ff7b5a2c");
    tw_platform_peer::fc(p).push_back(fc);
    tw_driveinfo d;
    d.set_devname("/dev/sdb");
    d.set_serialnum("W1F09S26");
    d.set_overallhealth(true);
    d.set_rdsectps(2);
    d.set_drivenum("4");
    tw_platform_peer::drives(p).push_back(d);
    tw_mntpointinfo m;
    m.set_mntpath("/tw/disk1");
    m.set_mounted(true);
    m.set_percentused(17);
    tw_platform_peer::mntpoints(p).push_back(m);
    tw_platform_peer::cpu_usage(p) = 12.5;

    tb.logs.clear();
    p.loginfo(static_cast<tw_platforminfo>(0xFFF));
    std::vector<std::string> expected = {
        "System Info:",
        "Vendor:[] Model:[] Serial Number:[]",
        "Chipset Info:",
        "Manufacturer:[] Product Name:[] Version:[] SerialNum:[]",
        "BIOS Info:",
        "Vendor:[] Version:[] Release Date:[] Revision:[]",
        "Processor Info:",
        "CPU Usage: [12.500000]%",
        "Memory Info:",
        "TotalMemory: [0MB] UsedMemory: [0MB]",
        "NIC Info:",
        "Devname:[eth0] BusAddress:[0000:00:03.0] Model:[Virtio network device] FWVersion:[] LinkStatus:[yes] "
        "LinkSpeed:[Unknown!] MacAddr:[52:54:00:12:34:56] RX kb/s:[1.500000] TX kb/s:[0.250000]",
        "SAS Controller Info:",
        "Type:[SAS] Model:[PERC H740P Mini] WWN:[] FWVersion:[51.13.0-3485] PCIAddress:[0000:18:00.0] State:[Optimal]",
        "FC Controller Info:",
        "Type:[FC] Model:[] WWN:[0x21000024ff7b5a2c] FWVersion:[] PCIAddress:[] State:[]",
        "Drive Info:",
        "Devname:[/dev/sdb] Vendor:[] Model:[] Serialno:[W1F09S26] Revision:[] Type:[] Size:[] PhyID:[] Health:[1] "
        "Read Sect/s:[2.000000] Write Sect/s:[0.000000] DriveNum:[4]",
        "Mount Info:",
        "Mntpath:[/tw/disk1] Mounted:[1] Percentage Used:[17]",
        "Power Supply Info:",
        "Fan Info:",
    };
    EXPECT_EQ(texts(tb, kReport), expected);
    for (const auto& l : tb.logs) {
        if (l.tag == kReport) {
            EXPECT_EQ(l.level, 2);
        }
    }
}

TEST(Loginfo, CombinedControllerBitsAndCpuUsageWithoutProcessors) {
    test_backend tb;
    tw_platform p;
    tw_ctrlinfo c;
    c.set_type("SAS");
    tw_platform_peer::sas(p).push_back(c);
    tw_platform_peer::sas(p).push_back(c);
    tb.logs.clear();
    p.loginfo(PINFO_FCCTRL | PINFO_SASCTRL);
    auto lines = texts(tb, kReport);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "SAS Controller Info:");
    EXPECT_EQ(lines[3], "FC Controller Info:");

    tb.logs.clear();
    p.loginfo(PINFO_PROCESSOR);
    EXPECT_EQ(texts(tb, kReport), (std::vector<std::string>{"Processor Info:", "CPU Usage: [0.000000]%"}));
}

TEST(VendorTable, ExactCaseSensitiveKeys) {
    EXPECT_EQ(vendor_strmap.at("HP"), VENDOR_HPE);
    EXPECT_EQ(vendor_strmap.at("HPE"), VENDOR_HPE);
    EXPECT_EQ(vendor_strmap.at("FUJITSU"), VENDOR_FUJITSU);
    EXPECT_EQ(vendor_strmap.at("DELL"), VENDOR_DELL);
    EXPECT_EQ(vendor_strmap.at("Supermicro"), VENDOR_SUPERMICRO);
    EXPECT_EQ(vendor_strmap.at("Lenovo"), VENDOR_LENOVO);
    EXPECT_EQ(vendor_strmap.at("Cisco"), VENDOR_CISCO);
    EXPECT_EQ(vendor_strmap.size(), 7u);
    for (const char* other : {"Dell Inc.", "dell", "hp", "HP ", "Fujitsu", "SUPERMICRO", "Cisco Systems Inc"})
        EXPECT_EQ(vendor_strmap.count(other), 0u) << other;
}

TEST(HwMonitoring, ApplianceModelsByDefault) {
    struct row {
        const char* model;
        bool supported;
    };
    for (const row r :
         {row{"FUJITSU_PRIMERGYRX2540M4", true}, row{"Supermicro_SuperServer", true},
          row{"Supermicro_SSG-6029P-E1CR16T", true}, row{"HPE_ProLiantDL380Gen10", false},
          row{"DellInc._PowerEdgeR740xd", false}, row{"", false}, row{"FUJITSU_PRIMERGYRX2540M4x", false}}) {
        test_backend tb;
        serve_model(tb, r.model);
        EXPECT_EQ(tw_platform::hwmonitoring_supported(), r.supported) << r.model;
    }
}

TEST(HwMonitoring, ForceAndTestKeys) {
    test_backend tb;
    serve_model(tb, "FUJITSU_PRIMERGYRX2540M4");
    tb.set_key("sArrowfieldForceRefArchPlatform", "yes");
    EXPECT_FALSE(tw_platform::hwmonitoring_supported());
    tb.set_key("sHWMonitorTestRefArchPlatform", " Y");
    EXPECT_TRUE(tw_platform::hwmonitoring_supported());

    // The force key is read without trimming: a leading blank does not force.
    test_backend tb2;
    serve_model(tb2, "FUJITSU_PRIMERGYRX2530M5");
    tb2.set_key("sArrowfieldForceRefArchPlatform", " yes");
    EXPECT_TRUE(tw_platform::hwmonitoring_supported());
    tb2.set_key("sArrowfieldForceRefArchPlatform", "");
    EXPECT_TRUE(tw_platform::hwmonitoring_supported());

    // The force key concerns FUJITSU servers only.
    test_backend tb3;
    serve_model(tb3, "Supermicro_SuperServer");
    tb3.set_key("sArrowfieldForceRefArchPlatform", "Y");
    EXPECT_TRUE(tw_platform::hwmonitoring_supported());
}

TEST(HwMonitoring, ReferenceModelsNeedTheTestKey) {
    test_backend tb;
    serve_model(tb, "HPE_ProLiantDL380Gen10");
    tb.set_key("sHWMonitorTestRefArchPlatform", "no");
    EXPECT_FALSE(tw_platform::hwmonitoring_supported());
    tb.set_key("sHWMonitorTestRefArchPlatform", "\tyes ");
    EXPECT_TRUE(tw_platform::hwmonitoring_supported());
    serve_model(tb, "Lenovo_ThinkSystemSR650-[7X06CTO1WW]-");
    EXPECT_TRUE(tw_platform::hwmonitoring_supported());
    serve_model(tb, "Lenovo_ThinkSystemSR650");
    EXPECT_FALSE(tw_platform::hwmonitoring_supported());
}

TEST(DriveOpsGate, ClosedGateEmptiesListsAndRunsNothing) {
    test_backend tb;
    EXPECT_FALSE(tw_platform::hwmon_driveops_supported());
    tw_platform p;
    tw_platform_peer::drives(p).push_back(tw_driveinfo());
    tw_platform_peer::mntpoints(p).push_back(tw_mntpointinfo());
    tb.logs.clear();

    EXPECT_TRUE(p.get_driveinfo().empty());
    EXPECT_TRUE(p.get_mntpointinfo().empty());
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_TRUE(tb.logged(3, "tw_platform::get_driveinfo", "Drive Operations not supported."));
    EXPECT_TRUE(tb.logged(3, "tw_platform::get_mntpointinfo", "Drive Operations not supported."));
    EXPECT_TRUE(texts(tb, kReport).empty());
}
