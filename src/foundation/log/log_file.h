#ifndef TIDEWALL_FOUNDATION_LOG_FILE_H
#define TIDEWALL_FOUNDATION_LOG_FILE_H

// The product log on disk. Several processes load the library and write the
// same file: each line is one O_APPEND write made under the log's lock in the
// root-only lock directory, and rotation happens under the same lock, so lines
// never interleave and rotation neither loses nor duplicates a line. A lock not
// had within 200 ms leaves the line to a plain O_APPEND write: logging never
// blocks a caller.

#include <string>

namespace tidewall::logfile {

struct limits {
    unsigned long long max_bytes = 10ull << 20;
    int versions = 10;  // rotated copies kept: name.1 (newest) to name.N
};

// One log line: time stamp, process id, level, tag, text. One trailing newline of
// text is dropped; further line breaks are written as "\n" so a message stays one line.
std::string format_line(long long epoch_ms, int pid, int level, const char* tag, const std::string& text);

class writer {
public:
    // path: the log file, e.g. /var/log/tessaline/TSTidewall.log
    explicit writer(std::string path);

    // false when the line could not be written (the caller drops it).
    bool write(const std::string& line, const limits& lim) const;

    const std::string& path() const { return path_; }

private:
    void rotate(const limits& lim) const;
    std::string path_;
};

}  // namespace tidewall::logfile

#endif
