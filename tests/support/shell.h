#ifndef TIDEWALL_TESTS_SHELL_H
#define TIDEWALL_TESTS_SHELL_H

// Shell commands, files and extended attributes for the set-up and checks of
// the integration tests and benchmarks: these run against the real machine, so
// they go around the library's host layer on purpose.

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <sys/xattr.h>

namespace tidewall::testing {

struct run_result {
    int status;  // exit code; -1 when the command could not run or was killed
    std::string out;  // standard output, whole
};

inline run_result run_shell(const std::string& cmd) {
    run_result r{-1, ""};
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// Standard output without its trailing line breaks; the exit code in *status.
inline std::string sh(const std::string& cmd, int* status = nullptr) {
    run_result r = run_shell(cmd);
    if (status) *status = r.status;
    while (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
    return r.out;
}

inline std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The attribute's value, or "<none>" when it cannot be read.
inline std::string xattr(const std::string& path, const char* name) {
    char buf[4096];
    ssize_t n = ::getxattr(path.c_str(), name, buf, sizeof buf);
    return n < 0 ? "<none>" : std::string(buf, static_cast<size_t>(n));
}

// A loop device over a 512 MiB sparse image in dir; unmounted, detached and
// its image removed at the end, also when the test fails.
class loop_device {
public:
    loop_device(const std::string& dir, const std::string& name) : image_(dir + "/" + name + ".img") {
        sh("truncate -s 512M " + image_);
        path_ = sh("losetup -f --show " + image_);
    }
    ~loop_device() {
        if (path_.empty()) return;
        sh("awk -v d=" + path_ +
           " '$1 == d { print $2 }' /proc/self/mounts | while read -r m; do umount -l \"$m\"; done");
        sh("losetup -d " + path_);
        std::filesystem::remove(image_);
    }
    loop_device(const loop_device&) = delete;
    loop_device& operator=(const loop_device&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string image_, path_;
};

// Whether dev is mounted at mp in this mount namespace.
inline bool mounted_at(const std::string& dev, const std::string& mp) {
    std::istringstream in(slurp("/proc/self/mounts"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string d, m;
        f >> d >> m;
        if (d == dev && m == mp) return true;
    }
    return false;
}

}  // namespace tidewall::testing

#endif
