#ifndef TIDEWALL_TESTS_UNIT_TUNING_FIXTURE_H
#define TIDEWALL_TESTS_UNIT_TUNING_FIXTURE_H

// Shared set-up of the tuning tests: real tool outputs from the fixtures, and a
// node on which every tuning version can run.

#include "test_backend.h"

// The storage tests' helpers: node flavours, fake disks, a FAT boot sector.
#include "../storage/storage_fixture.h"

#include <tidewall/tw_perf_params_config.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "fixture.h"

namespace tidewall::testing {

using tidewall::testing::fixture;

// A capture of this machine's tools (fixtures/thisvm) without the "$ command"
// line in front and the "[rc=N]" line after it: the tool's own output.
inline std::string tool_output(const std::string& name) {
    std::string text = fixture(name);
    if (text.compare(0, 2, "$ ") == 0) text = text.substr(text.find('\n') + 1);
    size_t rc = text.rfind("[rc=");
    if (rc != std::string::npos && (rc == 0 || text[rc - 1] == '\n')) text.resize(rc);
    return text;
}

inline const std::string kIfListCommand = fixture("golden/network_interfaces.cmd");

// The commands a run recorded, in order, that start with prefix.
inline std::vector<std::string> commands_starting(const test_backend& tb, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& c : tb.commands)
        if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
}

inline bool ran(const test_backend& tb, const std::string& cmd) {
    return std::find(tb.commands.begin(), tb.commands.end(), cmd) != tb.commands.end();
}

// A node on which every version succeeds: 16 GB of memory, no network
// interfaces, no storage flavour recorded (neither GlusterFS nor Maldor steps
// run), no EFI, no multipath file, and every command succeeds unless scripted.
inline void quiet_node(test_backend& tb) {
    tb.write_file("/proc/meminfo", fixture("meminfo/proc-meminfo-16g-kernel5-telegraf.txt"));
    tb.write_file("/proc/sys/fs/inotify/max_user_watches", "8192\n");
    tb.make_dir("/etc/modprobe.d");
    tb.make_dir("/var/lib");
    tb.write_file("/etc/passwd", "root:x:0:0:root:/root:/bin/bash\n");
    tb.fallback = [](const std::string&) -> std::optional<host::command_result> { return host::command_result{}; };
}

// The gluster command line's answers: a volume list and a plain success.
inline std::string volume_list_xml(const std::vector<std::string>& names) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<cliOutput>\n  <opRet>0</opRet>\n"
        "  <opErrno>0</opErrno>\n  <opErrstr/>\n  <volList>\n    <count>" +
        std::to_string(names.size()) + "</count>\n";
    for (const auto& n : names) xml += "    <volume>" + n + "</volume>\n";
    return xml + "  </volList>\n</cliOutput>\n";
}
inline const std::string kGlusterOk = "<cliOutput><opRet>0</opRet><opErrno>0</opErrno><opErrstr/></cliOutput>";
inline const std::string kVolumeList = "gluster --mode=script volume list --xml";

}  // namespace tidewall::testing

#endif
