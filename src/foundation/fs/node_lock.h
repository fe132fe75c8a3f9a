#ifndef TIDEWALL_FOUNDATION_NODE_LOCK_H
#define TIDEWALL_FOUNDATION_NODE_LOCK_H

// Locks that no other account can hold, and operations that run one at a time
// on a node.
//
// Every lock file lives in one directory, /run/tidewall (mapped through the host
// layer), which is made 0700 and used only while it is a real directory owned by
// the effective user (root on a node) that nobody else can write: another account
// can then neither hold a lock, plant a link at its name nor fill the directory.
// Lock files are opened without following links, mode 0600, checked with fstat,
// and acquired with a bounded wait (LOCK_NB retried through the host layer's
// sleep, so the unit tier never waits for real).

#include <string>
#include <sys/types.h>

namespace tidewall::locks {

// The lock directory as a mapped path, made when missing; 0, or an errno value
// (EPERM when it exists but is not safe to use: not a directory, a link, another
// owner, or writable by group or others).
int lock_directory(std::string& dir);

// The root-only directory for the library's own state, backups and scratch
// files: /var/lib/tidewall (mapped), made 0700 when missing and checked as the
// lock directory is. 0 or an errno value (EPERM: not safe to use).
int state_directory(std::string& dir);

// A file in dir is safe to hold a lock on, or to keep private state in: a
// regular file owned by the effective user, not writable by group or others.
bool safe_private_file(int fd);

// An exclusive flock on <lock directory>/<name>, held for the object's lifetime.
// name is one path component. wait_ms bounds the wait for another holder
// (0: one try), retried every retry_ms. The holder's pid is written into the
// file, so a caller that times out can say who holds it.
class held_lock {
public:
    held_lock(const std::string& name, unsigned wait_ms, unsigned retry_ms = 50);
    ~held_lock();
    held_lock(const held_lock&) = delete;
    held_lock& operator=(const held_lock&) = delete;

    bool held() const { return fd_ >= 0; }
    // 0 when held; EWOULDBLOCK when another holder kept it past the wait; else
    // the errno of what failed (EPERM: the directory or file is not safe).
    int error() const { return error_; }
    // The pid the other holder recorded, 0 when unknown (only after EWOULDBLOCK).
    pid_t holder() const { return holder_; }
    // Plain words for a message: "held by pid 123", "the lock directory
    // /run/tidewall is not safe to use", ...
    std::string why() const;
    // Drops the lock before the object ends.
    void release();

private:
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
    pid_t holder_ = 0;
};

// The lock name of one object of a kind, "<kind>.<what, encoded>.lock": what
// (a file's path, say) becomes one path component in which every byte other
// than a letter, digit, '.', '-' or '_' is written as %XX, so two objects never
// share a lock; a name too long for the file system is shortened to a hash.
std::string lock_name_for(const std::string& kind, const std::string& what);

// The operations of which only one of a kind may run on a node at a time.
enum class operation { provisioning, metadata_configure, first_boot, tuning, pruning, stamp_repair };

// Default bound on waiting for the same operation in another process.
constexpr unsigned kOperationWaitMs = 30000;

// Holds the node-wide lock of one kind of operation. When it cannot, message()
// says why in the words twctl prints: "another provisioning is running (pid 123)".
class operation_lock {
public:
    explicit operation_lock(operation op, unsigned wait_ms = kOperationWaitMs);
    bool held() const { return lock_.held(); }
    std::string message() const;

private:
    operation op_;
    held_lock lock_;
};

// The name of an operation as it appears in messages ("provisioning",
// "metadata configure", "first boot", "tuning", "pruning", "stamp repair").
const char* operation_name(operation op);

}  // namespace tidewall::locks

#endif
