// What one pruning run would remove now: the same locations, settings and
// rules as tw_prune::prune_crash_dumps, with a walk that only looks.

#include <tidewall/tw_preview.h>
#include <tidewall/tw_prune.h>

#include "foundation/host/host_backend.h"
#include "foundation/compat/tsaf_utils.h"

#include <sys/stat.h>

#include <ctime>
#include <ftw.h>
#include <map>
#include <mutex>
#include <set>

namespace {

// As the pruner reads them: the default when absent or not starting with a digit.
unsigned long number_key(const char* key, unsigned long fallback) {
    std::string text;
    if (tsaf_utils::get_reg_key(key, text) != 0) return fallback;
    std::string t = tsaf_utils::trim(text);
    return t.empty() || t[0] < '0' || t[0] > '9' ? fallback : tsaf_utils::string_to_ulong(t);
}

// The walk's callback takes no context.
struct walk_state {
    std::time_t start = 0;
    unsigned long long expiry = 0;
    unsigned min_free_percent = 0;
    bool dirs = false;
    std::string root_system, root_mapped;
    std::map<dev_t, int> short_of_space;
    std::set<std::string> noted, dir_set;
    std::vector<std::string> files;
};
walk_state* g_walk = nullptr;
std::mutex g_walk_mutex;

int short_of_space(walk_state& s, dev_t dev, const std::string& file) {
    auto known = s.short_of_space.find(dev);
    if (known != s.short_of_space.end()) return known->second;
    unsigned long total = 0, free = 0;
    int verdict = -1;
    if (tsaf_utils::get_fs_usage(file, total, free) == 0 && total > 0)
        verdict = static_cast<unsigned __int128>(free) * 100 / total < s.min_free_percent ? 1 : 0;
    return s.short_of_space[dev] = verdict;
}

int note(const char* mapped, const struct stat* st, int type, struct FTW*) {
    if (type != FTW_F || !S_ISREG(st->st_mode)) return 0;
    walk_state& s = *g_walk;
    std::string file = s.root_system + (mapped + s.root_mapped.size());
    unsigned long long age = st->st_mtime < s.start ? static_cast<unsigned long long>(s.start - st->st_mtime) : 0;
    bool due = age >= s.expiry || short_of_space(s, st->st_dev, file) == 1;
    if (!due || !s.noted.insert(file).second) return 0;
    s.files.push_back(file);
    std::string dir = tsaf_utils::dirname(file);
    if (s.dirs && dir != s.root_system) s.dir_set.insert(dir);
    return 0;
}

} // namespace

tw_prune_preview tw_preview_prune() {
    tw_prune_preview out;
    tw_prune pruner;
    pruner.form_prune_set();  // only reads the registry
    out.locations = pruner.locations();

    std::lock_guard<std::mutex> lock(g_walk_mutex);
    walk_state s;
    s.start = tsaf_utils::now();
    const unsigned long hours = number_key("nArrowfieldDumpValidityHours", 120);
    s.expiry = hours > ~0ULL / 3600 ? ~0ULL : static_cast<unsigned long long>(hours) * 3600;
    const unsigned long percent = number_key("nArrowfieldMinFreeSpacePercent", 10);
    s.min_free_percent = percent > 0xffffffffUL ? 0xffffffffU : static_cast<unsigned>(percent);
    g_walk = &s;
    for (const auto& [loc, dirs] : out.locations) {
        s.dirs = dirs;
        s.root_system = loc;
        while (s.root_system.size() > 1 && s.root_system.back() == '/') s.root_system.pop_back();
        s.root_mapped = tidewall::host::path(s.root_system);
        ::nftw(s.root_mapped.c_str(), note, 32, FTW_PHYS);
    }
    g_walk = nullptr;
    out.files = s.files;
    // Deepest first, never a walked location itself, as the run removes them.
    for (auto it = s.dir_set.rbegin(); it != s.dir_set.rend(); ++it)
        if (!out.locations.count(*it)) out.dirs.push_back(*it);
    return out;
}
