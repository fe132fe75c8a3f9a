#ifndef TIDEWALL_TESTS_PLATFORM_TEST_UTIL_H
#define TIDEWALL_TESTS_PLATFORM_TEST_UTIL_H

#include <tidewall/tw_platform.h>

#include "local_zone.h"
#include "test_backend.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "fixture.h"

namespace platform_test {

// A real tool output from tests/fixtures, byte for byte.
using tidewall::testing::fixture;

// The lines of text that hold needle (any letter case when icase), as grep prints them.
inline std::string grep(const std::string& text, const std::string& needle, bool icase = false) {
    auto fold = [icase](std::string v) {
        if (icase)
            for (auto& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return v;
    };
    std::string out, line;
    std::istringstream in(text);
    while (std::getline(in, line))
        if (fold(line).find(fold(needle)) != std::string::npos) out += line + "\n";
    return out;
}

// How many times cmd ran.
inline int runs(const tidewall::testing::test_backend& tb, const std::string& cmd) {
    int n = 0;
    for (const auto& c : tb.commands) n += c == cmd;
    return n;
}

// The texts logged under tag, in order.
inline std::vector<std::string> texts(const tidewall::testing::test_backend& tb, const std::string& tag) {
    std::vector<std::string> out;
    for (const auto& l : tb.logs)
        if (l.tag == tag) out.push_back(l.text);
    return out;
}

// A capture of tests/fixtures/thisvm: the tool's output without the "$ command"
// line above it and the "[rc=N]" line below it.
inline std::string thisvm(const std::string& name) {
    std::string text = fixture("thisvm/" + name);
    if (text.compare(0, 2, "$ ") == 0) text.erase(0, text.find('\n') + 1);
    size_t rc = text.rfind("[rc=");
    if (rc != std::string::npos && (rc == 0 || text[rc - 1] == '\n')) text.erase(rc);
    return text;
}

// The first occurrence of from in text replaced by to (a capture moved to another date).
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("no '" + from + "' to replace");
    return text.replace(at, from.size(), to);
}

using tidewall::testing::local_zone;

// Seconds since the epoch of a local date and time.
inline std::time_t local_epoch(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// The commands run that start with prefix, in order.
inline std::vector<std::string> commands_starting(const tidewall::testing::test_backend& tb,
                                                  const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& c : tb.commands)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}

const char* const kTempCmd = "ipmitool sdr type temperature | egrep \"65\\.|3\\.\"";
const char* const kFanCmd = "ipmitool sdr type fan | grep -i FAN";
const char* const kPsSensorsCmd = "ipmitool sdr type \"Power Supply\"";

}  // namespace platform_test

// Reaches lists that queries outside this test area fill (NICs, controllers, drives).
struct tw_platform_peer {
    static std::list<tw_nicinfo>& nics(tw_platform& p) { return p.nics_; }
    static std::list<tw_ctrlinfo>& sas(tw_platform& p) { return p.sas_ctrls_; }
    static std::list<tw_ctrlinfo>& fc(tw_platform& p) { return p.fc_ctrls_; }
    static std::list<tw_driveinfo>& drives(tw_platform& p) { return p.drives_; }
    static std::list<tw_mntpointinfo>& mntpoints(tw_platform& p) { return p.mntpoints_; }
    static double& cpu_usage(tw_platform& p) { return p.cpu_usage_; }
    static int drive_locate_past_gate(tw_platform& p, const std::string& mount_path) {
        return p.drive_locate_mountpath(mount_path);
    }
};

#endif
