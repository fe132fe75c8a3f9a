#include "foundation/mount/ts_mnt_parser.h"

#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"

#include <cstdlib>
#include <vector>

void TsMntInfo::SetMountOptions(const std::string& joined) {
    options_.clear();
    size_t start = 0;
    while (start <= joined.size()) {
        size_t comma = joined.find(',', start);
        std::string item = joined.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!item.empty()) options_.push_back(item);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
}

namespace {

int to_int(const std::string& s) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || v < -1000000 || v > 1000000) return 0;
    return static_cast<int>(v);
}

}  // namespace

namespace tidewall::mount_table {

std::string escape_field(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
        case ' ': out += "\\040"; break;
        case '\t': out += "\\011"; break;
        case '\n': out += "\\012"; break;
        case '\\': out += "\\134"; break;
        default: out += c;
        }
    }
    return out;
}

std::string unescape_field(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char* p = field.c_str() + i + 1;
            if (p[0] >= '0' && p[0] <= '3' && p[1] >= '0' && p[1] <= '7' && p[2] >= '0' && p[2] <= '7') {
                out += static_cast<char>((p[0] - '0') * 64 + (p[1] - '0') * 8 + (p[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

}  // namespace tidewall::mount_table

TsMntParser::TsMntParser(std::string path) : path_(std::move(path)) {}

void TsMntParser::ParseText(const std::string& text, std::list<TsMntInfo>& entries) {
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        start = nl == std::string::npos ? text.size() : nl + 1;
        std::vector<std::string> fields;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
            if (i >= line.size()) break;
            size_t j = i;
            while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
            fields.push_back(line.substr(i, j - i));
            i = j;
        }
        if (fields.empty() || fields[0][0] == '#') continue;
        // A line needs at least a device and a mount point to be an entry.
        if (fields.size() < 2) continue;
        TsMntInfo info;
        info.SetBackingDevice(tidewall::mount_table::unescape_field(fields[0]));
        info.SetMountPoint(tidewall::mount_table::unescape_field(fields[1]));
        if (fields.size() > 2) info.SetFileSystemType(tidewall::mount_table::unescape_field(fields[2]));
        if (fields.size() > 3) info.SetMountOptions(tidewall::mount_table::unescape_field(fields[3]));
        if (fields.size() > 4) info.SetDumpFrequency(to_int(fields[4]));
        if (fields.size() > 5) info.SetPassNumber(to_int(fields[5]));
        info.SetFromFile(true);
        entries.push_back(std::move(info));
    }
}

int TsMntParser::ParseMountPointInfo(std::list<TsMntInfo>& entries) {
    std::string text;
    int rc = tidewall::file_io::read_all(tidewall::host::path(path_), text);
    if (rc != 0) return rc;
    ParseText(text, entries);
    return 0;
}
