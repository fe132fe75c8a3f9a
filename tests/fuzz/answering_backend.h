#ifndef TIDEWALL_FUZZ_ANSWERING_BACKEND_H
#define TIDEWALL_FUZZ_ANSWERING_BACKEND_H

// A host for the parser fuzz targets: every command is answered with the next
// of the given texts (cycling); a text starting with '!' is a failed run that
// printed the rest. No file of the machine is visible, nothing is written, the
// clock stands still.

#include "foundation/host/host_backend.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace tidewall::fuzzing {

// The input cut at "\n--\n"; always at least one part.
inline std::vector<std::string> split_parts(const std::string& input) {
    const std::string sep = "\n--\n";
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t at = input.find(sep, start);
        parts.push_back(input.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + sep.size();
    }
    return parts;
}

class answering_backend : public tidewall::host::backend {
public:
    answering_backend(std::vector<std::string> answers, std::time_t now) : answers_(std::move(answers)), now_(now) {}

    tidewall::host::command_result run(const std::string&, int) override {
        tidewall::host::command_result r;
        const std::string& a = answers_[next_++ % answers_.size()];
        if (!a.empty() && a[0] == '!') {
            r.status = 1;
            r.out = a.substr(1);
        } else {
            r.out = a;
        }
        return r;
    }
    std::string map_path(const std::string& path) override { return "/nonexistent-fuzz-root" + path; }
    int get_xattr(const std::string&, const std::string&, std::string&) override { return 61; }
    int set_xattr(const std::string&, const std::string&, const std::string&) override { return 1; }
    int remove_xattr(const std::string&, const std::string&) override { return 61; }
    int fs_usage_of(const std::string&, tidewall::host::fs_usage&) override { return 2; }
    bool reg_get(const std::string&, const std::string&, std::string&) override { return false; }
    bool reg_set(const std::string&, const std::string&, const std::string&) override { return false; }
    std::time_t now() override { return now_; }
    void sleep_ms(unsigned) override {}
    int host_name(std::string& n) override {
        n = "fuzz";
        return 0;
    }
    int resolve(const std::string&, std::string&) override { return -2; }
    int name_of(const std::string&, std::string&) override { return -2; }
    std::uint32_t random_u32() override { return 4; }
    int debug_level() override { return 3; }  // every dump and report line is formatted
    void log(int, const char*, const std::string&, int, int) override {}

private:
    std::vector<std::string> answers_;
    std::time_t now_;
    size_t next_ = 0;
};

}  // namespace tidewall::fuzzing

#endif
