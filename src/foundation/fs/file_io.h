#ifndef TIDEWALL_FOUNDATION_FILE_IO_H
#define TIDEWALL_FOUNDATION_FILE_IO_H

// Plain file primitives on paths that are already mapped by the host layer.
// Whole-file rewrites go through write_atomic: a crash or a full disk never
// leaves half a file behind. Each helper first asks the backend's file_fault
// hook, so that the unit tier can make any of them fail.

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace tidewall::file_io {

// Whole content of a file; 0 or an errno value.
int read_all(const std::string& path, std::string& content);

// Replaces path with content: a temporary file in the same directory, flushed,
// given the target's mode and owner (or default_mode for a new file), renamed
// over the target, and the directory synced. 0 or an errno value; on failure the
// old file is whole and no temporary file remains. A link at path stays a link
// when only the effective user (root) can have made it and every directory on
// the way to its final target (owned by root and writable by nobody else, or
// sticky like /tmp with the entry root's): that target is the file replaced, in
// its own directory. Any other link is replaced by the new file, never followed.
// Temporary files are named "<name>.twtmp.<pid>.XXXXXX"; a rewrite removes
// those of the same name whose maker is no longer running.
int write_atomic(const std::string& path, const std::string& content, mode_t default_mode = 0644);

// The names in a directory, "." and ".." left out, sorted; 0 or an errno value
// (names is then empty).
int list_dir(const std::string& path, std::vector<std::string>& names);

// Appends content with one write on an O_APPEND descriptor; 0 or an errno value.
// A link at path is appended through only as write_atomic would follow it; any
// other link is replaced by a new file holding content.
int append(const std::string& path, const std::string& content, mode_t mode = 0644);

// Creates (or truncates) a file without following a link at its name; a link
// or other non-regular file there is an error (ELOOP). 0 or an errno value.
int write_no_follow(const std::string& path, const std::string& content, mode_t mode = 0644);

// Writes content into an existing file in place (open without creating,
// truncate, one write): for kernel settings under /proc/sys, which cannot be
// replaced by rename. A link at path is not followed. 0 or an errno value.
int write_in_place(const std::string& path, const std::string& content);

// Creates one directory with mode (before the umask); 0 or an errno value
// (EEXIST when something is already there).
int make_dir(const std::string& path, mode_t mode = 0755);

// Renames from over to (same file system); 0 or an errno value.
int rename_path(const std::string& from, const std::string& to);

// Removes a file or link (never a directory); 0 or an errno value.
int remove_file(const std::string& path);

// Removes an empty directory; 0 or an errno value.
int remove_dir(const std::string& path);

// The status of path, of the link itself unless follow_links; 0 or an errno value.
int status_of(const std::string& path, struct stat& st, bool follow_links = false);

// True when path is, after links, a directory.
bool is_dir(const std::string& path);

// True when something (a dangling link too) is at path.
bool exists(const std::string& path);

// An exclusive flock on a lock file, held for the guard's lifetime. Whole-file
// rewrites that read, change and replace a file take one so that concurrent
// processes lose no update. The lock file is created 0600 when missing, never
// through a link, and used only while it is a regular file of the effective
// user that nobody else may open; another holder is waited for at most
// wait_ms. New locks belong in the root-only directory (locks::held_lock).
class exclusive_lock {
public:
    explicit exclusive_lock(const std::string& lock_path, unsigned wait_ms = 30000);
    ~exclusive_lock();
    exclusive_lock(const exclusive_lock&) = delete;
    exclusive_lock& operator=(const exclusive_lock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace tidewall::file_io

#endif
