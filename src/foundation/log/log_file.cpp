#include "foundation/log/log_file.h"

#include "foundation/fs/node_lock.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tidewall::logfile {

namespace {

// A line holds the lock for microseconds: tried every millisecond, a writer
// among many still gets its turn well within the bound.
constexpr unsigned kLockWaitMs = 200;
constexpr unsigned kLockRetryMs = 1;

}  // namespace

std::string format_line(long long epoch_ms, int pid, int level, const char* tag, const std::string& text) {
    std::time_t secs = static_cast<std::time_t>(epoch_ms / 1000);
    struct tm tmv {};
    ::localtime_r(&secs, &tmv);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03lld", tmv.tm_year + 1900, tmv.tm_mon + 1,
                  tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, epoch_ms % 1000);
    std::string line = stamp;
    line += " [" + std::to_string(pid) + "] [" + std::to_string(level) + "] ";
    line += tag ? tag : "-";
    line += ": ";
    size_t len = text.size();
    if (len > 0 && text[len - 1] == '\n') --len;
    for (size_t i = 0; i < len; ++i) {
        if (text[i] == '\n')
            line += "\\n";
        else
            line += text[i];
    }
    line += '\n';
    return line;
}

writer::writer(std::string path) : path_(std::move(path)) {}

void writer::rotate(const limits& lim) const {
    if (lim.versions <= 0) {
        ::unlink(path_.c_str());
        return;
    }
    ::unlink((path_ + "." + std::to_string(lim.versions)).c_str());
    for (int v = lim.versions - 1; v >= 1; --v)
        ::rename((path_ + "." + std::to_string(v)).c_str(), (path_ + "." + std::to_string(v + 1)).c_str());
    ::rename(path_.c_str(), (path_ + ".1").c_str());
}

bool writer::write(const std::string& line, const limits& lim) const {
    // Logging never blocks a caller: a lock still held after a short wait (or
    // that cannot be had) leaves the line to one O_APPEND write without it, and
    // rotation to the next line that gets the lock.
    locks::held_lock lock(locks::lock_name_for("log", path_), kLockWaitMs, kLockRetryMs);
    struct stat st {};
    if (lock.held() && ::stat(path_.c_str(), &st) == 0 && st.st_size > 0 &&
        static_cast<unsigned long long>(st.st_size) + line.size() > lim.max_bytes)
        rotate(lim);
    bool ok = false;
    int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t n = ::write(fd, line.data(), line.size());
        ok = n == static_cast<ssize_t>(line.size());
        ::close(fd);
    }
    return ok;
}

}  // namespace tidewall::logfile
