#include "foundation/fs/tree_move.h"

#include "foundation/fs/file_io.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tidewall::file_io {

namespace {

int names_in(const std::string& dir, std::vector<std::string>& names) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return errno;
    while (struct dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    return 0;
}

// Copies the entry at from to to, recursively; nothing is removed here.
int copy_entry(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(to.c_str(), st.st_mode & 07777) != 0 && errno != EEXIST) return errno;
        struct stat made {};
        if (::lstat(to.c_str(), &made) != 0) return errno;
        if (!S_ISDIR(made.st_mode)) return ENOTDIR;
        ::chmod(to.c_str(), st.st_mode & 07777);
        if (::lchown(to.c_str(), st.st_uid, st.st_gid) != 0) { /* owner kept where allowed */
        }
        std::vector<std::string> names;
        if (int rc = names_in(from, names)) return rc;
        for (const auto& n : names)
            if (int rc = copy_entry(from + "/" + n, to + "/" + n)) return rc;
        return 0;
    }
    if (S_ISLNK(st.st_mode)) {
        std::string target(st.st_size > 0 ? st.st_size + 1 : 4096, '\0');
        ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
        if (n < 0) return errno;
        target.resize(static_cast<size_t>(n));
        // A link of an earlier, interrupted run is replaced.
        if (::unlink(to.c_str()) != 0 && errno != ENOENT) return errno;
        if (::symlink(target.c_str(), to.c_str()) != 0) return errno;
        if (::lchown(to.c_str(), st.st_uid, st.st_gid) != 0) { /* owner kept where allowed */
        }
        return 0;
    }
    if (!S_ISREG(st.st_mode)) return EINVAL;
    std::string content;
    if (int rc = read_all(from, content)) return rc;
    // write_atomic keeps an existing target's mode: give it the source's.
    if (int rc = write_atomic(to, content, st.st_mode & 07777)) return rc;
    ::chmod(to.c_str(), st.st_mode & 07777);
    if (::lchown(to.c_str(), st.st_uid, st.st_gid) != 0) { /* owner kept where allowed */
    }
    return 0;
}

int remove_entry(const std::string& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(st.st_mode)) {
        std::vector<std::string> names;
        if (int rc = names_in(p, names)) return rc;
        for (const auto& n : names)
            if (int rc = remove_entry(p + "/" + n)) return rc;
        return ::rmdir(p.c_str()) == 0 ? 0 : errno;
    }
    return ::unlink(p.c_str()) == 0 ? 0 : errno;
}

// Whether the tree holds only what copy_entry can copy.
int check_copyable(const std::string& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return errno;
    if (S_ISLNK(st.st_mode) || S_ISREG(st.st_mode)) return 0;
    if (!S_ISDIR(st.st_mode)) return EINVAL;
    std::vector<std::string> names;
    if (int rc = names_in(p, names)) return rc;
    for (const auto& n : names)
        if (int rc = check_copyable(p + "/" + n)) return rc;
    return 0;
}

}  // namespace

int copy_tree_then_remove(const std::string& from, const std::string& to) {
    if (int rc = check_copyable(from)) return rc;
    // Files are flushed as they are written (write_atomic) before the original goes.
    if (int rc = copy_entry(from, to)) return rc;
    return remove_entry(from);
}

int move_tree(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return 0;
    if (errno != EXDEV) return errno;
    return copy_tree_then_remove(from, to);
}

}  // namespace tidewall::file_io
