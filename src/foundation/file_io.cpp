#include "foundation/file_io.h"

#include "foundation/crash_point.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

std::string directory_of(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

} // namespace

int list_dir(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    DIR* d = ::opendir(path.c_str());
    if (!d) return errno;
    while (struct dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return 0;
}

int read_all(const std::string& path, std::string& content) {
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

// The file a write to path really changes: a link is followed, link by link, to
// its final target (which need not exist yet). A relative target is read from
// the link's own directory. ELOOP for a chain that does not end.
int write_target(const std::string& path, std::string& target) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = p;
            return 0;
        }
        char buf[PATH_MAX];
        ssize_t n = ::readlink(p.c_str(), buf, sizeof buf - 1);
        if (n < 0) return errno;
        std::string link(buf, static_cast<size_t>(n));
        if (link.empty()) return ENOENT;
        p = link[0] == '/' ? link : directory_of(p) + "/" + link;
    }
    return ELOOP;
}

} // namespace

int write_atomic(const std::string& link_or_file, const std::string& content, mode_t default_mode) {
    // Renaming over a link would turn it into a plain file and leave its target
    // with the stale text: the target is replaced, in its own directory.
    std::string path;
    if (int e = write_target(link_or_file, path); e != 0) return e;
    struct stat old {};
    bool had_old = ::stat(path.c_str(), &old) == 0;
    std::string tmpl = path + ".twtmpXXXXXX";
    std::string tmp(tmpl);
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return errno;
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
    if (rc == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) rc = errno;
    if (rc != 0) {
        ::unlink(tmp.c_str());
        return rc;
    }
    int dfd = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return 0;
}

int append(const std::string& path, const std::string& content, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0) return errno;
    int rc = write_fully(fd, content.data(), content.size());
    if (::close(fd) != 0 && rc == 0) rc = errno;
    return rc;
}

int write_no_follow(const std::string& path, const std::string& content, mode_t mode) {
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
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno;
    int rc = write_fully(fd, content.data(), content.size());
    if (::close(fd) != 0 && rc == 0) rc = errno;
    return rc;
}

exclusive_lock::exclusive_lock(const std::string& lock_path) {
    fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
}

exclusive_lock::~exclusive_lock() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the lock
}

} // namespace tidewall::file_io
