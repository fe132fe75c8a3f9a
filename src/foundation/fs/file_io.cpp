#include "foundation/fs/file_io.h"
#include "foundation/fs/file_kind.h"

#include "foundation/host/crash_point.h"
#include "foundation/host/host_backend.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tidewall::file_io {

namespace {

int write_fully(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t n = ::write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return 0;
}

// The backend's verdict on op at path: 0 to go on, else the errno to fail with.
int fault(const char* op, const std::string& path) { return host::current().file_fault(op, path); }

std::string directory_of(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

int list_dir(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    if (int e = fault("list", path)) return e;
    DIR* d = ::opendir(path.c_str());
    if (!d) return errno;
    while (struct dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return 0;
}

int read_all(const std::string& path, std::string& content) {
    if (int e = fault("read", path)) return e;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    content.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            return e;
        }
        if (n == 0) break;
        content.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

namespace {

std::string base_of(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An entry of dir (whose status is dir_st) that only the effective user can
// have put there or can swap: the entry is ours and the directory lets nobody
// else rename it (writable by us alone, or sticky like /tmp).
bool only_ours(const struct stat& dir_st, const struct stat& entry_st) {
    const uid_t me = ::geteuid();
    if (dir_st.st_uid != me || entry_st.st_uid != me) return false;
    return (dir_st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (dir_st.st_mode & S_ISVTX) != 0;
}

// Follows the link at path, component by component as the kernel would, to the
// file a write really changes (which need not exist yet). 0 and the target when
// every link and every directory on the way is one only the effective user can
// have made or changed; EPERM when some step is another account's, ELOOP for a
// chain that does not end, else the errno of a step that failed.
int trusted_link_target(const std::string& path, std::string& target) {
    std::string rest = path;
    if (rest.empty() || rest[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) return errno;
        rest = std::string(cwd) + "/" + rest;
    }
    std::string current = "/";
    struct stat current_st {};
    if (::lstat("/", &current_st) != 0) return errno;
    if (current_st.st_uid != ::geteuid() || (current_st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return EPERM;
    std::vector<struct stat> parents;  // the status of each directory above current, for ".."
    int hops = 0;
    size_t pos = 0;
    while (pos < rest.size()) {
        if (rest[pos] == '/') {
            ++pos;
            continue;
        }
        size_t end = rest.find('/', pos);
        std::string name = rest.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? rest.size() : end;
        bool last = rest.find_first_not_of('/', pos) == std::string::npos;
        if (name == ".") continue;
        if (name == "..") {
            if (current != "/") {
                current = directory_of(current);
                current_st = parents.back();
                parents.pop_back();
            }
            continue;
        }
        std::string candidate = current == "/" ? "/" + name : current + "/" + name;
        struct stat st {};
        if (::lstat(candidate.c_str(), &st) != 0) {
            if (errno == ENOENT && last) {
                target = candidate;
                return 0;
            }
            return errno;
        }
        if (S_ISLNK(st.st_mode)) {
            if (++hops > 40) return ELOOP;
            if (!only_ours(current_st, st)) return EPERM;
            char buf[PATH_MAX];
            ssize_t n = ::readlink(candidate.c_str(), buf, sizeof buf - 1);
            if (n < 0) return errno;
            if (n == 0) return ENOENT;
            std::string link(buf, static_cast<size_t>(n));
            rest = link + "/" + rest.substr(pos);
            pos = 0;
            if (link[0] == '/') {
                current = "/";
                parents.clear();
                if (::lstat("/", &current_st) != 0) return errno;
            }
            continue;
        }
        if (last) {
            target = candidate;
            return 0;
        }
        if (!S_ISDIR(st.st_mode)) return ENOTDIR;
        if (!only_ours(current_st, st)) return EPERM;
        parents.push_back(current_st);
        current = candidate;
        current_st = st;
    }
    target = current;
    return 0;
}

constexpr const char* kTempMark = ".twtmp.";

// "<base>.twtmp.<pid>.<six letters or digits>": the maker's pid; 0 for any other name.
pid_t temporary_maker(const std::string& name, const std::string& base) {
    const std::string prefix = base + kTempMark;
    if (name.size() <= prefix.size() + 7 || name.compare(0, prefix.size(), prefix) != 0) return 0;
    std::string tail = name.substr(prefix.size());
    size_t dot = tail.find('.');
    if (dot == 0 || dot == std::string::npos || dot > 10 || tail.size() - dot - 1 != 6) return 0;
    long pid = 0;
    for (size_t i = 0; i < dot; ++i) {
        if (tail[i] < '0' || tail[i] > '9') return 0;
        pid = pid * 10 + (tail[i] - '0');
    }
    for (size_t i = dot + 1; i < tail.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(tail[i]))) return 0;
    return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// Removes the temporary files of earlier rewrites of base whose maker is gone
// (killed mid-rewrite): only our own regular files of exactly that pattern, and
// never through a link.
void remove_orphaned_temporaries(int dfd, const std::string& base) {
    int scan = ::openat(dfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scan < 0) return;
    DIR* d = ::fdopendir(scan);
    if (!d) {
        ::close(scan);
        return;
    }
    std::vector<std::string> orphans;
    while (struct dirent* e = ::readdir(d)) {
        pid_t maker = temporary_maker(e->d_name, base);
        if (maker == 0 || maker == ::getpid()) continue;
        if (::kill(maker, 0) == 0 || errno != ESRCH) continue;
        orphans.emplace_back(e->d_name);
    }
    ::closedir(d);
    for (const auto& name : orphans) {
        struct stat st {};
        if (::fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) ::unlinkat(dfd, name.c_str(), 0);
    }
}

// A new temporary file beside base in dfd, made exclusively and never through a
// link; its name goes to tmp. A descriptor or -1 with errno set.
int create_temporary(int dfd, const std::string& base, std::string& tmp) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct timespec ts {};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        unsigned long long seed = static_cast<unsigned long long>(ts.tv_nsec) * 2654435761ull ^
                                  (static_cast<unsigned long long>(counter++) << 32) ^
                                  static_cast<unsigned long long>(ts.tv_sec);
        std::string suffix;
        for (int i = 0; i < 6; ++i) {
            suffix += kChars[seed % 62];
            seed /= 62;
        }
        tmp = base + kTempMark + std::to_string(::getpid()) + "." + suffix;
        int fd = ::openat(dfd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

int write_atomic(const std::string& link_or_file, const std::string& content, mode_t default_mode) {
    // Renaming over a link would turn it into a plain file and leave its target
    // with the stale text: a link only root can have made (/etc/fstab on a node
    // that keeps it elsewhere) is followed and its target replaced, in its own
    // directory. A link another account could have planted or redirected (a
    // textfile directory, a data disk) is replaced by the new file instead, so
    // that root never writes where that account chose.
    if (int e = fault("write", link_or_file)) return e;
    std::string path = link_or_file;
    struct stat named {};
    if (::lstat(link_or_file.c_str(), &named) == 0 && S_ISLNK(named.st_mode)) {
        std::string target;
        int e = trusted_link_target(link_or_file, target);
        if (e == 0)
            path = target;
        else if (e != EPERM)
            return e;
    }
    int dfd = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return errno;
    const std::string base = base_of(path);
    struct stat old {};
    bool had_old = ::fstatat(dfd, base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
    remove_orphaned_temporaries(dfd, base);
    std::string tmp;
    int fd = create_temporary(dfd, base, tmp);
    if (fd < 0) {
        int e = errno;
        ::close(dfd);
        return e;
    }
    int rc = write_fully(fd, content.data(), content.size());
    if (rc == 0) {
        mode_t mode = had_old ? (old.st_mode & 07777) : default_mode;
        if (::fchmod(fd, mode) != 0) rc = errno;
    }
    if (rc == 0 && had_old && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Keep the owner; an unprivileged caller that cannot is still allowed to write.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) rc = errno;
    }
    if (rc == 0 && ::fsync(fd) != 0) rc = errno;
    if (::close(fd) != 0 && rc == 0) rc = errno;
    if (rc == 0) host::crash_point("rename", path.c_str());
    if (rc == 0 && ::renameat(dfd, tmp.c_str(), dfd, base.c_str()) != 0) rc = errno;
    if (rc != 0) {
        ::unlinkat(dfd, tmp.c_str(), 0);
        ::close(dfd);
        return rc;
    }
    ::fsync(dfd);
    ::close(dfd);
    return 0;
}

int append(const std::string& path, const std::string& content, mode_t mode) {
    // The same rule for links as for rewrites: only a link only root can have
    // made is appended through; any other is replaced by a file of the content.
    if (int e = fault("append", path)) return e;
    std::string target = path;
    struct stat named {};
    if (::lstat(path.c_str(), &named) == 0 && S_ISLNK(named.st_mode)) {
        int e = trusted_link_target(path, target);
        if (e == EPERM) return write_atomic(path, content, mode);
        if (e != 0) return e;
    }
    int fd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return errno;
    int rc = write_fully(fd, content.data(), content.size());
    if (::close(fd) != 0 && rc == 0) rc = errno;
    return rc;
}

int write_no_follow(const std::string& path, const std::string& content, mode_t mode) {
    if (int e = fault("write", path)) return e;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ELOOP;
    }
    int rc = ::ftruncate(fd, 0) == 0 ? 0 : errno;
    if (rc == 0) rc = write_fully(fd, content.data(), content.size());
    if (::close(fd) != 0 && rc == 0) rc = errno;
    return rc;
}

int write_in_place(const std::string& path, const std::string& content) {
    if (int e = fault("write", path)) return e;
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno;
    int rc = write_fully(fd, content.data(), content.size());
    if (::close(fd) != 0 && rc == 0) rc = errno;
    return rc;
}

int make_dir(const std::string& path, mode_t mode) {
    if (int e = fault("mkdir", path)) return e;
    return ::mkdir(path.c_str(), mode) == 0 ? 0 : errno;
}

int rename_path(const std::string& from, const std::string& to) {
    if (int e = fault("rename", from)) return e;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int remove_file(const std::string& path) {
    if (int e = fault("unlink", path)) return e;
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int remove_dir(const std::string& path) {
    if (int e = fault("rmdir", path)) return e;
    return ::rmdir(path.c_str()) == 0 ? 0 : errno;
}

int status_of(const std::string& path, struct stat& st, bool follow_links) {
    if (int e = fault("stat", path)) return e;
    return (follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0 ? 0 : errno;
}

bool is_dir(const std::string& path) { return is_directory(path, links::follow); }

bool exists(const std::string& path) {
    struct stat st {};
    return status_of(path, st) == 0;
}

exclusive_lock::exclusive_lock(const std::string& lock_path, unsigned wait_ms) {
    if (fault("lock", lock_path)) return;
    // Never through a link, and only on a private file of ours: a lock file
    // another account made or may open could be held by it for good.
    int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        ((st.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)) {  // an older 0644 file of ours is narrowed
        ::close(fd);
        return;
    }
    // Measured on the backend's clock and slept with its sleeps: the machine's
    // for a real holder, the fake one in the unit tier.
    auto& machine = host::current();
    const auto deadline = machine.steady_now() + std::chrono::milliseconds(wait_ms);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || machine.steady_now() >= deadline) {
            ::close(fd);
            return;
        }
        machine.sleep_ms(20);
    }
    fd_ = fd;
}

exclusive_lock::~exclusive_lock() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the lock
}

}  // namespace tidewall::file_io
