// The crash-dump pruner: which dump files are due (by age or by the free space of
// their file system), their removal, and the removal of the emptied directories.

#include <tidewall/tw_prune.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/status.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"
#include "prune/noted_tree.h"
#include "prune/walk_only.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

const char* const kDefaultKdumpLoc = "/var/crash";  // sArrowfieldKdumpLoc
const unsigned long kDefaultValidityHours = 120;  // nArrowfieldDumpValidityHours
const unsigned long kDefaultMinFreePercent = 10;  // nArrowfieldMinFreeSpacePercent
// Deeper directories are not walked: each level holds one descriptor open.
const int kMaxDepth = 128;

namespace tp = tidewall::prune;

// A due file as the walk saw it: its path for the log, and where it lies for
// the removal (its directory in the noted tree, its name, its identity).
struct noted_file {
    std::string path;
    size_t dir;
    std::string name;
    tp::identity id;
};

// What the steps of a run share, process-wide: the settings of the run, the
// walk in progress and what it found. One run at a time per
// process; the mutex keeps a second thread out rather than letting it corrupt
// the lists.
struct prune_state {
    std::time_t scan_start = 0;
    unsigned long long expiry = 0;
    unsigned min_free_percent = 0;
    bool prune_dirs = false;

    std::list<noted_file> prune_paths;  // walk order
    std::unordered_set<std::string> noted;  // prune_paths, for nested locations walked twice
    std::map<std::string, size_t> prune_dirs_set;  // path -> its entry in the tree
    std::set<std::string> ignore_dirs;
    tp::noted_tree tree;

    // The walk in progress: its location as the system names it, and the file
    // system it lies on (the walk never leaves it).
    std::string root_system;
    dev_t root_dev = 0;

    // Whether a file system (by device number) is short of free space: asked
    // once per file system in a run. 1 short, 0 not, -1 could not be asked.
    std::map<dev_t, int> short_of_space;
    bool in_run = false;
    tw_debug* log = nullptr;
};

prune_state& state() {
    static prune_state s;
    return s;
}

std::recursive_mutex& state_mutex() {
    static std::recursive_mutex m;
    return m;
}

std::string without_trailing_slashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// A numeric registry key as the pruner reads it: the default when the key is
// absent or its value does not begin with a digit (a garbled validity must not
// turn into 0 hours and remove every dump).
unsigned long read_number_key(tw_debug& log, const char* tag, const char* key, unsigned long fallback) {
    std::string text;
    if (tsaf_utils::get_reg_key(key, text) != 0) return fallback;
    std::string t = tsaf_utils::trim(text);
    if (t.empty() || t[0] < '0' || t[0] > '9') {
        log.logMessage(tag, tidewall::log_level::failure, "Registry key [%s] value [%s] is not a number, using [%lu]",
                       key, text.c_str(), fallback);
        return fallback;
    }
    return tsaf_utils::string_to_ulong(t);
}

int short_of_space(prune_state& s, dev_t dev, const std::string& file) {
    auto known = s.short_of_space.find(dev);
    if (known != s.short_of_space.end()) return known->second;
    unsigned long total = 0, free = 0;
    int verdict = -1;
    if (tsaf_utils::get_fs_usage(file, total, free) == 0 && total > 0) {
        // 128 bits: free x 100 must not wrap on the largest file systems.
        unsigned __int128 percent = static_cast<unsigned __int128>(free) * 100 / total;
        verdict = percent < s.min_free_percent ? 1 : 0;
    }
    s.short_of_space[dev] = verdict;
    return verdict;
}

void note_if_due(prune_state& s, const std::string& file, const struct stat& st, size_t dir, const std::string& name) {
    // A file dated after the run began (a clock that stepped back) is new, not
    // ancient: its age counts as 0.
    unsigned long long age =
        st.st_mtime < s.scan_start ? static_cast<unsigned long long>(s.scan_start - st.st_mtime) : 0;
    bool due = age >= s.expiry;
    if (!due) due = short_of_space(s, st.st_dev, file) == 1;
    if (!due || !s.noted.insert(file).second) return;
    s.prune_paths.push_back({file, dir, name, tp::identity_of(st)});
    if (s.log)
        s.log->logMessage("tw_prune::scan_and_prune", tidewall::log_level::trace,
                          "Dump file [%s] age [%llu] seconds is due", file.c_str(), age);
    // The location itself stays: kdump writes its next dump there.
    if (s.prune_dirs && s.tree.at(dir).parent != tp::kNoParent)
        s.prune_dirs_set.emplace(s.tree.at(dir).system_path, dir);
}

// Walks the directory open at fd (entry dir of the tree) by descriptors:
// nothing is reached through a link, and nothing on another file system.
void walk(prune_state& s, int fd, size_t dir, int depth) {
    std::vector<std::string> names;
    int listing = ::dup(fd);
    DIR* d = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!d) {
        if (listing >= 0) ::close(listing);
        if (s.log)
            s.log->logMessage("tw_prune::scan_and_prune", tidewall::log_level::failure,
                              "Failed to read directory [%s] error [%s]", s.tree.at(dir).system_path.c_str(),
                              std::strerror(errno));
        return;
    }
    while (struct dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    const std::string base = s.tree.at(dir).system_path;
    for (const auto& name : names) {
        const std::string path = base + "/" + name;
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
        if (S_ISREG(st.st_mode)) {
            note_if_due(s, path, st, dir, name);
            continue;
        }
        if (!S_ISDIR(st.st_mode)) continue;
        if (st.st_dev != s.root_dev) {
            if (s.log)
                s.log->logMessage("tw_prune::scan_and_prune", tidewall::log_level::detail,
                                  "[%s] is another file system: not walked", path.c_str());
            continue;
        }
        if (depth >= kMaxDepth) {
            if (s.log)
                s.log->logMessage("tw_prune::scan_and_prune", tidewall::log_level::failure,
                                  "[%s] is too deep: not walked", path.c_str());
            continue;
        }
        int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        if (sub < 0) continue;  // swapped for a link or gone meanwhile: not walked
        struct stat opened {};
        if (::fstat(sub, &opened) == 0 && tp::same(tp::identity_of(opened), tp::identity_of(st)))
            walk(s, sub, s.tree.add(static_cast<long>(dir), name, path, tp::identity_of(st)), depth + 1);
        ::close(sub);
    }
}

// A run's start: empty lists (what an earlier run noted is gone or kept for a
// reason that no longer holds) and the clock that ages the dumps.
void begin_run(prune_state& s) {
    s.prune_paths.clear();
    s.noted.clear();
    s.prune_dirs_set.clear();
    s.ignore_dirs.clear();
    s.short_of_space.clear();
    s.tree.clear();
    s.scan_start = tsaf_utils::now();
}

// Outside a run, walks alone ask the file systems afresh (see scan_and_prune).
struct run_mark {
    bool& flag;
    explicit run_mark(bool& f) : flag(f) { flag = true; }
    ~run_mark() { flag = false; }
};

// The settings, the locations and one walk of each: what the removals, or the
// walk-only listing, then act on.
void read_settings_and_walk(tw_prune& pruner) {
    pruner.get_kernel_crashdump_validity();
    pruner.get_min_freespace_percentage();
    pruner.form_prune_set();
    for (const auto& [loc, dirs] : pruner.locations()) pruner.scan_and_prune(loc, dirs);
}

// The noted directories to try, deepest first: a directory sorts after every
// prefix of it, so in reverse order a noted directory inside another noted one
// goes before it, and the outer one is empty by the time its turn comes. A
// directory whose file could not be removed, or a walked location, is not tried.
template <typename Visit>
void for_each_dir_to_try(const prune_state& s, const std::map<std::string, bool>& locations, Visit visit) {
    for (auto it = s.prune_dirs_set.rbegin(); it != s.prune_dirs_set.rend(); ++it)
        if (!s.ignore_dirs.count(it->first) && !locations.count(it->first)) visit(it->first, it->second);
}

}  // namespace

tidewall::prune::would_remove tidewall::prune::walk_only(tw_prune& pruner) {
    std::lock_guard<std::recursive_mutex> lock(state_mutex());
    prune_state& s = state();
    begin_run(s);
    run_mark mark(s.in_run);
    read_settings_and_walk(pruner);
    would_remove out;
    for (const auto& file : s.prune_paths) out.files.push_back(file.path);
    for_each_dir_to_try(s, pruner.locations(), [&](const std::string& dir, size_t) { out.dirs.push_back(dir); });
    return out;
}

tw_prune::tw_prune() { log_.logMessage("tw_prune::tw_prune", tidewall::log_level::step, "Creating tw_prune instance"); }

tw_prune::~tw_prune() {
    log_.logMessage("tw_prune::~tw_prune", tidewall::log_level::step, "Cleaning tw_prune instance");
}

int tw_prune::prune_crash_dumps() {
    tidewall::call_scope scope;  // the reason of a failure is this call's
    std::lock_guard<std::recursive_mutex> lock(state_mutex());
    error_.clear();
    removed_files_ = failed_files_ = removed_dirs_ = failed_dirs_ = 0;
    // One pruning a node at a time: two would count each other's removals.
    tidewall::locks::operation_lock node_wide(tidewall::locks::operation::pruning);
    if (!node_wide.held()) {
        error_ = node_wide.message();
        log_.logMessage("tw_prune::prune_crash_dumps", tidewall::log_level::failure, "%s", error_.c_str());
        return 1;
    }
    prune_state& s = state();
    begin_run(s);
    run_mark mark(s.in_run);
    read_settings_and_walk(*this);
    prune_files();
    prune_dirs();
    prune_ovirt_crash_dumps();
    return 0;
}

int tw_prune::get_kernel_crashdump_loc(std::string& loc) { return tsaf_utils::get_reg_key("sArrowfieldKdumpLoc", loc); }

void tw_prune::get_kernel_crashdump_validity() {
    const char* tag = "tw_prune::get_kernel_crashdump_validity";
    unsigned long hours = read_number_key(log_, tag, "nArrowfieldDumpValidityHours", kDefaultValidityHours);
    log_.logMessage(tag, tidewall::log_level::failure, "Will prune the crash dumps older than [%lu] hours", hours);
    std::lock_guard<std::recursive_mutex> lock(state_mutex());
    const unsigned long long most = ~0ULL / 3600;
    state().expiry = hours > most ? ~0ULL : static_cast<unsigned long long>(hours) * 3600;
}

int tw_prune::get_min_freespace_percentage() {
    const char* tag = "tw_prune::get_min_freespace_percentage";
    unsigned long percent = read_number_key(log_, tag, "nArrowfieldMinFreeSpacePercent", kDefaultMinFreePercent);
    unsigned value = percent > 0xffffffffUL ? 0xffffffffU : static_cast<unsigned>(percent);
    log_.logMessage(tag, tidewall::log_level::failure,
                    "Will prune the crash dumps if the file system free space is less than [%u] percentage", value);
    std::lock_guard<std::recursive_mutex> lock(state_mutex());
    state().min_free_percent = value;
    return 0;
}

void tw_prune::form_prune_set() {
    const char* tag = "tw_prune::form_prune_set";
    prune_locations_.clear();
    dir_flags_.clear();
    std::string loc;
    if (get_kernel_crashdump_loc(loc) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to determine the KDUMP location");
        loc = kDefaultKdumpLoc;
    } else if (loc.empty() || loc[0] != '/') {
        // A relative location would be walked from wherever the caller stands.
        log_.logMessage(tag, tidewall::log_level::failure, "KDUMP location [%s] is not an absolute path", loc.c_str());
        loc = kDefaultKdumpLoc;
    }
    loc = without_trailing_slashes(loc);
    log_.logMessage(tag, tidewall::log_level::failure, "Will prune the contents of [%s]", loc.c_str());
    for (const auto& [path, flag] :
         {std::pair<std::string, bool>{loc, true}, {"/var/crash", true}, {"/var/log/core", false}}) {
        prune_locations_.insert(path);
        dir_flags_.emplace(path, flag);  // a location named twice keeps its first flag
    }
}

int tw_prune::scan_and_prune(std::string path, bool prune_dirs) {
    const char* tag = "tw_prune::scan_and_prune";
    log_.logMessage(tag, tidewall::log_level::step, "Received new prune request [%s:%s] ", path.c_str(),
                    prune_dirs ? "true" : "false");
    std::lock_guard<std::recursive_mutex> lock(state_mutex());
    prune_state& s = state();
    // Outside a run the file systems are asked afresh on each walk.
    if (!s.in_run) s.short_of_space.clear();
    s.prune_dirs = prune_dirs;
    s.root_system = without_trailing_slashes(path);
    const std::string mapped = tidewall::host::path(s.root_system);
    // A location that is a link is not walked, as no link inside one is.
    int fd = ::open(mapped.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        int err = errno;
        if (fd >= 0) ::close(fd);
        if (err == ENOENT)
            log_.logMessage(tag, tidewall::log_level::detail, "Prune location [%s] does not exist",
                            s.root_system.c_str());
        else
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to walk prune location [%s] error [%s]",
                            s.root_system.c_str(), std::strerror(err));
        return -1;
    }
    s.root_dev = st.st_dev;
    s.log = &log_;
    walk(s, fd, s.tree.add(tp::kNoParent, mapped, s.root_system, tp::identity_of(st)), 1);
    s.log = nullptr;
    ::close(fd);
    return 0;
}

void tw_prune::prune_files() {
    const char* tag = "tw_prune::prune_files";
    std::lock_guard<std::recursive_mutex> lock(state_mutex());
    prune_state& s = state();
    tp::dir_reopener dirs(s.tree);
    for (const auto& file : s.prune_paths) {
        std::string where;
        int err = 0;
        tp::outcome done = tp::remove_noted(dirs, file.dir, file.name, file.id, false, where, err);
        if (done == tp::outcome::done) {
            ++removed_files_;
            log_.logMessage(tag, tidewall::log_level::step, "Successfully removed file [%s]", file.path.c_str());
            continue;
        }
        if (done == tp::outcome::gone) {
            // Another pruner (or an operator) was faster: nothing failed, and its
            // directory may still be emptied.
            log_.logMessage(tag, tidewall::log_level::step, "Dump file [%s] was already removed by someone else",
                            file.path.c_str());
            continue;
        }
        ++failed_files_;
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to remove the file [%s]", file.path.c_str());
        if (done == tp::outcome::swapped)
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Left [%s] alone: [%s] is no longer what the walk saw (a link or another file now)",
                            file.path.c_str(), where.empty() ? file.path.c_str() : where.c_str());
        else
            log_.logMessage(tag, tidewall::log_level::detail, "error [%s]", std::strerror(err));
        s.ignore_dirs.insert(tsaf_utils::dirname(file.path));
    }
}

void tw_prune::prune_dirs() {
    const char* tag = "tw_prune::prune_dirs";
    std::lock_guard<std::recursive_mutex> lock(state_mutex());
    prune_state& s = state();
    tp::dir_reopener dirs(s.tree);
    for_each_dir_to_try(s, dir_flags_, [&](const std::string& dir, size_t at) {
        const tp::noted_dir& noted = s.tree.at(at);
        std::string where;
        int err = 0;
        tp::outcome done =
            tp::remove_noted(dirs, static_cast<size_t>(noted.parent), noted.name, noted.id, true, where, err);
        if (done == tp::outcome::done) {
            ++removed_dirs_;
            log_.logMessage(tag, tidewall::log_level::step, "Successfully removed directory [%s]", dir.c_str());
        } else if (done == tp::outcome::gone) {
            log_.logMessage(tag, tidewall::log_level::step, "Directory [%s] was already removed by someone else",
                            dir.c_str());
        } else {
            ++failed_dirs_;
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to remove directory [%s]", dir.c_str());
            if (done == tp::outcome::swapped)
                log_.logMessage(tag, tidewall::log_level::failure,
                                "Left [%s] alone: [%s] is no longer what the walk saw (a link or another file now)",
                                dir.c_str(), where.empty() ? dir.c_str() : where.c_str());
        }
    });
}
