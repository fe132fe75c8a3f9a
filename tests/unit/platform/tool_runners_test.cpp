// The tool runners: command texts, retries and sleeps, logs; the entity-ID
// lookup and the processor temperature map on real sensor listings.

#include "platform/tool_runners.h"

#include "platform_test_util.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>

using namespace platform_test;
using tidewall::testing::test_backend;

TEST(RetryCount, ClampsToZeroAndMaximum) {
    EXPECT_EQ(retry_count_get(5, 3), 3);
    EXPECT_EQ(retry_count_get(-2, 3), 0);
    EXPECT_EQ(retry_count_get(2, 3), 2);
    EXPECT_EQ(retry_count_get(3, 3), 3);
}

TEST(RunIpmitool, RetriesAreClampedAndSleep100msBetweenAttempts) {
    struct row {
        int requested;
        int expected_runs;
    };
    for (const row r : {row{50, 11}, row{-3, 1}, row{2, 3}, row{0, 1}, row{10, 11}}) {
        test_backend tb;
        tw_debug log;
        std::list<std::string> out;
        tb.on("ipmitool sdr elist", 1, "", "Could not open device at /dev/ipmi0");
        EXPECT_EQ(run_ipmitool(log, "sdr elist", out, false, "", "", "", r.requested), 1);
        EXPECT_EQ(runs(tb, "ipmitool sdr elist"), r.expected_runs) << "retry_count " << r.requested;
        EXPECT_EQ(tb.sleeps, std::vector<unsigned>(r.expected_runs - 1, 100u)) << "retry_count " << r.requested;
        // The caller's count is logged as given, before the clamp.
        EXPECT_TRUE(
            tb.logged(2, "run_ipmitool",
                      "ipmitool command - [ipmitool sdr elist] retry_count=[" + std::to_string(r.requested) + "]"));
        EXPECT_TRUE(tb.logged(-1, "run_ipmitool", "Failed to run ipmitool command - [ipmitool sdr elist] Error [1]"));
    }
}

TEST(RunIpmitool, StopsAtFirstSuccessAndKeepsOnlyItsOutput) {
    test_backend tb;
    tw_debug log;
    tb.on("ipmitool fru", 1, "partial line of a failed run\n");
    tb.on("ipmitool fru", 0, fixture("ipmitool/fru-dell-r640.txt"));
    std::list<std::string> out;
    EXPECT_EQ(run_ipmitool(log, "fru", out, false, "", "", "", 5), 0);
    EXPECT_EQ(runs(tb, "ipmitool fru"), 2);
    EXPECT_EQ(tb.sleeps.size(), 1u);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front(), "FRU Device Description : Builtin FRU Device (ID 0)");
    for (const auto& l : out) EXPECT_NE(l, "partial line of a failed run");
}

// The BMC password never reaches a command line or the log: ipmitool reads it
// from a 0600 file in the state directory, which is gone after the run.
TEST(RunIpmitool, RemoteRunsGoOverLanplusWithThePasswordInAPrivateFile) {
    test_backend tb;
    tb.make_dir("/var/lib");
    tw_debug log;
    std::list<std::string> out;
    std::string file, secret;
    mode_t mode = 0;
    int failures = 1;  // one failed attempt: the file serves the retry too
    tb.fallback = [&](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        std::smatch m;
        if (!std::regex_match(cmd, m, std::regex("ipmitool  -I lanplus -H bmc1 -U admin -f (\\S+) sdr elist")))
            return std::nullopt;
        file = m[1];
        secret = tb.read_file(file);
        struct stat st {};
        if (::lstat((tb.root + file).c_str(), &st) == 0) mode = st.st_mode;
        tidewall::host::command_result r;
        r.status = failures-- > 0 ? 1 : 0;
        r.out = "x\n";
        return r;
    };
    EXPECT_EQ(run_ipmitool(log, "sdr elist", out, true, "bmc1", "admin", "s3cr3t pw", 1), 0);
    ASSERT_EQ(2u, tb.commands.size());
    EXPECT_EQ(tb.commands[0], tb.commands[1]);
    EXPECT_EQ(0u, file.rfind("/var/lib/tidewall/ipmi-password.", 0)) << file;
    EXPECT_EQ("s3cr3t pw", secret);
    EXPECT_TRUE(S_ISREG(mode));
    EXPECT_EQ(0600u, mode & 07777);
    EXPECT_FALSE(tb.exists(file));
    for (const auto& l : tb.logs) EXPECT_EQ(std::string::npos, l.text.find("s3cr3t")) << l.text;

    // No safe state directory: nothing runs, rather than the password on a command line.
    tb.commands.clear();
    ASSERT_EQ(0, ::chmod((tb.root + "/var/lib/tidewall").c_str(), 0777));
    EXPECT_EQ(-1, run_ipmitool(log, "sdr elist", out, true, "bmc1", "admin", "s3cr3t pw", 0));
    EXPECT_TRUE(tb.commands.empty());
}

TEST(RunTools, CommandTextsTimeLimitAndLogs) {
    test_backend tb;
    tw_debug log;
    std::list<std::string> out;
    tb.on("dmidecode -t bios", 0, "line one\nline two\n");
    tb.on("amCLI --list", 3);
    tb.on("/opt/MegaRAID/MegaCli/MegaCli64 -adpCount", 0, fixture("megacli/adpcount-1.txt"));
    EXPECT_EQ(run_dmidecode(log, "-t bios", out), 0);
    EXPECT_EQ(out, (std::list<std::string>{"line one", "line two"}));
    out.clear();
    EXPECT_EQ(run_amcli(log, "--list", out), 3);
    EXPECT_EQ(run_megacli(log, "-adpCount", out), 0);
    EXPECT_EQ(tb.time_limits, (std::vector<int>{100, 100, 100}));

    EXPECT_TRUE(tb.logged(2, "run_dmidecode", "DebugLow dmidecode command - [dmidecode -t bios]"));
    EXPECT_TRUE(tb.logged(3, "run_dmidecode", "Output of dmidecode cmd - [dmidecode -t bios]"));
    EXPECT_TRUE(tb.logged(3, "run_dmidecode", "line two"));
    EXPECT_TRUE(tb.logged(2, "run_amcli", "amcli command - [amCLI --list]"));
    EXPECT_TRUE(tb.logged(-1, "run_amcli", "Failed to run amcli command - [amCLI --list] Error [3]"));
    EXPECT_TRUE(tb.logged(3, "run_amcli", "Output of amcli cmd - [amCLI --list]"));
    EXPECT_TRUE(tb.logged(2, "run_megacli", "MegaCli64 command - [/opt/MegaRAID/MegaCli/MegaCli64 -adpCount]"));
    EXPECT_TRUE(tb.logged(3, "run_megacli", "Controller Count: 1."));
}

TEST(RunTools, NoOutputDumpBelowLevelThree) {
    test_backend tb;
    tb.level = 2;
    tw_debug log;
    std::list<std::string> out;
    tb.on("dmidecode -t bios", 0, "line one\n");
    run_dmidecode(log, "-t bios", out);
    EXPECT_TRUE(tb.logged(2, "run_dmidecode", "DebugLow dmidecode command - [dmidecode -t bios]"));
    for (const auto& l : tb.logs) EXPECT_NE(l.level, 3);
}

TEST(RunHpcli, MissingSsacliRunsNothing) {
    test_backend tb;
    tw_debug log;
    std::list<std::string> out;
    tb.fallback = [](const std::string& cmd) -> std::optional<tidewall::host::command_result> {
        if (cmd.find("ssacli") != std::string::npos && cmd.find("rpm -q") == 0) {
            tidewall::host::command_result r;
            r.status = 1;
            return r;
        }
        return std::nullopt;
    };
    EXPECT_EQ(run_hpcli(log, "ctrl all show status", out), -1);
    for (const auto& c : tb.commands) EXPECT_EQ(c.find("ssacli ctrl"), std::string::npos) << c;
    EXPECT_TRUE(tb.logged(-1, "run_hpcli", "HP CLI binaries missing. Cannot run command [ctrl all show status]"));
}

TEST(IpmiEntityId, ReadsTheLeadingNumberOfARealSdrGet) {
    test_backend tb;
    tw_debug log;
    tb.on("ipmitool sdr get \"CPU Temp\"", 0, fixture("ipmitool/sdr-get-supermicro-cpu-temp.txt"));
    std::string id = "untouched";
    EXPECT_EQ(ipmi_get_entityid(log, "CPU Temp", id), 0);
    EXPECT_EQ(id, "3.1");

    tb.on("ipmitool sdr get \"PS1 Status\"", 0, "Sensor ID : PS1 Status (0x63)\n Entity ID : 10.1 (Power Supply)\n");
    EXPECT_EQ(ipmi_get_entityid(log, "PS1 Status", id), 0);
    EXPECT_EQ(id, "10.1");
}

TEST(IpmiEntityId, FailuresLeaveMinusOne) {
    test_backend tb;
    tw_debug log;
    std::string id = "untouched";
    // The tool fails: entity_id is left alone.
    tb.on("ipmitool sdr get \"Gone\"", 1);
    EXPECT_EQ(ipmi_get_entityid(log, "Gone", id), -1);
    EXPECT_EQ(id, "untouched");
    EXPECT_EQ(runs(tb, "ipmitool sdr get \"Gone\""), 3);  // retry count 2

    tb.on("ipmitool sdr get \"Odd\"", 0, " Entity ID : unknown (10.1)\n");
    EXPECT_EQ(ipmi_get_entityid(log, "Odd", id), -1);
    EXPECT_TRUE(tb.logged(-1, "ipmi_get_entityid", "Failed to obtain Entity ID for name [Odd]"));
}

TEST(IpmiEntityId, SensorNamesThatCouldBreakOutOfTheQuotesAreSingleQuoted) {
    test_backend tb;
    tw_debug log;
    std::string id;
    ipmi_get_entityid(log, "PS1 $(reboot)", id);
    ASSERT_FALSE(tb.commands.empty());
    EXPECT_EQ(tb.commands.front(), "ipmitool sdr get 'PS1 $(reboot)'");
    EXPECT_EQ(ipmi_quote_sensor("Power Supply 1"), "\"Power Supply 1\"");
    EXPECT_EQ(ipmi_quote_sensor("a\"b"), "'a\"b'");
}

TEST(ProcTempMap, DellR510ListingCountsProcessorEntitiesOnly) {
    test_backend tb;
    tw_debug log;
    // What egrep lets through of the real listing: the processor rows (3.1, 3.2)
    // and rows that merely contain "3." elsewhere.
    std::string listing = fixture("ipmitool/sdr-type-temperature-dell-r510-idrac6.txt");
    tb.on(kTempCmd, 0, listing);
    std::map<int, unsigned> temps;
    EXPECT_EQ(proc_temp_map_init(log, temps), 2);
    EXPECT_EQ(temps, (std::map<int, unsigned>{{1, 0}, {2, 0}}));  // both "Disabled"
}

TEST(ProcTempMap, ReadingsColumnsAndOrdinals) {
    test_backend tb;
    tw_debug log;
    tb.on(kTempCmd, 0,
          "CPU1 Temp        | 01h | ok  |  3.1 | 45 degrees C\n"
          "Exhaust Temp     | 31h | ok  |  7.1 | 33 degrees C\n"
          "CPU2 Temp        | 02h | ok  |  3.2 | 51 degrees C\n"
          "CPU3 Temp        | 03h | ns  |  3.3\n"
          "garbage 3. line\n"
          "Proc Module      | 30h | ok  | 65.1 | 60 degrees C\n");
    std::map<int, unsigned> temps;
    EXPECT_EQ(proc_temp_map_init(log, temps), 4);
    EXPECT_EQ(temps, (std::map<int, unsigned>{{1, 45}, {2, 51}, {3, 0}, {4, 60}}));
    EXPECT_TRUE(tb.logged(2, "proc_temp_map_init", "Unexpected output line : garbage 3. line"));
    EXPECT_TRUE(tb.logged(
        2, "proc_temp_map_init",
        "Temperature value unavailable. Setting it to 0. Output string [CPU3 Temp        | 03h | ns  |  3.3]"));
}

TEST(ProcTempMap, NoBmcGivesMinusOne) {
    test_backend tb;
    tw_debug log;
    tb.on(kTempCmd, 1);
    std::map<int, unsigned> temps{{1, 99}};
    EXPECT_EQ(proc_temp_map_init(log, temps), -1);
    EXPECT_TRUE(temps.empty());
    EXPECT_EQ(runs(tb, kTempCmd), 3);
}
