// Power supplies: the FUJITSU status attempts, the shared sensor look-ups, and
// the rules of the other makers' readers on real FRU lists, firmware tables and
// sensor listings.

#include "platform/power_supply.h"

#include "platform_test_util.h"

#include <gtest/gtest.h>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

// ipmitool prints the same rows with -c as comma-separated values; the plain
// listing separates the same columns with " | ".
std::string csv_to_listing(const std::string& csv) {
    std::string out;
    for (char c : csv) out += c == ',' ? std::string(" | ") : std::string(1, c);
    return out;
}

struct ps_view {
    std::string name, redundancy;
    bool status;
    bool operator==(const ps_view& o) const {
        return name == o.name && redundancy == o.redundancy && status == o.status;
    }
};

std::ostream& operator<<(std::ostream& os, const ps_view& v) {
    return os << "{" << v.name << ", " << v.redundancy << ", " << v.status << "}";
}

std::vector<ps_view> view(const std::list<tw_powersupply>& l) {
    std::vector<ps_view> out;
    for (const auto& p : l) out.push_back({p.get_name(), p.get_redundancy(), p.get_status()});
    return out;
}

const char* const kSdrGetOk = " Sensor ID : PS (0x1)\n Entity ID : 10.1 (Power Supply)\n Status : ok\n";
const char* const kSdrGetCritical = " Sensor ID : PS (0x1)\n Entity ID : 10.2 (Power Supply)\n Status : Critical\n";
std::string watts(int w) {
    return " Sensor ID : PS Power (0x2)\n Sensor Reading : " + std::to_string(w) + " (+/- 0) Watts\n Status : ok\n";
}

}  // namespace

TEST(PsEventVerdict, PresenceWithoutFailureOrAcLoss) {
    EXPECT_TRUE(ps_event_healthy("Presence detected"));
    EXPECT_TRUE(ps_event_healthy("110 Watts, Presence detected"));
    EXPECT_FALSE(ps_event_healthy("Presence detected, Failure detected"));
    EXPECT_FALSE(ps_event_healthy("Presence detected, Power Supply AC lost"));
    EXPECT_FALSE(ps_event_healthy("Presence detected, AC lost or out-of-range"));
    EXPECT_FALSE(ps_event_healthy("Presence detected, Predictive failure"));
    EXPECT_FALSE(ps_event_healthy("No Reading"));
    EXPECT_FALSE(ps_event_healthy(""));
}

TEST(FruIds, RealFruListsSortedAndUnique) {
    test_backend tb;
    tw_debug log;
    std::list<std::string> ids;
    tb.on("ipmitool fru", 0, fixture("ipmitool/fru-dell-r640.txt") + "FRU Device Description : PS1 (ID 1)\n");
    EXPECT_EQ(ipmi_fru_get_ids(log, "PS", ids), 0);
    EXPECT_EQ(ids, (std::list<std::string>{"PS1", "PS2"}));

    test_backend tb2;
    tb2.on("ipmitool fru", 0, fixture("ipmitool/fru-intel-s7200ap.txt"));
    EXPECT_EQ(ipmi_fru_get_ids(log, "Pwr Supply", ids), 0);
    EXPECT_EQ(ids, (std::list<std::string>{"Pwr Supply 1 FRU", "Pwr Supply 2 FRU"}));
    EXPECT_EQ(ipmi_fru_get_ids(log, "PS", ids), -1);  // no such names on this board
    EXPECT_TRUE(ids.empty());
}

TEST(FruIds, AFailedListingWithOutputIsStillRead) {
    test_backend tb;
    tw_debug log;
    std::list<std::string> ids;
    // One FRU device timed out: ipmitool fails but printed the rest.
    tb.on("ipmitool fru", 1, fixture("ipmitool/fru-dell-r640.txt"));
    EXPECT_EQ(ipmi_fru_get_ids(log, "PS", ids), 0);
    EXPECT_EQ(ids.size(), 2u);

    test_backend tb2;
    tb2.on("ipmitool fru", 1, "");
    EXPECT_EQ(ipmi_fru_get_ids(log, "PS", ids), -1);
    EXPECT_TRUE(tb2.logged(2, "ipmi_fru_get_ids", "Failed to get from fru data"));
}

TEST(Redundancy, FifthColumnOfTheFirstFullMatchingLine) {
    test_backend tb;
    tw_debug log;
    std::string r = "stale";
    tb.on("ipmitool sdr elist", 0,
          "PS Redundancy    | 77h | ok\n" + csv_to_listing(fixture("ipmitool/sdr-type-power-supply-csv-dell.txt")));
    EXPECT_EQ(ipmi_get_ps_redundancy(log, "PS Redundancy", r), 0);
    EXPECT_EQ(r, "Fully Redundant");
    EXPECT_TRUE(tb.logged(2, "ipmi_get_ps_redundancy", "Unexpected output line: PS Redundancy    | 77h | ok"));

    EXPECT_EQ(ipmi_get_ps_redundancy(log, "Power Unit", r), -1);
    EXPECT_EQ(r, "");
}

TEST(Redundancy, RetriesWithoutPause) {
    test_backend tb;
    tw_debug log;
    std::string r;
    tb.on("ipmitool sdr elist", 1);
    EXPECT_EQ(ipmi_get_ps_redundancy_wretry(log, "Power Unit", r, 2), -1);
    // Three calls, each with its own runner retries (3 runs).
    EXPECT_EQ(runs(tb, "ipmitool sdr elist"), 9);
    EXPECT_EQ(tb.sleeps.size(), 6u);  // the runner's, none of its own
    EXPECT_TRUE(tb.logged(-1, "ipmi_get_ps_redundancy", "Failed to get sdr elist"));
}

TEST(SdrGet, StatusAndWattsOfOneSensor) {
    test_backend tb;
    tw_debug log;
    bool ok = false;
    tb.on("ipmitool sdr get \"CPU Temp\"", 0, fixture("ipmitool/sdr-get-supermicro-cpu-temp.txt"));
    EXPECT_EQ(ipmi_sdr_get_psstatus(log, "CPU Temp", ok), 0);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(tb.logged(2, "ipmi_sdr_get_psstatus", "ipmi entity 'CPU Temp'- Status: ok"));
    EXPECT_EQ(ipmi_sdr_get_pswatts(log, "CPU Temp"), 24);

    tb.on("ipmitool sdr get \"Board_Temp\"", 0, fixture("ipmitool/sdr-v-openpower-board-temp-lnc.txt"));
    EXPECT_EQ(ipmi_sdr_get_psstatus(log, "Board_Temp", ok), 0);
    EXPECT_FALSE(ok);  // "Lower Non-Critical"

    tb.on("ipmitool sdr get \"X\"", 0, " Status :\n");
    EXPECT_EQ(ipmi_sdr_get_psstatus(log, "X", ok), -1);
    tb.on("ipmitool sdr get \"Y\"", 1);
    EXPECT_EQ(ipmi_sdr_get_psstatus(log, "Y", ok), -1);
    EXPECT_TRUE(tb.logged(-1, "ipmi_sdr_get_psstatus", "Failed to get details for sdr ID: Y"));
    EXPECT_EQ(ipmi_sdr_get_pswatts(log, "Y"), -1);
}

TEST(EntityStatus, EveryStatusSensorOfTheEntityMustJudgeHealthy) {
    test_backend tb;
    tw_debug log;
    bool ok = false;
    tb.on("ipmitool sdr entity 10.1", 0,
          grep(fixture("ipmitool/sdr-elist-curated-telegraf.txt"), "10.1") +
              csv_to_listing(grep(fixture("ipmitool/sdr-type-power-supply-csv-dell.txt"), "10.1")));
    EXPECT_EQ(ipmi_entityid_get_psstatus(log, "10.1", ok), 0);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(tb.logged(2, "ipmi_entityid_get_psstatus", "ipmi entity ID '10.1'- Status: Presence detected"));
    EXPECT_EQ(ipmi_entityid_get_pswatts(log, "10.1"), 110);
    EXPECT_TRUE(tb.logged(2, "ipmi_entityid_get_pswatts",
                          "ipmi entity ID '10.1'- Wattage value: 110 Watts, Presence detected"));

    tb.on("ipmitool sdr entity 10.2", 0,
          "PS2 Status       | 64h | ok  | 10.2 | Presence detected\n"
          "PS2 Status Alt   | 65h | cr  | 10.2 | Presence detected, Failure detected\n");
    EXPECT_EQ(ipmi_entityid_get_psstatus(log, "10.2", ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ipmi_entityid_get_pswatts(log, "10.2"), -1);

    tb.on("ipmitool sdr entity 10.3", 0, "Current 3        | 6Ch | ok  | 10.3 | 0.40 Amps\n");
    EXPECT_EQ(ipmi_entityid_get_psstatus(log, "10.3", ok), -1);
    EXPECT_EQ(ipmi_entityid_get_psstatus(log, "10.1; reboot", ok), -1);
    EXPECT_TRUE(tb.logged(-1, "ipmi_entityid_get_psstatus", "Failed to get details for entity ID: 10.1; reboot"));
    for (const auto& c : tb.commands) EXPECT_EQ(c.find("reboot"), std::string::npos);
}

TEST(DmiPowerSupplyNames, NameLinesOfRealType39Tables) {
    struct row {
        const char* file;
        std::list<std::string> names;
    };
    for (const row& r : {row{"dmidecode/t39-hpe-dl380-gen10.txt", {"Power Supply 1", "Power Supply 2"}},
                         row{"dmidecode/t39-hp-psu2-not-present-excerpt.txt", {"Power Supply 1", "Power Supply 2"}},
                         row{"dmidecode/t39-dell-r630.txt", {"PWR SPLY,750W,RDNT,EMSN", "PWR SPLY,750W,RDNT,EMSN"}}}) {
        test_backend tb;
        tw_debug log;
        tb.on("dmidecode -t 39", 0, fixture(r.file));
        std::list<std::string> names;
        EXPECT_EQ(dmi_get_powersupply_names(log, names), 0) << r.file;
        EXPECT_EQ(names, r.names) << r.file;
    }
}

TEST(Fujitsu, HealthyAndRedundant) {
    test_backend tb;
    tw_debug log;
    tb.on("ipmitool fru", 0, fixture("ipmitool/fru-dell-r640.txt"));
    tb.on("ipmitool sdr elist", 0, "Power Unit       | 3Ch | ok  | 21.1 | Fully Redundant\n");
    tb.on("ipmitool sdr get \"PS1\"", 0, kSdrGetOk);
    tb.on("ipmitool sdr get \"PS1 Power\"", 0, watts(110));
    tb.on("ipmitool sdr get \"PS2\"", 0, kSdrGetOk);
    tb.on("ipmitool sdr get \"PS2 Power\"", 0, watts(95));
    std::list<tw_powersupply> l;
    fujitsu_get_psinfo(log, l);
    EXPECT_EQ(view(l), (std::vector<ps_view>{{"PS1", "Fully Redundant", true}, {"PS2", "Fully Redundant", true}}));
    EXPECT_EQ(runs(tb, "ipmitool sdr get \"PS1\""), 1);
    EXPECT_TRUE(tb.logged(2, "fujitsu_get_psinfo", "Fetching PS* ID names from FRU list."));
}

TEST(Fujitsu, StatusAttempts) {
    test_backend tb;
    tw_debug log;
    tb.on("ipmitool fru", 0,
          "FRU Device Description : PS1 (ID 3)\nFRU Device Description : PS2 (ID 4)\n"
          "FRU Device Description : PS3 (ID 5)\n");
    tb.on("ipmitool sdr elist", 1);
    // PS1 reads ok but delivers 0 W: not healthy after three attempts.
    tb.on("ipmitool sdr get \"PS1\"", 0, kSdrGetOk);
    tb.on("ipmitool sdr get \"PS1 Power\"", 0, watts(0));
    // PS2 reads Critical once, then ok with power: healthy on the second attempt.
    tb.on("ipmitool sdr get \"PS2\"", 0, kSdrGetCritical);
    tb.on("ipmitool sdr get \"PS2\"", 0, kSdrGetOk);
    tb.on("ipmitool sdr get \"PS2 Power\"", 0, watts(120));
    // PS3 cannot be read: one attempt, not healthy.
    tb.on("ipmitool sdr get \"PS3\"", 1);
    std::list<tw_powersupply> l;
    fujitsu_get_psinfo(log, l);
    EXPECT_EQ(view(l), (std::vector<ps_view>{{"PS1", "", false}, {"PS2", "", true}, {"PS3", "", false}}));
    EXPECT_EQ(runs(tb, "ipmitool sdr get \"PS1\""), 3);
    EXPECT_EQ(runs(tb, "ipmitool sdr get \"PS1 Power\""), 3);
    EXPECT_EQ(runs(tb, "ipmitool sdr get \"PS2\""), 2);
    EXPECT_EQ(runs(tb, "ipmitool sdr get \"PS3\""), 3);  // one attempt: the runner's own three runs
    EXPECT_TRUE(
        tb.logged(-1, "fujitsu_get_psinfo", "Failed to get redundancy with search string 'Power Unit' for - PS1"));
}

TEST(Fujitsu, NoSupplyNamesNoRecords) {
    test_backend tb;
    tw_debug log;
    tb.on("ipmitool fru", 0, fixture("ipmitool/fru-hp-dl360p-gen8.txt"));
    std::list<tw_powersupply> l;
    fujitsu_get_psinfo(log, l);
    EXPECT_TRUE(l.empty());
    EXPECT_TRUE(tb.logged(2, "fujitsu_get_psinfo", "PS* ID names not present in FRU IDs."));
}

TEST(Dell, FruNamesJudgedByTheirStatusSensors) {
    test_backend tb;
    tw_debug log;
    std::string listing = csv_to_listing(fixture("ipmitool/sdr-type-power-supply-csv-dell.txt"));
    tb.on("ipmitool fru", 0, fixture("ipmitool/fru-dell-r640.txt"));
    tb.on("ipmitool sdr elist", 0, listing);
    tb.on("ipmitool sdr entity 10.1", 0, grep(listing, "10.1"));
    tb.on("ipmitool sdr entity 10.2", 0,
          "Status           | 86h | cr  | 10.2 | Presence detected, Power Supply AC lost\n");
    std::list<tw_powersupply> l;
    dell_get_psinfo(log, l);
    EXPECT_EQ(view(l), (std::vector<ps_view>{{"PS1", "Fully Redundant", true}, {"PS2", "Fully Redundant", false}}));
    EXPECT_TRUE(tb.logged(-1, "dell_get_psinfo", "Power Supply failure for 'PS2'"));
    EXPECT_FALSE(tb.logged(-1, "dell_get_psinfo", "Power Supply failure for 'PS1'"));
}

TEST(Hpe, FirmwareNamesJudgedByTheirSensorAndOutput) {
    test_backend tb;
    tw_debug log;
    tb.on("dmidecode -t 39", 0, fixture("dmidecode/t39-hpe-dl380-gen10.txt"));
    tb.on("ipmitool sdr elist", 0,
          fixture("ipmitool/sdr-elist-curated-telegraf.txt") +
              "Power Supplies   | 0Ah | ok  | 19.1 | Fully Redundant\n");
    tb.on(kPsSensorsCmd, 0,
          grep(fixture("ipmitool/sdr-elist-curated-telegraf.txt"), "Power Supply 1") +
              "PS 1 Output      | 04h | ok  | 10.1 | 95 Watts\n"
              "Power Supply 2   | 05h | ok  | 10.2 | Presence detected\n"
              "PS 2 Output      | 06h | cr  | 10.2 | Failure detected\n");
    std::list<tw_powersupply> l;
    hpe_get_psinfo(log, l);
    EXPECT_EQ(view(l), (std::vector<ps_view>{{"Power Supply 1", "Fully Redundant", true},
                                             {"Power Supply 2", "Fully Redundant", false}}));
    EXPECT_TRUE(tb.logged(2, "hpe_get_psinfo", "ipmi entity 'Power Supply 1' - Status: 110 Watts, Presence detected"));
    EXPECT_TRUE(tb.logged(-1, "hpe_get_psinfo", "Power Supply failure for 'Power Supply 2'"));
}

TEST(Hpe, SupplyWithoutASensorIsNotHealthy) {
    test_backend tb;
    tw_debug log;
    tb.on("dmidecode -t 39", 0, fixture("dmidecode/t39-hp-psu2-not-present-excerpt.txt"));
    tb.on("ipmitool sdr elist", 1);
    tb.on(kPsSensorsCmd, 0, grep(fixture("ipmitool/sdr-elist-curated-telegraf.txt"), "Power Supply 1"));
    std::list<tw_powersupply> l;
    hpe_get_psinfo(log, l);
    EXPECT_EQ(view(l), (std::vector<ps_view>{{"Power Supply 1", "", true}, {"Power Supply 2", "", false}}));
}

TEST(Supermicro, EveryStatusSensorIsASupply) {
    test_backend tb;
    tw_debug log;
    tb.on(kPsSensorsCmd, 0,
          "PS1 Status       | C8h | ok  | 10.1 | Presence detected\n"
          "PS2 Status       | C9h | ok  | 10.2 | Presence detected, Power Supply AC lost\n"
          "PS3 Status       | CAh | ns  | 10.3 | No Reading\n"
          "AC Power On      | D0h | ok  | 10.1 | \n");
    std::list<tw_powersupply> l;
    supermicro_get_psinfo(log, l);
    EXPECT_EQ(view(l), (std::vector<ps_view>{{"PS1", "", true}, {"PS2", "", false}, {"PS3", "", false}}));
    EXPECT_TRUE(tb.logged(2, "supermicro_get_psinfo",
                          "ipmi entity 'PS2 Status' - Status: Presence detected, Power Supply AC lost"));
    EXPECT_TRUE(tb.logged(-1, "supermicro_get_psinfo", "Power Supply failure for 'PS2'"));
    for (const auto& c : tb.commands) EXPECT_EQ(c.find("sdr elist"), std::string::npos);  // no redundancy sensor
}

TEST(Lenovo, OlderBoardsNameSuppliesInFull) {
    test_backend tb;
    tw_debug log;
    tb.on("ipmitool fru", 0,
          "FRU Device Description : Builtin FRU Device (ID 0)\n"
          "FRU Device Description : Power Supply 1 (ID 3)\n"
          "FRU Device Description : Power Supply 2 (ID 4)\n");
    tb.on("ipmitool sdr entity 10.1", 0, "PSU1 Status      | 5Ah | ok  | 10.1 | Presence detected\n");
    tb.on("ipmitool sdr entity 10.2", 0, "PSU2 Status      | 5Bh | ok  | 10.2 | Presence detected, Failure detected\n");
    std::list<tw_powersupply> l;
    lenovo_get_psinfo(log, l);
    EXPECT_EQ(view(l), (std::vector<ps_view>{{"Power Supply 1", "", true}, {"Power Supply 2", "", false}}));
    EXPECT_TRUE(tb.logged(2, "lenovo_get_psinfo", "No PS redundancy info."));
}

TEST(Cisco, FruPsuNamesAndStatusSensors) {
    test_backend tb;
    tw_debug log;
    tb.on("ipmitool fru", 0, "FRU Device Description : FRU_PSU2 (ID 3)\nFRU Device Description : FRU_PSU1 (ID 2)\n");
    tb.on("ipmitool sdr elist", 0, "PS_RDNDNT_MODE   | 68h | ok  | 10.1 | Fully Redundant\n");
    tb.on(kPsSensorsCmd, 0,
          "PSU1_STATUS      | 66h | ok  | 10.1 | Presence detected\n"
          "PSU2_STATUS      | 67h | ok  | 10.2 | Presence detected, Failure detected\n");
    std::list<tw_powersupply> l;
    cisco_get_psinfo(log, l);
    EXPECT_EQ(view(l),
              (std::vector<ps_view>{{"FRU_PSU1", "Fully Redundant", true}, {"FRU_PSU2", "Fully Redundant", false}}));
}

TEST(PowerSupplyQuery, VendorTextChoosesTheReader) {
    {
        test_backend tb;  // "Dell Inc." is no key of the table: the Dell reader still runs
        tb.on("dmidecode -t system", 0, fixture("dmidecode/t1-dell-r640-masked.txt"));
        tb.on("ipmitool fru", 0, fixture("ipmitool/fru-dell-r640.txt"));
        tw_platform p;
        auto l = p.get_pwrsupplyinfo();
        EXPECT_EQ(l.size(), 2u);
        EXPECT_EQ(runs(tb, "ipmitool fru"), 1);
        EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "Power Supply Info:"));
        EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "Name:[PS1] Redundancy:[] Status:[0]"));
    }
    {
        test_backend tb;
        tb.on("dmidecode -t system", 0, "System Information\n\tManufacturer: QEMU\n\tProduct Name: Standard PC\n");
        tw_platform p;
        EXPECT_TRUE(p.get_pwrsupplyinfo().empty());
        EXPECT_TRUE(tb.logged(2, "tw_platform::get_pwrsupplyinfo", "Unsupported vendor as per vendor strmap [QEMU]"));
        for (const auto& c : tb.commands) EXPECT_EQ(c.find("ipmitool"), std::string::npos) << c;
    }
}
