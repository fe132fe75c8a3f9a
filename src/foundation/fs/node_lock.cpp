#include "foundation/fs/node_lock.h"

#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tidewall::locks {

namespace {

constexpr const char* kLockDir = tidewall::host::system_paths::lock_dir;
constexpr const char* kStateDir = tidewall::host::system_paths::state_dir;
constexpr unsigned kRetryMs = 50;

bool safe_directory(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The parent must exist (/run and /var/lib always do on a node; the unit tier
// makes them under its temporary root), so nothing is made outside the node's own tree.
int make_private_dir(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return errno;
    return safe_directory(st) ? 0 : EPERM;
}

pid_t recorded_pid(int fd) {
    char buf[32] = {};
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) return 0;
    long v = std::strtol(buf, nullptr, 10);
    return v > 0 ? static_cast<pid_t>(v) : 0;
}

void record_pid(int fd) {
    std::string text = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        ssize_t n = ::pwrite(fd, text.data(), text.size(), 0);
        (void)n;  // the pid is a courtesy for messages; the flock is the lock
    }
}

}  // namespace

int lock_directory(std::string& dir) {
    dir = host::path(kLockDir);
    return make_private_dir(dir);
}

int state_directory(std::string& dir) {
    dir = host::path(kStateDir);
    return make_private_dir(dir);
}

bool safe_private_file(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

held_lock::held_lock(const std::string& name, unsigned wait_ms, unsigned retry_ms) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        error_ = EINVAL;
        return;
    }
    std::string dir;
    if (int e = lock_directory(dir); e != 0) {
        error_ = e;
        path_ = dir;
        return;
    }
    path_ = dir + "/" + name;
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    if (!safe_private_file(fd)) {
        ::close(fd);
        error_ = EPERM;
        return;
    }
    unsigned waited = 0;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || waited >= wait_ms) {
            error_ = errno;
            if (error_ == EWOULDBLOCK) holder_ = recorded_pid(fd);
            ::close(fd);
            return;
        }
        unsigned every = retry_ms > 0 ? retry_ms : kRetryMs;
        unsigned step = wait_ms - waited < every ? wait_ms - waited : every;
        host::current().sleep_ms(step);
        waited += step;
    }
    record_pid(fd);
    fd_ = fd;
}

held_lock::~held_lock() { release(); }

void held_lock::release() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the flock
    fd_ = -1;
}

std::string held_lock::why() const {
    if (fd_ >= 0) return "held";
    if (error_ == EWOULDBLOCK)
        return holder_ > 0 ? "held by pid " + std::to_string(holder_) : "held by another process";
    if (error_ == EPERM) return path_ + " is not safe to use (not owned by root alone)";
    if (error_ == EINVAL) return "not a valid lock name";
    return path_ + ": " + std::strerror(error_);
}

std::string lock_name_for(const std::string& kind, const std::string& what) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : what) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    if (kind.size() + encoded.size() + 7 > 240) {
        unsigned long long h = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : what) h = (h ^ c) * 1099511628211ull;
        char buf[17];
        std::snprintf(buf, sizeof buf, "%016llx", h);
        encoded = std::string("hash-") + buf;
    }
    return kind + "." + encoded + ".lock";
}

const char* operation_name(operation op) {
    switch (op) {
    case operation::provisioning: return "provisioning";
    case operation::metadata_configure: return "metadata configure";
    case operation::first_boot: return "first boot";
    case operation::tuning: return "tuning";
    case operation::pruning: return "pruning";
    case operation::stamp_repair: return "stamp repair";
    }
    return "operation";
}

namespace {

const char* lock_file_of(operation op) {
    switch (op) {
    case operation::provisioning: return "provisioning.lock";
    case operation::metadata_configure: return "metadata.lock";
    case operation::first_boot: return "firstboot.lock";
    case operation::tuning: return "tuning.lock";
    case operation::pruning: return "prune.lock";
    case operation::stamp_repair: return "stamps.lock";
    }
    return "operation.lock";
}

}  // namespace

operation_lock::operation_lock(operation op, unsigned wait_ms) : op_(op), lock_(lock_file_of(op), wait_ms) {}

std::string operation_lock::message() const {
    if (lock_.held()) return "";
    std::string name = operation_name(op_);
    if (lock_.error() == EWOULDBLOCK) {
        std::string m = "another " + name + " is running";
        if (lock_.holder() > 0) m += " (pid " + std::to_string(lock_.holder()) + ")";
        return m;
    }
    return "cannot take the " + name + " lock: " + lock_.why();
}

}  // namespace tidewall::locks
