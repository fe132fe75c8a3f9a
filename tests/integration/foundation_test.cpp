// The host layer against the real machine (inside the sandbox): concurrent
// registry updates, concurrent logging with rotation, command time limits and
// files a person broke by hand.

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_file.h"
#include "foundation/registry/registry_store.h"

#include <tidewall/tw_debug.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "shell.h"

namespace {

using tidewall::testing::slurp;

const std::string kDockwright = "/etc/TessalineRegistry/Tolvan/Instance001/Dockwright/registry.conf";

// Runs body in `count` child processes at once; true when every child exits 0.
template <typename F> bool in_processes(int count, F body) {
    std::vector<pid_t> pids;
    for (int i = 0; i < count; ++i) {
        pid_t pid = ::fork();
        if (pid == 0) _exit(body(i));
        pids.push_back(pid);
    }
    bool ok = true;
    for (pid_t p : pids) {
        int status = 0;
        ::waitpid(p, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok;
}

class Foundation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("TW_IN_SANDBOX")) << "run through sandbox.sh: this test writes /etc";
        std::filesystem::remove_all("/etc/TessalineRegistry/Tolvan");
        ::unsetenv("TW_REGISTRY_INSTANCE");
    }
};

TEST_F(Foundation, ConcurrentRegistryUpdatesLoseNothing) {
    ASSERT_EQ(0, tsaf_utils::set_reg_key("sExisting", "kept"));
    const int procs = 8, keys = 60;
    ASSERT_TRUE(in_processes(procs, [&](int p) {
        for (int k = 0; k < keys; ++k) {
            std::string key = "sProc" + std::to_string(p) + "Key" + std::to_string(k);
            if (tsaf_utils::set_reg_key(key, "value " + std::to_string(p * 1000 + k)) != 0) return 1;
            // Everyone also rewrites one shared key: the file must stay whole.
            if (tsaf_utils::set_reg_key("sShared", "from " + std::to_string(p)) != 0) return 1;
        }
        return 0;
    }));
    auto lines = tidewall::registry::parse(slurp(kDockwright));
    std::set<std::string> seen;
    for (const auto& l : lines) {
        ASSERT_TRUE(l.is_entry) << l.text;
        EXPECT_TRUE(seen.insert(l.key).second) << "duplicate " << l.key;
    }
    EXPECT_EQ(static_cast<size_t>(procs * keys + 2), seen.size());
    for (int p = 0; p < procs; ++p) {
        for (int k = 0; k < keys; ++k) {
            std::string v;
            ASSERT_EQ(0, tsaf_utils::get_reg_key("sProc" + std::to_string(p) + "Key" + std::to_string(k), v));
            EXPECT_EQ("value " + std::to_string(p * 1000 + k), v);
        }
    }
    std::string v;
    ASSERT_EQ(0, tsaf_utils::get_reg_key("sExisting", v));
    EXPECT_EQ("kept", v);
    // No temporary file was left behind by any writer.
    for (auto& e : std::filesystem::directory_iterator(std::filesystem::path(kDockwright).parent_path())) {
        std::string name = e.path().filename();
        EXPECT_TRUE(name == "registry.conf" || name == "registry.conf.lock") << name;
    }
}

TEST_F(Foundation, HandEditedRegistryIsReadAndRewrittenWithoutLosingLines) {
    std::filesystem::create_directories(std::filesystem::path(kDockwright).parent_path());
    const std::string edited =
        "# edited by hand on node 7\n"
        "sTidewallDDBMountPath /data/ddb\r\n"
        "   sIndented this line was broken by a stray indent\n"
        "sTidewallDataPathMountOptions noatime,inode64\n"
        "garbage\x01\x02\xff line\n"
        "\n"
        "sTidewallDDBFileSystem";  // no newline, no value: the editor ate both
    { std::ofstream(kDockwright, std::ios::binary) << edited; }
    std::string v;
    ASSERT_EQ(0, tsaf_utils::get_reg_key("sTidewallDDBMountPath", v));
    EXPECT_EQ("/data/ddb", v);
    ASSERT_EQ(0, tsaf_utils::get_reg_key("sTidewallDataPathMountOptions", v));
    EXPECT_EQ("noatime,inode64", v);
    ASSERT_EQ(0, tsaf_utils::get_reg_key("sTidewallDDBFileSystem", v));
    EXPECT_EQ("", v);
    EXPECT_NE(0, tsaf_utils::get_reg_key("sIndented", v));

    ASSERT_EQ(0, tsaf_utils::set_reg_key("sTidewallDataPathMountOptions", "noatime,inode64,nofail"));
    std::string after = slurp(kDockwright);
    EXPECT_EQ(
        "# edited by hand on node 7\n"
        "sTidewallDDBMountPath /data/ddb\r\n"
        "   sIndented this line was broken by a stray indent\n"
        "sTidewallDataPathMountOptions noatime,inode64,nofail\n"
        "garbage\x01\x02\xff line\n"
        "\n"
        "sTidewallDDBFileSystem\n",
        after);
}

TEST_F(Foundation, GarbledOrUnreadableRegistryFailsReadsCleanly) {
    std::filesystem::create_directories(std::filesystem::path(kDockwright).parent_path());
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xff);
    { std::ofstream(kDockwright, std::ios::binary) << garbage; }
    std::string v;
    EXPECT_NE(0, tsaf_utils::get_reg_key("sTidewallDDBMountPath", v));
    // A section file that is a directory cannot be read: reads fail, writes refuse.
    std::filesystem::remove(kDockwright);
    std::filesystem::create_directories(kDockwright);
    EXPECT_NE(0, tsaf_utils::get_reg_key("sAnything", v));
    EXPECT_NE(0, tsaf_utils::set_reg_key("sAnything", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(kDockwright));
    std::filesystem::remove_all(kDockwright);
}

struct parsed_line {
    int proc, seq;
};

TEST_F(Foundation, ConcurrentLoggingWithRotationLosesDuplicatesAndInterleavesNothing) {
    const std::string dir = "/tmp/twlogtest";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/TSTidewall.log";
    tidewall::logfile::limits lim;
    lim.max_bytes = 16 * 1024;
    lim.versions = 200;  // enough to keep every line of this test
    const int procs = 6, lines = 1500;
    ASSERT_TRUE(in_processes(procs, [&](int p) {
        tidewall::logfile::writer w(path);
        for (int i = 0; i < lines; ++i) {
            std::string text = "proc " + std::to_string(p) + " seq " + std::to_string(i) + " " +
                               std::string(static_cast<size_t>(i % 37), 'x');
            if (!w.write(tidewall::logfile::format_line(0, ::getpid(), 0, "tw_test::log", text), lim)) return 1;
        }
        return 0;
    }));
    std::vector<std::string> files;
    for (int v = lim.versions; v >= 1; --v)
        if (std::filesystem::exists(path + "." + std::to_string(v))) files.push_back(path + "." + std::to_string(v));
    files.push_back(path);
    EXPECT_GT(files.size(), 10u) << "the log should have rotated many times";
    static const std::regex shape(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] \[0\] tw_test::log: proc (\d+) seq (\d+) (x*)$)");
    std::map<int, int> next;  // per process: the next sequence number expected
    size_t total = 0;
    for (const auto& f : files) {
        std::string content = slurp(f);
        EXPECT_LE(content.size(), lim.max_bytes) << f;
        std::istringstream in(content);
        std::string line;
        while (std::getline(in, line)) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, shape)) << "malformed line in " << f << ": " << line;
            int p = std::stoi(m[1]), s = std::stoi(m[2]);
            EXPECT_EQ(static_cast<size_t>(s % 37), m[3].length());
            EXPECT_EQ(next[p], s) << "process " << p << " lost or repeated a line";
            next[p] = s + 1;
            ++total;
        }
    }
    EXPECT_EQ(static_cast<size_t>(procs * lines), total);
    std::filesystem::remove_all(dir);
}

TEST_F(Foundation, LoggerWritesWhereTheRegistrySaysAndNeverFailsWhenItCannot) {
    const std::string dir = "/tmp/twlogdir";
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(tidewall::registry::machine_store().set("EventManager", "dEVLOGDIR", dir));
    ::setenv("TW_DEBUG_LEVEL", "2", 1);
    pid_t pid = ::fork();
    if (pid == 0) {
        // A fresh process: the log location is settled once per process.
        tw_debug log;
        log.logMessage("tw_test::where", 2, "hello [%s]", "there");
        log.logMessage("tw_test::where", 3, "above the level");
        _exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string content = slurp(dir + "/TSTidewall.log");
    EXPECT_NE(std::string::npos, content.find("[2] tw_test::where: hello [there]\n"));
    EXPECT_EQ(std::string::npos, content.find("above the level"));

    // A log directory that cannot be made (a file stands in its way): nothing
    // is written and nothing fails.
    { std::ofstream("/tmp/twlog-blocker") << "x"; }
    ASSERT_TRUE(tidewall::registry::machine_store().set("EventManager", "dEVLOGDIR", "/tmp/twlog-blocker/sub"));
    pid = ::fork();
    if (pid == 0) {
        tw_debug log;
        for (int i = 0; i < 100; ++i) log.logMessage("tw_test::where", 0, "dropped %d", i);
        _exit(0);
    }
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::unsetenv("TW_DEBUG_LEVEL");
}

TEST_F(Foundation, CommandPastItsTimeLimitIsKilledWithItsChildren) {
    std::list<std::string> lines;
    int rc = tsaf_utils::popen("sleep 300 & echo $!; sleep 300; echo never", lines, 2);
    EXPECT_NE(0, rc);
    ASSERT_EQ(1u, lines.size());
    pid_t child = std::stoi(lines.front());
    ::usleep(100 * 1000);
    // Gone, or a zombie waiting for the namespace's init to reap it: not running.
    std::string stat = slurp("/proc/" + std::to_string(child) + "/stat");
    if (!stat.empty()) {
        auto close = stat.rfind(')');
        ASSERT_NE(std::string::npos, close);
        EXPECT_EQ('Z', stat[close + 2]) << stat;
    }
    std::string err;
    std::list<std::string> out;
    EXPECT_EQ(127, tsaf_utils::execute_command("definitely-not-a-command-tw", out, err, 100));
    EXPECT_NE(std::string::npos, err.find("not found"));
}

}  // namespace
