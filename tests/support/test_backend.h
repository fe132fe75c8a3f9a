#ifndef TIDEWALL_TESTS_TEST_BACKEND_H
#define TIDEWALL_TESTS_TEST_BACKEND_H

// The unit tier's host: scripted commands keyed by exact text (every command run
// is recorded in order), files under a temporary root, in-memory extended
// attributes, registry and clock, and sleeps that only advance the clock.
// Constructing one installs it; destroying it installs the newest test backend
// still alive, else the real one (a test backend made inside another hands the
// library back to the outer one, never to the machine while its objects live).

#include "foundation/host/host_backend.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tidewall::testing {

struct log_entry {
    int level;
    std::string tag;
    std::string text;
};

class test_backend : public host::backend {
public:
    test_backend();
    ~test_backend() override;
    test_backend(const test_backend&) = delete;
    test_backend& operator=(const test_backend&) = delete;

    // --- commands ---
    // Scripts the result of an exact command text. Several results for one text
    // are used in turn; the last one then repeats.
    void on(const std::string& cmd, int status, const std::string& out = "", const std::string& err = "");
    // Consulted for commands without a script; unscripted commands fail with 127.
    std::function<std::optional<host::command_result>(const std::string&)> fallback;
    std::vector<std::string> commands;  // every command run, in order
    std::vector<int> time_limits;  // the time limit of each

    // --- files under the temporary root ---
    std::string root;
    void write_file(const std::string& path, const std::string& content);
    std::string read_file(const std::string& path) const;
    bool exists(const std::string& path) const;
    void make_dir(const std::string& path);

    // --- extended attributes (keyed by system path) ---
    std::map<std::string, std::map<std::string, std::string>> xattrs;
    int xattr_error = 0;  // when set, every xattr call fails with it

    // --- file-system usage by system path ---
    // A path without an entry of its own takes that of its nearest ancestor
    // that has one (the file system holding it).
    std::map<std::string, host::fs_usage> usage;
    std::vector<std::string> usage_queries;  // every path asked, in order

    // --- registry: section -> key -> value ---
    std::map<std::string, std::map<std::string, std::string>> registry;
    bool registry_read_only = false;
    void set_key(const std::string& key, const std::string& value) { registry["Dockwright"][key] = value; }
    std::optional<std::string> key(const std::string& k) const;

    // --- clock ---
    std::time_t clock = 1700000000;
    std::vector<unsigned> sleeps;
    // The steady clock; like clock it moves only with sleeps.
    std::chrono::steady_clock::time_point steady{std::chrono::hours(1000)};
    // How many threads have read the steady clock (a latch for tests that must
    // move it only once the others have taken their time).
    size_t steady_readers() const;

    // --- environment: these names read as given; any other as the process has it ---
    std::map<std::string, std::string> env;

    // --- file faults: the library's file helper op ("read", "write", "rename", ...)
    // on the system path fails with err ---
    void fail_file(const std::string& op, const std::string& path, int err);

    // --- identity ---
    std::string hostname = "node1.example.net";
    int hostname_error = 0;
    std::map<std::string, std::string> hosts;  // name -> address for resolve()
    std::vector<std::string> interface_addresses;  // for local_addresses()
    std::deque<std::uint32_t> random_values;  // handed out in turn, then 0x12345678

    // --- log ---
    int level = 3;
    std::vector<log_entry> logs;
    bool logged(const std::string& text) const;
    bool logged(int level, const std::string& tag, const std::string& text) const;
    int log_size_mib = 0, log_versions = 0;

    // backend
    host::command_result run(const std::string& cmd, int time_limit_s) override;
    std::string map_path(const std::string& path) override;
    int get_xattr(const std::string& path, const std::string& name, std::string& value) override;
    int set_xattr(const std::string& path, const std::string& name, const std::string& value) override;
    int remove_xattr(const std::string& path, const std::string& name) override;
    int fs_usage_of(const std::string& path, host::fs_usage& u) override;
    bool reg_get(const std::string& section, const std::string& key, std::string& value) override;
    bool reg_set(const std::string& section, const std::string& key, const std::string& value) override;
    std::time_t now() override {
        std::lock_guard<std::recursive_mutex> guard(mu_);
        return clock;
    }
    void sleep_ms(unsigned ms) override;
    std::chrono::steady_clock::time_point steady_now() override;
    bool get_env(const std::string& name, std::string& value) override;
    int file_fault(const char* op, const std::string& mapped_path) override;
    int host_name(std::string& name) override;
    int resolve(const std::string& name, std::string& address) override;
    int name_of(const std::string& address, std::string& name) override;
    int local_addresses(std::vector<std::string>& addresses) override {
        std::lock_guard<std::recursive_mutex> guard(mu_);
        addresses = interface_addresses;
        return 0;
    }
    std::uint32_t random_u32() override;
    int debug_level() override { return level; }
    void log(int level, const char* tag, const std::string& text, int size_mib, int versions) override;

private:
    std::string unmap(const std::string& real) const;
    std::map<std::string, std::deque<host::command_result>> scripts_;
    std::map<std::pair<std::string, std::string>, int> file_faults_;
    std::set<std::thread::id> steady_readers_;
    unsigned sleep_remainder_ms_ = 0;
    // The library calls in from several threads (metrics collectors, disk pools).
    mutable std::recursive_mutex mu_;
};

}  // namespace tidewall::testing

#endif
