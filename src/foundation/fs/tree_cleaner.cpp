// The deferred remover: files and directories registered during a check are
// removed when the check's scope ends, highest order first; and its engine,
// the removal of a whole tree.

#include <tidewall/tw_fs_cleaner.h>

#include "foundation/compat/czu_file.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/tree_cleaner.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

// Empties the directory open at fd through descriptors only: a link inside is
// removed, never followed, and nothing on another file system is entered, so
// a directory swapped for a link while this runs cannot lead outside the tree.
// 0 or the first errno met.
int empty_dir(int fd, dev_t dev) {
    int listing = ::dup(fd);
    DIR* d = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!d) {
        int err = errno;
        if (listing >= 0) ::close(listing);
        return err;
    }
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    ::closedir(d);
    int first = 0;
    for (const auto& name : names) {
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        int rc = 0;
        if (S_ISDIR(st.st_mode)) {
            if (st.st_dev != dev) {
                rc = EXDEV;
            } else {
                int sub = ::openat(fd, name.c_str(), kDirFlags);
                struct stat opened {};
                if (sub < 0) {
                    rc = errno;
                } else {
                    if (::fstat(sub, &opened) != 0 || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev)
                        rc = ESTALE;  // swapped while we looked
                    else
                        rc = empty_dir(sub, dev);
                    ::close(sub);
                }
                if (rc == 0 && ::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) rc = errno;
            }
        } else if (::unlinkat(fd, name.c_str(), 0) != 0) {
            rc = errno;
        }
        if (rc == ENOENT) rc = 0;  // gone already: what was wanted
        if (first == 0) first = rc;
    }
    return first;
}

}  // namespace

int tidewall::fs::remove_tree(std::string system_path) {
    while (system_path.size() > 1 && system_path.back() == '/') system_path.pop_back();
    std::string parent = tsaf_utils::dirname(system_path);
    std::string name = system_path.substr(system_path.find_last_of('/') + 1);
    if (name.empty() || name == "." || name == "..") return EINVAL;
    int pfd = ::open(tidewall::host::path(parent).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (pfd < 0) return errno;
    int rc = 0;
    int fd = ::openat(pfd, name.c_str(), kDirFlags);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        rc = errno;
    } else {
        rc = empty_dir(fd, st.st_dev);
    }
    if (fd >= 0) ::close(fd);
    if (rc == 0 && ::unlinkat(pfd, name.c_str(), AT_REMOVEDIR) != 0) rc = errno;
    ::close(pfd);
    return rc;
}

tw_fs_cleaner::tw_fs_cleaner() = default;

void tw_fs_cleaner::add_cleanup_entry(tw_fs_cleaning_info& info) {
    entries_.emplace(info.get_order(), info);
    if (info.get_order() > highest_order_) highest_order_ = info.get_order();
}

tw_fs_cleaner::~tw_fs_cleaner() {
    const char* tag = "tw_fs_cleaner::~tw_fs_cleaner";
    for (int order = highest_order_; order >= 0; --order) {
        auto it = entries_.find(order);
        if (it == entries_.end()) continue;
        const tw_fs_cleaning_info& e = it->second;
        const char* path = e.get_path().c_str();
        log_.logMessage(tag, tidewall::log_level::step, "Will remove path [%s] type [%s]", path, e.get_type().c_str());
        if (e.get_type() == "dir") {
            // Recursive: whatever a failed step left inside (a half-written test
            // file) goes with the directory.
            if (tidewall::fs::remove_tree(e.get_path()) == 0)
                log_.logMessage(tag, tidewall::log_level::step, "Deleted the directory [%s]", path);
            else
                log_.logMessage(tag, tidewall::log_level::failure, "Failed to delete the directory [%s]", path);
        } else if (e.get_type() == "file") {
            if (CZuFile::Delete(e.get_path(), true).IsSuccess())
                log_.logMessage(tag, tidewall::log_level::step, "Deleted the file [%s]", path);
            else
                log_.logMessage(tag, tidewall::log_level::failure, "Failed to delete the file [%s]", path);
        }
    }
}
