// Storage controllers: the driver list from lspci, the amCLI, MegaCli64 and
// ssacli readers on real outputs (PCI addresses in both padding forms), the
// gate of the SAS query, and Fibre Channel hosts from a fake sysfs tree.

#include "fixture.h"
#include "platform/controllers.h"

#include "platform_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

const std::string kSasRaid = tidewall::testing::fixture("golden/sas_raid_controllers.cmd");
const char* const kMegaCli = "/opt/MegaRAID/MegaCli/MegaCli64 ";
const char* const kSsacliInstalled = "rpm -q ssacli >/dev/null 2>&1 || dpkg -s ssacli >/dev/null 2>&1";

std::string kernel_driver_cmd(const std::string& address) {
    return "lspci -k -s " + address + " | grep -i \"Kernel driver in use\"";
}

// The lines of one device's block in an "lspci -k" listing.
std::string lspci_block(const std::string& listing, const std::string& address) {
    size_t at = listing.find(address + " ");
    size_t end = listing.find("\n\n", at);
    return listing.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
}

// A Dell R440 with its two PERC controllers (megaraid_sas).
void serve_dell_percs(test_backend& tb) {
    const std::string lspci = fixture("lspci/k-excerpt-dell-r440-perc-megaraid_sas.txt");
    tb.on(kSasRaid, 0, "18:00.0\n\naf:00.0\n");  // a blank line asks lspci nothing
    for (const char* a : {"18:00.0", "af:00.0"})
        tb.on(kernel_driver_cmd(a), 0, grep(lspci_block(lspci, a), "Kernel driver in use", true));
}

std::string system_of(const std::string& vendor) {
    return "System Information\n\tManufacturer: " + vendor +
           "\n\tProduct Name: PRIMERGY RX2540 M5\n\tVersion: -\n"
           "\tSerial Number: YM5B012345\n";
}

struct ctrl_row {
    std::string type, model, bdf, fw, state, wwn;
    bool operator==(const ctrl_row& o) const {
        return type == o.type && model == o.model && bdf == o.bdf && fw == o.fw && state == o.state && wwn == o.wwn;
    }
};

std::ostream& operator<<(std::ostream& os, const ctrl_row& r) {
    return os << "{" << r.type << "|" << r.model << "|" << r.bdf << "|" << r.fw << "|" << r.state << "|" << r.wwn
              << "}";
}

std::vector<ctrl_row> rows(const std::list<tw_ctrlinfo>& ctrls) {
    std::vector<ctrl_row> out;
    for (const auto& c : ctrls)
        out.push_back({c.get_type(), c.get_model(), c.get_bdf(), c.get_fwversion(), c.get_state(), c.get_wwn()});
    return out;
}

}  // namespace

TEST(ControllerDrivers, KernelModulesOfTheSasAndRaidControllers) {
    test_backend tb;
    serve_dell_percs(tb);
    tw_platform p;
    std::set<std::string> drivers{"stale"};
    p.get_sasctrl_driverlist(drivers);
    EXPECT_EQ(drivers, (std::set<std::string>{"megaraid_sas"}));
    EXPECT_TRUE(tb.logged(2, "tw_platform::get_sasctrl_driverlist", "SAS adapters found. Count: 3"));
    EXPECT_EQ(commands_starting(tb, "lspci -k -s "),
              (std::vector<std::string>{kernel_driver_cmd("18:00.0"), kernel_driver_cmd("af:00.0")}));
    EXPECT_TRUE(
        tb.logged(2, "tw_platform::get_controller_kmod", "PCI device: [af:00.0] Kernel driver: [megaraid_sas]"));

    // This VM: lspci's libkmod warning goes to standard error; no driver line.
    test_backend vm;
    vm.on(kSasRaid, 0, "00:02.0\n");
    vm.on(kernel_driver_cmd("00:02.0"), 1);
    std::string kmod = "stale";
    EXPECT_EQ(p.get_controller_kmod("00:02.0", kmod), -1);
    EXPECT_EQ(kmod, "");
    EXPECT_TRUE(vm.logged(-1, "tw_platform::get_controller_kmod",
                          "Failed to get kernel driver for PCI device: [00:02.0] with error [1]"));
    p.get_sasctrl_driverlist(drivers);
    EXPECT_TRUE(drivers.empty());

    test_backend none;  // lspci lists nothing
    p.get_sasctrl_driverlist(drivers);
    EXPECT_TRUE(none.logged(-1, "tw_platform::get_sasctrl_driverlist", "No SAS controllers found"));
}

TEST(ControllerAddresses, AmcliThreeDigitsMegacliPaddedToTwo) {
    test_backend tb;
    tw_debug log;
    tb.on("amCLI --get 2 pci_bus", 0, "59\n");
    tb.on("amCLI --get 2 pci_device", 0, "0\n");
    tb.on("amCLI --get 2 pci_function", 0, "0\n");
    std::string bdf;
    EXPECT_EQ(amcli_devnum_get_pciaddr(log, "2", bdf), 0);
    EXPECT_EQ(bdf, "3b:00.0");

    tb.on(std::string(kMegaCli) + "AdpGetPciInfo a0", 0, fixture("megacli/adpgetpciinfo-bus3.txt"));
    EXPECT_EQ(megacli_adp_get_pciaddr(log, 0, bdf), 0);
    EXPECT_EQ(bdf, "03:00.00");
    tb.on(std::string(kMegaCli) + "AdpGetPciInfo a1", 0,
          replaced(fixture("megacli/adpgetpciinfo-bus3.txt"), "Bus Number      : 3", "Bus Number      : 3b"));
    EXPECT_EQ(megacli_adp_get_pciaddr(log, 1, bdf), 0);
    EXPECT_EQ(bdf, "3b:00.00");

    // A failing read empties the address.
    tb.on("amCLI --get 3 pci_bus", 0, "5\n");
    tb.on("amCLI --get 3 pci_device", 4, "");
    EXPECT_EQ(amcli_devnum_get_pciaddr(log, "3", bdf), -1);
    EXPECT_EQ(bdf, "");
    EXPECT_TRUE(tb.logged(-1, "amcli_devnum_get_prop", "amCLI: Devnum [3] Failed to get property - [pci_device]"));
    tb.on(std::string(kMegaCli) + "AdpGetPciInfo a2", 1);
    bdf = "stale";
    EXPECT_EQ(megacli_adp_get_pciaddr(log, 2, bdf), -1);
    EXPECT_EQ(bdf, "");
    EXPECT_TRUE(tb.logged(-1, "megacli_adp_get_pciaddr", "megacli: Failed to get PCI info for adp num [2]"));
}

TEST(SasControllers, GateClosedRunsNothing) {
    test_backend tb;
    tw_platform p;
    tw_platform_peer::sas(p).push_back(tw_ctrlinfo());
    EXPECT_TRUE(p.get_sascontrolinfo().empty());
    EXPECT_TRUE(tb.commands.empty());
    EXPECT_TRUE(tb.logged(3, "tw_platform::get_sascontrolinfo", "Drive Operations not supported."));
    EXPECT_FALSE(tb.logged(2, "tw_platform::loginfo", "SAS Controller Info:"));
}

TEST(SasControllers, MegacliAdaptersOfADellServer) {
    test_backend tb;
    serve_dell_percs(tb);
    const std::string info = fixture("megacli/adpallinfo-perc6i.txt");
    tb.on(std::string(kMegaCli) + "adpcount | grep -i \"Controller Count\"", 0,
          grep(fixture("megacli/adpcount-space-lines.txt"), "Controller Count", true));
    tb.on(std::string(kMegaCli) + "adpallinfo a0 | grep -i \"Product Name\"", 0, grep(info, "Product Name", true));
    tb.on(std::string(kMegaCli) + "adpallinfo a0 | grep -i \"FW Version\"", 0, grep(info, "FW Version", true));
    tb.on(std::string(kMegaCli) + "AdpGetPciInfo a0", 0, fixture("megacli/adpgetpciinfo-bus3.txt"));
    std::list<tw_ctrlinfo> ctrls;
    sascontrollers_examine(ctrls);
    EXPECT_EQ(rows(ctrls), (std::vector<ctrl_row>{{"SAS", "PERC 6/i Integrated", "03:00.00", "1.11.52-0349", "", ""}}));
    EXPECT_TRUE(tb.logged(2, "sascontrollers_examine", "Megacli SAS adapters found. Count: 1"));

    // A tool that fails leaves the fields empty but lists the adapter.
    test_backend failing;
    serve_dell_percs(failing);
    failing.on(std::string(kMegaCli) + "adpcount | grep -i \"Controller Count\"", 0, "Controller Count: 1.\n");
    sascontrollers_examine(ctrls);
    EXPECT_EQ(rows(ctrls), (std::vector<ctrl_row>{{"SAS", "", "", "", "", ""}}));
    EXPECT_TRUE(
        failing.logged(-1, "megacli_adp_get_prop", "megacli: adpnum [0] Failed to get property - [Product Name]"));
}

TEST(SasControllers, AmcliOnlyOnFujitsuAndNoToolHidesAnother) {
    auto serve = [](test_backend& tb, const std::string& vendor) {
        tb.on(kSasRaid, 0, "3b:00.0\n18:00.0\n");
        tb.on(kernel_driver_cmd("3b:00.0"), 0, "\tKernel driver in use: mpt3sas\n");
        tb.on(kernel_driver_cmd("18:00.0"), 0, "\tKernel driver in use: megaraid_sas\n");
        tb.on("dmidecode -t system", 0, system_of(vendor));
        tb.on(std::string(kMegaCli) + "adpcount | grep -i \"Controller Count\"", 0, "Controller Count: 1.\n");
    };
    // Not FUJITSU: the Broadcom HBA gets no record; the MegaRAID one does.
    test_backend tb;
    serve(tb, "Dell Inc.");
    std::list<tw_ctrlinfo> ctrls;
    sascontrollers_examine(ctrls);
    EXPECT_EQ(ctrls.size(), 1u);
    EXPECT_TRUE(commands_starting(tb, "amCLI").empty());

    // FUJITSU: amCLI describes its adapters.
    test_backend fj;
    serve(fj, "FUJITSU");
    fj.on("amCLI -l struct | grep -i \"SAS adapter\"", 0, "2: SAS adapter PRAID EP420i\n");
    fj.on("amCLI --get 2 product", 0, "PRAID EP420i\n");
    fj.on("amCLI --get 2 firmware_version", 0, "4.680.01-8458\n");
    fj.on("amCLI --get 2 pci_bus", 0, "59\n");
    fj.on("amCLI --get 2 pci_device", 0, "0\n");
    fj.on("amCLI --get 2 pci_function", 0, "0\n");
    fj.on("amCLI --get 2 status", 0, "ok\n");
    sascontrollers_examine(ctrls);
    EXPECT_EQ(rows(ctrls), (std::vector<ctrl_row>{{"SAS", "", "", "", "", ""},
                                                  {"SAS", "PRAID EP420i", "3b:00.0", "4.680.01-8458", "ok", ""}}));
    EXPECT_TRUE(fj.logged(2, "sascontrollers_examine", "amCLI SAS adapters found. Count: 1"));

    // amCLI failing does not hide the MegaRAID controller.
    test_backend broken;
    serve(broken, "FUJITSU");
    broken.on("amCLI -l struct | grep -i \"SAS adapter\"", 127, "", "sh: 1: amCLI: not found\n");
    sascontrollers_examine(ctrls);
    EXPECT_EQ(ctrls.size(), 1u);
    EXPECT_TRUE(broken.logged(-1, "amcli_list_devnum", "amCLI: Failed to get devnum for searchstr - [SAS adapter]"));
    EXPECT_TRUE(broken.logged(-1, "sascontrollers_examine", "No SAS adapters found"));
}

TEST(SasControllers, SsacliControllersByPhysicalSlotListedOnce) {
    test_backend tb;
    // An HPE node with a P816i (smartpqi) and an older P800 (hpsa).
    tb.on(kSasRaid, 0, "5c:00.0\n0b:00.0\n");
    tb.on(kernel_driver_cmd("5c:00.0"), 0, "\tKernel driver in use: smartpqi\n");
    tb.on(kernel_driver_cmd("0b:00.0"), 0, "\tKernel driver in use: hpsa\n");
    tb.on("lspci -v -s 5c:00.0 | grep -i \"Physical Slot\"", 0,
          grep(fixture("lspci/v-nn-imac-physical-slot.txt"), "Physical Slot: 0"));
    tb.on("lspci -v -s 0b:00.0 | grep -i \"Physical Slot\"", 1);
    tb.on(kSsacliInstalled, 0);
    tb.on("ssacli controller all show detail", 0,
          fixture("ssacli/ctrl-all-show-detail-p816i-a-gen10-head.txt") + "\n" +
              fixture("ssacli/hpssacli-ctrl-all-show-config-detail-p800-failed-battery-head.txt"));
    std::list<tw_ctrlinfo> ctrls;
    sascontrollers_examine(ctrls);
    EXPECT_EQ(rows(ctrls), (std::vector<ctrl_row>{
                               // Its heading is followed by blank lines and a warning: still read.
                               {"SAS", "HPE Smart Array P816i-a SR Gen10", "5c:00.0", "4.11", "OK", ""},
                               // Slot 1 has no PCI address in the map: listed without one.
                               {"SAS", "Smart Array P800", "", "7.24", "OK", ""},
                           }));
    // Both drivers are present, the listing shows every controller: one run.
    EXPECT_EQ(runs(tb, "ssacli controller all show detail"), 1);
    EXPECT_TRUE(tb.logged(-1, "hpcli_slot_map", "lspci: Failed to get Physical Slot for PCI ID: 0b:00.0"));
}

TEST(SasControllers, SsacliHeadingsWithoutASlotAreNotListed) {
    std::map<int, std::string> slots{{0, "03:00.0"}};
    std::list<tw_ctrlinfo> ctrls;
    std::list<std::string> lines;
    std::istringstream in(fixture("ssacli/hpssacli-ctrl-all-show-status-b140i-slot0b.txt") +
                          fixture("ssacli/hpacucli-ctrl-all-show-status-p410i-p800.txt"));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    hpcli_parse_ctrl_detail(lines, slots, ctrls);
    EXPECT_TRUE(ctrls.empty());

    // A "Slot: 0b" reads as slot 0.
    lines = {"Dynamic Smart Array B140i in Slot 0b", "   Slot: 0b", "   Controller Status: OK",
             "   Firmware Version: 6.60"};
    hpcli_parse_ctrl_detail(lines, slots, ctrls);
    EXPECT_EQ(rows(ctrls), (std::vector<ctrl_row>{{"SAS", "Dynamic Smart Array B140i", "03:00.0", "6.60", "OK", ""}}));
}

TEST(SasControllers, NoSsacliNoControllers) {
    test_backend tb;
    tb.on(kSasRaid, 0, "5c:00.0\n");
    tb.on(kernel_driver_cmd("5c:00.0"), 0, "\tKernel driver in use: smartpqi\n");
    tb.on("lspci -v -s 5c:00.0 | grep -i \"Physical Slot\"", 0, "\tPhysical Slot: 0\n");
    tb.on(kSsacliInstalled, 1);
    std::list<tw_ctrlinfo> ctrls;
    sascontrollers_examine(ctrls);
    EXPECT_TRUE(ctrls.empty());
    EXPECT_TRUE(tb.logged(-1, "run_hpcli", "HP CLI binaries missing. Cannot run command [controller all show detail]"));
}

namespace {

// A host under /sys/devices with its fc_host attributes, linked from
// /sys/class/fc_host the way the kernel links it.
void fc_host(test_backend& tb, const std::string& device_dir, const std::string& host,
             const std::map<std::string, std::string>& attributes) {
    const std::string dir = "/sys/devices/" + device_dir;
    for (const auto& [name, value] : attributes) tb.write_file(dir + "/" + name, value);
    tb.make_dir(dir);
    tb.make_dir("/sys/class/fc_host");
    std::filesystem::create_directory_symlink("../../devices/" + device_dir, tb.root + "/sys/class/fc_host/" + host);
}

}  // namespace

TEST(FcHosts, HostsOfAFakeSysfsTree) {
    test_backend tb;
    fc_host(tb, "pci0000:00/0000:00:03.0/0000:08:00.0/host1/fc_host/host1", "host1",
            {{"port_name", "0x21000024ff3d4a10\n"},
             {"fw_version", "8.08.204 (d0d5)\n"},
             {"symbolic_name", "QLE2692 FW:v8.08.204 DVR:v10.01.00.19-k\n"},
             {"port_state", "Online\n"}});
    fc_host(tb, "pci0000:80/0000:80:01.0/0000:81:00.1/host10/fc_host/host10", "host10",
            {{"port_name", "0x10000090fa1b2c3d\n"},
             {"symbolic_name", "Emulex LPe32002-M2 FV12.8.351.47 DV12.8.0.5\n"},
             {"port_state", "Linkdown\n"}});
    // A virtual port whose link does not pass through a host directory.
    fc_host(tb, "virtual/fc_vports/vport-7:0-0/fc_host/vport7", "host7", {{"port_state", "Online\n"}});
    tb.make_dir("/sys/class/fc_host/.host9");
    tb.make_dir("/sys/class/fc_host/port3");
    tb.on("lspci -s 0000:08:00.0 | cut -d ' ' -f 2- | cut -d ':' -f 2-", 0,
          " QLogic Corp. ISP2722-based 16/32Gb Fibre Channel to PCIe Adapter (rev 01)\n");
    tb.on("lspci -s 0000:81:00.1 | cut -d ' ' -f 2- | cut -d ':' -f 2-", 1);

    tw_platform p;
    EXPECT_EQ(
        rows(p.get_fcinfo()),
        (std::vector<ctrl_row>{
            {"FC", "QLogic Corp. ISP2722-based 16/32Gb Fibre Channel to PCIe Adapter (rev 01)", "0000:08:00.0",
             "8.08.204 (d0d5)", "Online", "0x21000024ff3d4a10"},
            // No fw_version: the symbolic name stands in.
            {"FC", "", "0000:81:00.1", "Emulex LPe32002-M2 FV12.8.351.47 DV12.8.0.5", "Linkdown", "0x10000090fa1b2c3d"},
            {"FC", "", "", "", "Online", ""},
        }));
    EXPECT_EQ(tb.commands.size(), 2u);  // no lspci for the host without an address
    EXPECT_TRUE(tb.logged(2, "tw_platform::get_fcinfo", "Found hosts: 3\n"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::get_fcinfo", "Fetching info for : host10\n"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo",
                          "Type:[FC] Model:[] WWN:[0x10000090fa1b2c3d] FWVersion:[Emulex LPe32002-M2 FV12.8.351.47 "
                          "DV12.8.0.5] PCIAddress:[0000:81:00.1] State:[Linkdown]"));
}

TEST(FcHosts, NoFcHostClassGivesAnEmptySection) {
    test_backend tb;
    tw_platform p;
    tw_platform_peer::fc(p).push_back(tw_ctrlinfo());
    EXPECT_TRUE(p.get_fcinfo().empty());
    EXPECT_TRUE(tb.logged(-1, "tw_platform::get_fcinfo", "No hosts found in /sys/class/fc_host\n"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "FC Controller Info:"));
    EXPECT_TRUE(tb.commands.empty());
}
