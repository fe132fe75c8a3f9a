// Activity averages against the real sar: daily files written by sadc on this
// machine (dated with faketime to span a month end, in a time zone whose days
// differ from UTC's, one of them left over from another month), read back by
// the library and by "twctl platform cpu-usage"; and the outputs of other
// sysstat versions through a sar that prints them.

#include "platform/sar_statistics.h"

#include <tidewall/tw_debug.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "shell.h"

namespace {

using tidewall::testing::run_result;
using tidewall::testing::run_shell;
using tidewall::testing::slurp;

const char* const kZone = "Pacific/Auckland";  // +13:00 in February: its dates are not UTC's
const char* const kLogDir = "/tmp/tw-activity-log";

std::time_t local_epoch(int y, int mo, int d, int h, int mi, int s) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string x; in >> x;) w.push_back(x);
    return w;
}

// What sar itself says for one day and window: the named columns of the
// Average line of the table whose rows have `key` in column `key_column` (by
// header name; "" for the CPU table). Independent of the library's reader.
std::vector<double> sar_average(const std::string& args, const std::string& key_column, const std::string& key,
                                const std::vector<std::string>& columns) {
    run_result r = run_shell("sar " + args + " 2>/dev/null");
    std::vector<std::string> header;
    for (std::istringstream in(r.out); !in.eof();) {
        std::string line;
        std::getline(in, line);
        std::vector<std::string> w = words(line);
        if (w.empty()) continue;
        if (w[0] != "Average:") {
            bool is_header = false;
            for (const auto& c : columns)
                if (std::find(w.begin(), w.end(), c) != w.end()) is_header = true;
            if (is_header) header.assign(w.begin() + 1, w.end());
            continue;
        }
        std::vector<std::string> values(w.begin() + 1, w.end());
        auto at = [&](const std::string& name) -> long {
            auto it = std::find(header.begin(), header.end(), name);
            return it == header.end() ? -1 : it - header.begin();
        };
        if (!key_column.empty() && (at(key_column) < 0 || values.at(at(key_column)) != key)) continue;
        std::vector<double> out;
        for (const auto& c : columns) out.push_back(at(c) < 0 ? 0 : std::stod(values.at(at(c))));
        return out;
    }
    return std::vector<double>(columns.size(), 0.0);
}

class SarActivity : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test writes /var/log/sa";
        ::setenv("TZ", kZone, 1);
        ::tzset();
        ::setenv("TW_DEBUG_LEVEL", "3", 1);
        std::filesystem::create_directories("/etc/TessalineRegistry/Tolvan/Instance001/EventManager");
        std::filesystem::create_directories(kLogDir);
        std::ofstream(std::string("/etc/TessalineRegistry/Tolvan/Instance001/EventManager/registry.conf"))
            << "dEVLOGDIR " << kLogDir << "\n";
        std::filesystem::remove_all("/var/log/sa");
        std::filesystem::create_directories("/var/log/sa");

        // A loop device of our own to read from (the machine's disk is not ours to read).
        run_result r = run_shell("truncate -s 256M /tmp/tw-activity.img && losetup -f --show /tmp/tw-activity.img");
        ASSERT_EQ(r.status, 0) << r.out;
        loop_ = r.out.substr(0, r.out.find('\n'));
        disk_ = loop_.substr(loop_.rfind('/') + 1);
        // Three days of the range and one file a month old under a day of it.
        record("26", "2026-02-26 23:40:00");
        record("27", "2026-01-27 12:00:00");
        record("28", "2026-02-28 13:00:00");
        record("01", "2026-03-01 00:05:00");
    }

    static void TearDownTestSuite() {
        if (!loop_.empty()) run_shell("losetup -d " + loop_);
    }

    // Three one-second samples of everything (disks included), taken at `when`
    // local time while the CPU, the disk and the loopback interface are busy.
    // The samples start only once the loopback sender is connected (a loaded
    // machine can take seconds to start python), and the load stops with them
    // (its output goes elsewhere: the reader of ours would wait for it).
    static void record(const std::string& day, const std::string& when) {
        const std::string mark = "tw-activity-load", ready = "/tmp/tw-activity-lo-ready";
        std::string load = "rm -f " + ready +
                           "; "
                           "(timeout 60 sh -c 'while :; do :; done; # " +
                           mark +
                           "' >/dev/null 2>&1 &) ;"
                           "(timeout 60 sh -c 'while :; do dd if=" +
                           loop_ + " of=/dev/null bs=1M count=64 iflag=direct status=none; done; # " + mark +
                           "' >/dev/null 2>&1 &) ;"
                           "(timeout 60 python3 -c \"\nimport socket, threading\ns = socket.socket(); "
                           "s.bind(('127.0.0.1', 0)); s.listen(1)\n"
                           "def drain():\n    c, _ = s.accept()\n    while c.recv(1 << 20): pass\n"
                           "threading.Thread(target=drain, daemon=True).start()\n"
                           "c = socket.create_connection(s.getsockname())\nc.sendall(b'x' * 65536)\nopen('" +
                           ready +
                           "', 'w').close()\n"
                           "while True: c.sendall(b'x' * 65536)\n\" " +
                           mark +
                           " >/dev/null 2>&1 &) ;"
                           "for i in $(seq 300); do [ -e " +
                           ready + " ] && break; sleep 0.1; done; ";
        std::string cmd = load + " faketime '" + when + "' /usr/lib/sysstat/sadc -S DISK 1 3 /var/log/sa/sa" + day;
        run_result r = run_shell(cmd);
        run_shell("pkill -f 'tw-activity-loa[d]'; sleep 0.2");  // the bracket keeps pkill's own shell out
        ASSERT_EQ(r.status, 0) << cmd;
    }

    static std::string loop_, disk_;
    tw_debug log_;
};

std::string SarActivity::loop_, SarActivity::disk_;

// The windows of the range 26 Feb 23:30 to 1 Mar 00:30 (local) that have data.
struct day_window {
    const char* file;
    const char* from;
    const char* to;
};
const day_window kWindows[] = {
    {"26", "23:30:00", "23:59:01"},
    {"28", "00:00:00", "23:59:01"},
    {"01", "00:00:00", "00:30:00"},
};

TEST_F(SarActivity, CpuAverageOverDaysAcrossTheMonthEnd) {
    double sum = 0;
    int days = 0;
    for (const auto& w : kWindows) {
        auto v = sar_average(std::string("-f /var/log/sa/sa") + w.file + " -s " + w.from + " -e " + w.to, "", "",
                             {"%iowait", "%idle"});
        double busy = 100 - (v[0] + v[1]);
        if (busy != 0) {
            sum += busy;
            ++days;
        }
    }
    ASSERT_EQ(days, 3) << "sadc recorded no busy CPU on some day";
    const std::time_t start = local_epoch(2026, 2, 26, 23, 30, 0), end = local_epoch(2026, 3, 1, 0, 30, 0);
    double used = cpu_timerange_getused(log_, start, end);
    EXPECT_NEAR(used, sum / days, 1e-9);
    EXPECT_GT(used, 1.0);

    // sa27 holds January's 27th: it said so and counted for nothing.
    std::string logged = slurp(std::string(kLogDir) + "/TSTidewall.log");
    EXPECT_NE(logged.find("SA file accessed is not same as date. Expected date: 02/27/2026 or 02/27/26"),
              std::string::npos);
    EXPECT_NE(
        logged.find(
            "Error executing command [env -u S_TIME_FORMAT LC_ALL=C sar -f /var/log/sa/sa27 -s 00:00:00 -e 23:59:01]"),
        std::string::npos);

    // twctl at the end of that range, asking for its 49 hours, from a caller
    // whose environment asks sar for ISO dates: the reading does not change.
    // A look leaves the monitoring service's interval key as it was.
    const char* twctl = std::getenv("TWCTL");
    ASSERT_TRUE(twctl);
    const std::string registry_file = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/registry.conf";
    const std::string before = slurp(registry_file);
    for (const char* env : {"", "S_TIME_FORMAT=ISO "}) {
        run_result r = run_shell(std::string(env) + "faketime '2026-03-01 00:30:00' " + twctl +
                                 " platform cpu-usage --minutes 2940");
        ASSERT_EQ(r.status, 0) << env << r.out;
        double shown = 0;
        ASSERT_EQ(std::sscanf(r.out.c_str(), "CPU usage: %lf%%", &shown), 1) << env << r.out;
        EXPECT_NEAR(shown, used, 0.006) << env << r.out;
        EXPECT_EQ(before, slurp(registry_file)) << env << "twctl changed the registry";
    }
}

TEST_F(SarActivity, DiskSectorRatesFromTheDiskTables) {
    double sum_rd = 0, sum_wr = 0;
    int rd_days = 0, wr_days = 0;
    for (const auto& w : kWindows) {
        auto v = sar_average(std::string("-f /var/log/sa/sa") + w.file + " -p -d -s " + w.from + " -e " + w.to, "DEV",
                             disk_, {"rkB/s", "wkB/s"});
        if (v[0] != 0) {
            sum_rd += v[0] * 2;  // kB/s to 512-byte sectors
            ++rd_days;
        }
        if (v[1] != 0) {
            sum_wr += v[1] * 2;
            ++wr_days;
        }
    }
    ASSERT_EQ(rd_days, 3) << "no reads of " << disk_ << " recorded on some day";
    double rd = -1, wr = -1;
    ASSERT_EQ(drive_timerange_getstats(log_, disk_, local_epoch(2026, 2, 26, 23, 30, 0),
                                       local_epoch(2026, 3, 1, 0, 30, 0), rd, wr),
              0);
    EXPECT_NEAR(rd, sum_rd / rd_days, 1e-6);
    EXPECT_NEAR(wr, wr_days ? sum_wr / wr_days : 0, 1e-6);
    EXPECT_GT(rd, 100.0);  // 8 MiB reads for seconds: far more than 100 sectors a second
}

TEST_F(SarActivity, InterfaceRatesOfTheLoopback) {
    double sum_rx = 0, sum_tx = 0;
    int days = 0;
    for (const auto& w : kWindows) {
        auto v = sar_average(std::string("-f /var/log/sa/sa") + w.file + " -n DEV -s " + w.from + " -e " + w.to,
                             "IFACE", "lo", {"rxkB/s", "txkB/s"});
        if (v[0] != 0) {
            sum_rx += v[0];
            ++days;
        }
        sum_tx += v[1];
    }
    ASSERT_EQ(days, 3) << "no loopback traffic recorded on some day";
    double rx = -1, tx = -1;
    ASSERT_EQ(nw_timerange_getstats(log_, "lo", local_epoch(2026, 2, 26, 23, 30, 0), local_epoch(2026, 3, 1, 0, 30, 0),
                                    rx, tx),
              0);
    EXPECT_NEAR(rx, sum_rx / days, 1e-6);
    EXPECT_NEAR(tx, sum_tx / days, 1e-6);
    EXPECT_GT(rx, 1000.0);

    // An interface that is not there: no day has it, 0 and 0.
    ASSERT_EQ(nw_timerange_getstats(log_, "eth99", local_epoch(2026, 2, 28, 0, 0, 0),
                                    local_epoch(2026, 2, 28, 23, 0, 0), rx, tx),
              0);
    EXPECT_EQ(rx, 0);
    EXPECT_EQ(tx, 0);
}

TEST_F(SarActivity, OutputsOfOtherSysstatVersions) {
    // A sar that prints the outputs of other versions by data file.
    const std::string bin = "/tmp/tw-other-sysstat";
    std::filesystem::create_directories(bin);
    const std::string fix = std::string(TW_FIXTURES_DIR) + "/sar/";
    std::ofstream(bin + "/sar") << "#!/bin/sh\n"
                                   "case \"$2\" in\n"
                                   "  */sa18) case \"$*\" in\n"
                                   "      *'-n DEV'*) cat "
                                << fix
                                << "n-DEV-EDEV-sysstat12-testsuite.txt ;;\n"
                                   "      *'-p -d'*) cat "
                                << fix
                                << "dp-sysstat12-testsuite.txt ;;\n"
                                   "      *) cat "
                                << fix
                                << "u-P-ALL-sysstat12-testsuite.txt ;;\n"
                                   "    esac ;;\n"
                                   "  */sa19) cat "
                                << fix
                                << "f-default-cpu-sysstat12-testsuite.txt ;;\n"
                                   "  */sa28) cat "
                                << fix
                                << "n-DEV-sysstat9.0.4-el6-head.txt ;;\n"
                                   "  *) echo \"Cannot open $2: No such file or directory\" >&2; exit 2 ;;\n"
                                   "esac\n";
    std::filesystem::permissions(bin + "/sar", std::filesystem::perms::owner_all);
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (bin + ":" + path).c_str(), 1);

    // 18 April 2019 (sysstat 12's test suite) and the 19th, whose file is of 2 May.
    double used = cpu_timerange_getused(log_, local_epoch(2019, 4, 18, 13, 0, 0), local_epoch(2019, 4, 19, 1, 0, 0));
    EXPECT_NEAR(used, 100 - (79.29 + 0.31), 1e-9);
    double rd = -1, wr = -1, rx = -1, tx = -1;
    EXPECT_EQ(drive_timerange_getstats(log_, "sda", local_epoch(2019, 4, 18, 13, 0, 0),
                                       local_epoch(2019, 4, 18, 14, 0, 0), rd, wr),
              0);
    EXPECT_EQ(rd, 0);  // its Average lines read 0.00
    EXPECT_EQ(nw_timerange_getstats(log_, "enp6s0", local_epoch(2019, 4, 18, 13, 0, 0),
                                    local_epoch(2019, 4, 18, 14, 0, 0), rx, tx),
              0);
    EXPECT_EQ(rx, 0);
    // sysstat 9 with 12-hour times: this capture stops before its Average lines.
    EXPECT_EQ(nw_timerange_getstats(log_, "em1", local_epoch(2015, 10, 28, 13, 0, 0),
                                    local_epoch(2015, 10, 28, 14, 0, 0), rx, tx),
              0);
    EXPECT_EQ(rx, 0);
    // No file at all for a day.
    EXPECT_EQ(cpu_timerange_getused(log_, local_epoch(2019, 4, 20, 1, 0, 0), local_epoch(2019, 4, 20, 2, 0, 0)), 0);
    ::setenv("PATH", path.c_str(), 1);
}

}  // namespace
