#ifndef TIDEWALL_TESTS_SHELL_H
#define TIDEWALL_TESTS_SHELL_H

// Shell commands, files and extended attributes for the set-up and checks of
// the integration tests and benchmarks: these run against the real machine, so
// they go around the library's host layer on purpose.

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <sys/xattr.h>

namespace tidewall::testing {

struct run_result {
    int status;       // exit code; -1 when the command could not run or was killed
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

}  // namespace tidewall::testing

#endif
