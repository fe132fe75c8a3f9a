// The first-boot preview follows the registry as the run does, and the log
// path follows dEVLOGDIR; neither runs a command or writes a key.

#include <tidewall/tw_log.h>
#include <tidewall/tw_preview.h>

#include "test_backend.h"

#include <gtest/gtest.h>

#include <algorithm>

using tidewall::testing::test_backend;

namespace {

bool has(const std::vector<std::string>& steps, const std::string& text) {
    return std::any_of(steps.begin(), steps.end(), [&](const auto& s) { return s.find(text) != std::string::npos; });
}

TEST(FirstBootPreview, FollowsTheMarkAndTheLogrotateVersion) {
    struct {
        const char* mark;  // sArrowfieldFirstBootComplete, nullptr: absent
        const char* logrotate;  // nLogrotateUpdateVersion
        bool logrotate_only;
        std::vector<std::string> present, absent;
    } cases[] = {
        {nullptr,
         nullptr,
         false,
         {"/etc/kdump.conf", "version 1", "version 2", "set sArrowfieldFirstBootComplete"},
         {}},
        {"No", "1", false, {"/etc/kdump.conf", "version 2"}, {"version 1"}},
        {"Yes", nullptr, false, {"record the platform type", "nothing else"}, {"/etc/kdump.conf", "version 1"}},
        {"Yes", "2", true, {"nothing for the gluster log rotation: version 2"}, {"platform type", "version 1)"}},
        {nullptr, "0", true, {"version 1", "version 2"}, {"/etc/kdump.conf"}},
    };
    for (const auto& c : cases) {
        test_backend tb;
        if (c.mark) tb.set_key("sArrowfieldFirstBootComplete", c.mark);
        if (c.logrotate) tb.set_key("nLogrotateUpdateVersion", c.logrotate);
        const auto before = tb.registry;
        const auto steps = tw_first_boot_preview(c.logrotate_only);
        for (const auto& p : c.present) EXPECT_TRUE(has(steps, p)) << (c.mark ? c.mark : "-") << ": " << p;
        for (const auto& a : c.absent) EXPECT_FALSE(has(steps, a)) << (c.mark ? c.mark : "-") << ": " << a;
        EXPECT_TRUE(tb.commands.empty());
        EXPECT_EQ(before, tb.registry);
    }
}

TEST(LogFilePath, IsInDevLogDirElseTheDefault) {
    test_backend tb;
    EXPECT_EQ("/var/log/tessaline/TSTidewall.log", tw_log_file_path());
    tb.registry["EventManager"]["dEVLOGDIR"] = "/srv/logs";
    EXPECT_EQ("/srv/logs/TSTidewall.log", tw_log_file_path());
    tb.registry["EventManager"]["dEVLOGDIR"] = "";
    EXPECT_EQ("/var/log/tessaline/TSTidewall.log", tw_log_file_path());
}

}  // namespace
