// The file-system check's scratch directory: a name of its own for every run,
// the clean-up of what a check made, and the removal of what an interrupted
// check left behind.

#include "storage/io/io_internal.h"

#include <tidewall/tw_fs_cleaner.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tidewall::storage::io {

namespace {

bool all_digits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process id of a scratch directory name, 0 for the old fixed name, -1
// for a name the check does not make.
long scratch_owner(const std::string& name) {
    if (name == kScratchPrefix) return 0;
    const std::string head = std::string(kScratchPrefix) + ".";
    if (name.compare(0, head.size(), head) != 0) return -1;
    const std::string rest = name.substr(head.size());
    const size_t dot = rest.find('.');
    if (dot == std::string::npos || !all_digits(rest.substr(0, dot)) || !all_digits(rest.substr(dot + 1))) return -1;
    return std::strtol(rest.substr(0, dot).c_str(), nullptr, 10);
}

std::vector<std::string> entries_of(const std::string& real_dir) {
    std::vector<std::string> names;
    tidewall::file_io::list_dir(real_dir, names);
    return names;
}

// What is at a mapped path, links not followed; false when nothing is.
bool entry_at(const std::string& real, struct stat& st) { return ::lstat(real.c_str(), &st) == 0; }

bool is_real_dir(const std::string& real) {
    struct stat st {};
    return entry_at(real, st) && S_ISDIR(st.st_mode);
}

// Whether a directory holds nothing but what the check makes: an inner
// test_dir, and in it test_file.txt no larger than the check writes.
bool holds_only_check_files(const std::string& real_dir) {
    if (!is_real_dir(real_dir)) return false;
    auto outer = entries_of(real_dir);
    if (outer.empty()) return true;
    if (outer.size() != 1 || outer[0] != kScratchPrefix || !is_real_dir(real_dir + "/" + kScratchPrefix)) return false;
    auto inner = entries_of(real_dir + "/" + kScratchPrefix);
    if (inner.empty()) return true;
    if (inner.size() != 1 || inner[0] != "test_file.txt") return false;
    struct stat st {};
    return entry_at(real_dir + "/" + kScratchPrefix + "/test_file.txt", st) && S_ISREG(st.st_mode) &&
           static_cast<unsigned long long>(st.st_size) <= kCheckEntries * sizeof(unsigned);
}

}  // namespace

std::string scratch_name() {
    static std::atomic<unsigned> runs{0};
    return std::string(kScratchPrefix) + "." + std::to_string(::getpid()) + "." + std::to_string(++runs);
}

// A check cut short (power loss, kill) leaves its scratch directory behind.
// Such a leftover is removed when nothing but the check's own files are in it
// and the process that made it is gone; anything else there is left alone.
void remove_check_leftovers(tw_debug& log, const std::string& mnt_path) {
    const char* tag = "tw_storage::check_file_system";
    const std::string real = tidewall::host::path(mnt_path);
    for (const auto& name : entries_of(real)) {
        const long owner = scratch_owner(name);
        if (owner < 0) continue;
        if (owner > 0 && (owner == ::getpid() || tsaf_utils::is_dir("/proc/" + std::to_string(owner)))) continue;
        const std::string leftover = mnt_path + "/" + name;
        if (!holds_only_check_files(real + "/" + name)) continue;
        if (CZuDirectory::Remove(leftover, true).IsFailure())
            log.logMessage(tag, tidewall::log_level::step, "Failed to remove [%s] left by an earlier check",
                           leftover.c_str());
        else
            log.logMessage(tag, tidewall::log_level::step, "Removed [%s] left by an earlier check", leftover.c_str());
    }
}

// The only user of the pruner's cleaner here: it removes its entries, highest
// order first, when it goes.
scratch_cleanup::scratch_cleanup() : cleaner_(new tw_fs_cleaner) {}

scratch_cleanup::~scratch_cleanup() = default;

void scratch_cleanup::add(const std::string& path, const char* kind) {
    if (!cleaner_) return;
    tw_fs_cleaning_info entry(path, kind, ++order_);
    cleaner_->add_cleanup_entry(entry);
}

// The cleaner is let go without its turn, on purpose: its destructor would
// remove the entries.
void scratch_cleanup::abandon() { (void)cleaner_.release(); }

}  // namespace tidewall::storage::io
