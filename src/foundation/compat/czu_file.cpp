#include "foundation/compat/czu_file.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"

#include <cerrno>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

using tidewall::host::path;

CZuFile::~CZuFile() {
    if (fd_ >= 0) ::close(fd_);
}

CZuError CZuFile::Open(const std::string& p, int flags, unsigned mode) {
    if (fd_ >= 0) return CZuError(EBUSY);
    fd_ = ::open(path(p).c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
    return CZuError(fd_ < 0 ? errno : 0);
}

CZuError CZuFile::Read(void* buf, unsigned len, unsigned* done) {
    unsigned total = 0;
    char* p = static_cast<char*>(buf);
    int err = fd_ < 0 ? EBADF : 0;
    while (err == 0 && total < len) {
        ssize_t n = ::read(fd_, p + total, len - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
        } else if (n == 0) {
            break;
        } else {
            total += static_cast<unsigned>(n);
        }
    }
    if (done) *done = total;
    return CZuError(err);
}

CZuError CZuFile::Write(const void* buf, unsigned len, unsigned* done) {
    unsigned total = 0;
    const char* p = static_cast<const char*>(buf);
    int err = fd_ < 0 ? EBADF : 0;
    while (err == 0 && total < len) {
        ssize_t n = ::write(fd_, p + total, len - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
        } else {
            total += static_cast<unsigned>(n);
        }
    }
    if (done) *done = total;
    return CZuError(err);
}

CZuError CZuFile::Sync() {
    if (fd_ < 0) return CZuError(EBADF);
    return CZuError(::fdatasync(fd_) == 0 ? 0 : errno);
}

CZuError CZuFile::StartWriteback(unsigned long long offset, unsigned long long len) {
    if (fd_ < 0) return CZuError(EBADF);
    return CZuError(
        ::sync_file_range(fd_, static_cast<off64_t>(offset), static_cast<off64_t>(len), SYNC_FILE_RANGE_WRITE) == 0
            ? 0
            : errno);
}

CZuError CZuFile::DropCache() {
    if (fd_ < 0) return CZuError(EBADF);
    return CZuError(::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED));
}

CZuError CZuFile::Close() {
    if (fd_ < 0) return CZuError(EBADF);
    int rc = ::close(fd_);
    fd_ = -1;
    return CZuError(rc == 0 ? 0 : errno);
}

CZuError CZuFile::Delete(const std::string& p, bool) { return CZuError(::unlink(path(p).c_str()) == 0 ? 0 : errno); }

CZuError CZuDirectory::Create(const std::string& p, bool parents) {
    if (parents) return CZuError(tsaf_utils::mkdir_r(p, 0755));
    return CZuError(::mkdir(path(p).c_str(), 0755) == 0 ? 0 : errno);
}

namespace {
int remove_entry(const char* p, const struct stat*, int, struct FTW*) { return ::remove(p) == 0 ? 0 : errno; }
}  // namespace

CZuError CZuDirectory::Remove(const std::string& p, bool recursive, bool) {
    std::string real = path(p);
    if (!recursive) return CZuError(::rmdir(real.c_str()) == 0 ? 0 : errno);
    // Depth first, never following links out of the tree.
    return CZuError(::nftw(real.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS));
}

CZuError CZuDirectory::GetSpaceUsage(const std::string& p, unsigned long long* total, unsigned long long* free) {
    tidewall::host::fs_usage u;
    int rc = tidewall::host::current().fs_usage_of(path(p), u);
    if (rc == 0) {
        if (total) *total = u.total_bytes;
        if (free) *free = u.free_bytes;
    }
    return CZuError(rc);
}

CZuError CZuPath::Exists(const std::string& p, bool& exists) {
    struct stat st {};
    if (::lstat(path(p).c_str(), &st) == 0) {
        exists = true;
        return CZuError();
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        exists = false;
        return CZuError();
    }
    return CZuError(errno);
}
