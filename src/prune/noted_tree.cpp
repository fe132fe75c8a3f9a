#include "prune/noted_tree.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tidewall::prune {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

}  // namespace

size_t noted_tree::add(long parent, std::string name, std::string system_path, const identity& id) {
    dirs_.push_back({parent, std::move(name), std::move(system_path), id});
    return dirs_.size() - 1;
}

dir_reopener::~dir_reopener() { close_from(0); }

void dir_reopener::close_from(size_t depth) {
    while (chain_.size() > depth) {
        ::close(chain_.back().second);
        chain_.pop_back();
    }
}

int dir_reopener::open(size_t i, outcome& why, std::string& where, int& err) {
    std::vector<size_t> path;  // from the location down to i
    for (long at = static_cast<long>(i); at != kNoParent; at = tree_.at(static_cast<size_t>(at)).parent)
        path.insert(path.begin(), static_cast<size_t>(at));
    size_t keep = 0;
    while (keep < chain_.size() && keep < path.size() && chain_[keep].first == path[keep]) ++keep;
    close_from(keep);
    for (size_t depth = keep; depth < path.size(); ++depth) {
        const noted_dir& d = tree_.at(path[depth]);
        int fd =
            depth == 0 ? ::open(d.name.c_str(), kDirFlags) : ::openat(chain_.back().second, d.name.c_str(), kDirFlags);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) != 0) {
            err = errno;
            ::close(fd);
            why = outcome::failed;
            return -1;
        }
        if (fd < 0) {
            err = errno;
            where = d.system_path;
            // A link or a file at a noted directory's name is not what the walk saw.
            why = err == ENOENT ? outcome::gone : (err == ELOOP || err == ENOTDIR) ? outcome::swapped : outcome::failed;
            return -1;
        }
        if (!same(identity_of(st), d.id)) {
            ::close(fd);
            where = d.system_path;
            why = outcome::swapped;
            return -1;
        }
        chain_.emplace_back(path[depth], fd);
    }
    why = outcome::done;
    return chain_.back().second;
}

outcome remove_noted(dir_reopener& dirs, size_t dir, const std::string& name, const identity& id, bool directory,
                     std::string& where, int& err) {
    outcome why;
    int fd = dirs.open(dir, why, where, err);
    if (fd < 0) return why;
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        err = errno;
        return err == ENOENT ? outcome::gone : outcome::failed;
    }
    // The type as well: an inode number freed by the noted file may already
    // belong to the link put in its place.
    if (!same(identity_of(st), id) || (directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))) {
        where.clear();  // the entry itself
        return outcome::swapped;
    }
    if (::unlinkat(fd, name.c_str(), directory ? AT_REMOVEDIR : 0) != 0) {
        err = errno;
        return err == ENOENT ? outcome::gone : outcome::failed;
    }
    return outcome::done;
}

}  // namespace tidewall::prune
