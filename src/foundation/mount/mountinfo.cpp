#include "foundation/mount/mountinfo.h"

#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/mount/ts_mnt_parser.h"

namespace tidewall::mount_table {

std::vector<mountinfo_entry> parse_mountinfo(const std::string& text) {
    std::vector<mountinfo_entry> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        start = nl == std::string::npos ? text.size() : nl + 1;
        std::vector<std::string> f;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
            if (i >= line.size()) break;
            size_t j = line.find_first_of(" \t", i);
            if (j == std::string::npos) j = line.size();
            f.push_back(line.substr(i, j - i));
            i = j;
        }
        if (f.size() < 5) continue;
        mountinfo_entry e;
        e.devnum = f[2];
        e.root = unescape_field(f[3]);
        e.mount_point = unescape_field(f[4]);
        // Optional fields (shared:N, master:N) run up to a lone "-".
        size_t dash = 6;
        while (dash < f.size() && f[dash] != "-") ++dash;
        if (dash + 1 < f.size()) e.fs_type = unescape_field(f[dash + 1]);
        if (dash + 2 < f.size()) e.source = unescape_field(f[dash + 2]);
        entries.push_back(std::move(e));
    }
    return entries;
}

int read_mountinfo(std::vector<mountinfo_entry>& entries) {
    std::string text;
    int rc = file_io::read_all(host::path("/proc/self/mountinfo"), text);
    entries.clear();
    if (rc != 0) return rc;
    entries = parse_mountinfo(text);
    return 0;
}

}  // namespace tidewall::mount_table
