#ifndef TIDEWALL_TESTS_PLATFORM_TEST_UTIL_H
#define TIDEWALL_TESTS_PLATFORM_TEST_UTIL_H

#include <tidewall/tw_platform.h>

#include "test_backend.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform_test {

// A real tool output from tests/fixtures, byte for byte.
inline std::string fixture(const std::string& rel) {
    std::ifstream f(std::string(TW_FIXTURES_DIR) + "/" + rel, std::ios::binary);
    if (!f) throw std::runtime_error("missing fixture " + rel);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

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

const char* const kTempCmd = "ipmitool sdr type temperature | egrep \"65\\.|3\\.\"";
const char* const kFanCmd = "ipmitool sdr type fan | grep -i FAN";
const char* const kPsSensorsCmd = "ipmitool sdr type \"Power Supply\"";

} // namespace platform_test

// Reaches lists that queries outside this test area fill (NICs, controllers, drives).
struct tw_platform_peer {
    static std::list<tw_nicinfo>& nics(tw_platform& p) { return p.nics_; }
    static std::list<tw_ctrlinfo>& sas(tw_platform& p) { return p.sas_ctrls_; }
    static std::list<tw_ctrlinfo>& fc(tw_platform& p) { return p.fc_ctrls_; }
    static std::list<tw_driveinfo>& drives(tw_platform& p) { return p.drives_; }
    static std::list<tw_mntpointinfo>& mntpoints(tw_platform& p) { return p.mntpoints_; }
    static double& cpu_usage(tw_platform& p) { return p.cpu_usage_; }
};

#endif
