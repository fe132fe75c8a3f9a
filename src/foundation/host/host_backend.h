#ifndef TIDEWALL_FOUNDATION_HOST_BACKEND_H
#define TIDEWALL_FOUNDATION_HOST_BACKEND_H

// The only door from the library to the machine. Every command, fixed path,
// extended attribute, registry access, clock reading and sleep goes through the
// backend installed here, so that the unit tier can drive the whole library with
// scripted commands, files under a temporary root and a fake clock.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace tidewall::host {

struct command_result {
    int status = 0;  // 0 success; exit code, 128+signal, or -1 when it could not run
    std::string out;  // standard output, whole
    std::string err;  // standard error, whole
    bool timed_out = false;  // killed at its time limit
};

struct fs_usage {
    unsigned long long total_bytes = 0;
    unsigned long long free_bytes = 0;  // available to unprivileged users
};

class backend {
public:
    virtual ~backend() = default;

    // Runs cmd through /bin/sh -c. time_limit_s > 0 kills the whole process group
    // after that many seconds and reports failure; 0 waits without limit.
    virtual command_result run(const std::string& cmd, int time_limit_s) = 0;

    // Where an absolute system path really lies: itself on the machine, under a
    // temporary root in tests. All file access of the library maps through here.
    virtual std::string map_path(const std::string& path) = 0;

    // Extended attributes; 0 on success, else an errno value.
    virtual int get_xattr(const std::string& path, const std::string& name, std::string& value) = 0;
    virtual int set_xattr(const std::string& path, const std::string& name, const std::string& value) = 0;
    virtual int remove_xattr(const std::string& path, const std::string& name) = 0;

    // File-system usage of the file system holding path; 0 or an errno value.
    virtual int fs_usage_of(const std::string& path, fs_usage& usage) = 0;

    // Product registry. get: true and the value when the key exists.
    virtual bool reg_get(const std::string& section, const std::string& key, std::string& value) = 0;
    virtual bool reg_set(const std::string& section, const std::string& key, const std::string& value) = 0;

    // Clock and sleep. Sleeps in tests only advance the fake clock.
    virtual std::time_t now() = 0;
    virtual void sleep_ms(unsigned milliseconds) = 0;
    // The monotonic clock that deadlines and bounded waits are measured on. A
    // fake clock moves only with the backend's own sleeps.
    virtual std::chrono::steady_clock::time_point steady_now() { return std::chrono::steady_clock::now(); }

    // A variable of the process environment; false when it is unset.
    virtual bool get_env(const std::string& name, std::string& value);

    // Consulted by the library's file helpers before each operation op ("read",
    // "write", "append", "list", "mkdir", "rename", "unlink", "rmdir", "stat",
    // "lock") on a mapped path: 0 lets it go on, any other value is the errno the
    // helper fails with. The machine never refuses here.
    virtual int file_fault(const char* op, const std::string& mapped_path) { return 0; }

    // Identity of this host and name resolution; 0 on success.
    virtual int host_name(std::string& name) = 0;
    virtual int resolve(const std::string& name, std::string& address) = 0;
    // The host name an address resolves back to; 0 on success.
    virtual int name_of(const std::string& address, std::string& name) = 0;
    // The addresses of this host's network interfaces, as text; 0 on success.
    // A backend that cannot tell knows none.
    virtual int local_addresses(std::vector<std::string>& addresses) { return -1; }

    // Fresh randomness (keys for the I/O tests).
    virtual std::uint32_t random_u32() = 0;

    // The product log: debug level in force, and one formatted message. The file
    // keeps at most size_mib MiB before it rotates, and `versions` rotated copies.
    virtual int debug_level() = 0;
    virtual void log(int level, const char* tag, const std::string& text, int size_mib, int versions) = 0;
};

// The backend in force; the real one unless a test installed another.
backend& current();

// Installs b as the backend (nullptr restores the real one) and returns the one
// installed before (nullptr for the real one). Not thread-safe: tests install a
// backend before they drive the library.
backend* install(backend* b);

// The real backend, for code that needs the machine even under a test backend
// (nothing in the library does).
backend& real();

// Convenience: the mapped form of an absolute system path.
inline std::string path(const std::string& p) { return current().map_path(p); }

// Convenience: an environment variable of the backend in force, "" when unset.
inline std::string env(const std::string& name) {
    std::string value;
    return current().get_env(name, value) ? value : std::string();
}

// Convenience: the steady clock of the backend in force.
inline std::chrono::steady_clock::time_point steady_now() { return current().steady_now(); }

}  // namespace tidewall::host

#endif
