#ifndef TIDEWALL_PRUNE_NOTED_TREE_H
#define TIDEWALL_PRUNE_NOTED_TREE_H

// What the pruner's walk saw, kept so that the removals later act on exactly
// that: every directory walked, by its parent, its name and its device and
// inode. A removal opens the directories again level by level from the
// location down (never following a link), checks each is still the one the walk
// noted, and removes the entry through that descriptor only when it, too, is
// still the one noted. Whoever can write in a dump directory can then swap an
// entry for a link to /etc, but cannot make root remove anything there.

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace tidewall::prune {

struct identity {
    dev_t dev = 0;
    ino_t ino = 0;
};

inline identity identity_of(const struct stat& st) { return {st.st_dev, st.st_ino}; }
inline bool same(const identity& a, const identity& b) { return a.dev == b.dev && a.ino == b.ino; }

constexpr long kNoParent = -1;

struct noted_dir {
    long parent = kNoParent;  // index of the parent, kNoParent for a walked location
    std::string name;  // one component; for a location its whole mapped path
    std::string system_path;  // as the log names it
    identity id;
};

class noted_tree {
public:
    size_t add(long parent, std::string name, std::string system_path, const identity& id);
    const noted_dir& at(size_t i) const { return dirs_[i]; }
    size_t size() const { return dirs_.size(); }
    void clear() { dirs_.clear(); }

private:
    std::vector<noted_dir> dirs_;
};

// Outcome of opening or removing what the walk noted.
enum class outcome { done, gone, swapped, failed };

// Opens noted directories again, keeping the chain of the last one open so that
// removals in walk order open each directory once.
class dir_reopener {
public:
    explicit dir_reopener(const noted_tree& tree) : tree_(tree) {}
    ~dir_reopener();
    dir_reopener(const dir_reopener&) = delete;
    dir_reopener& operator=(const dir_reopener&) = delete;

    // A descriptor of directory i (owned by the reopener), or -1 with the
    // outcome: gone (a level no longer exists), swapped (a level is a link or
    // another file now; where names its system path) or failed (err).
    int open(size_t i, outcome& why, std::string& where, int& err);

private:
    void close_from(size_t depth);
    const noted_tree& tree_;
    std::vector<std::pair<size_t, int>> chain_;  // (index, fd) from the location down
};

// Removes the entry name of noted directory dir when it is still the one noted
// (id), as a directory when directory is set, else as a regular file. where
// names the level that was swapped (empty: the entry itself); err the errno of
// a failure (ENOTEMPTY for a directory still in use).
outcome remove_noted(dir_reopener& dirs, size_t dir, const std::string& name, const identity& id, bool directory,
                     std::string& where, int& err);

}  // namespace tidewall::prune

#endif
