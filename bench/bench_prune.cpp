// The crash-dump pruner's walk against find, measured in one run on the same
// tree of 100,000 files (1,000 directories of 100): scan_and_prune, which stats
// every file, judges its age and asks its file system's usage once, against
// `find -type f -mtime +4`, which does the same stat-and-compare work.
//
//   bench_prune [DIR]      DIR default /var/tmp; the tree is made and removed there
//
// Nothing is removed from the tree: the walk only notes due dumps, and none is due.

#include <tidewall/tw_prune.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

template <typename F> double timed(F f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : "/var/tmp";
    std::string tree = dir + "/tw-bench-prune";
    fs::remove_all(tree);
    for (int d = 0; d < 1000; ++d) {
        std::string sub = tree + "/127.0.0.1-" + std::to_string(d);
        fs::create_directories(sub);
        for (int f = 0; f < 100; ++f) std::ofstream(sub + "/vmcore." + std::to_string(f)) << 'x';
    }
    tw_prune p;
    p.get_kernel_crashdump_validity();
    p.get_min_freespace_percentage();
    std::string find = "find " + tree + " -type f -mtime +4 -print > /dev/null";
    // Warm the caches once for both, then alternate.
    p.scan_and_prune(tree, true);
    if (std::system(find.c_str()) != 0) return 1;
    std::vector<double> ours, theirs;
    for (int round = 0; round < 5; ++round) {
        ours.push_back(timed([&] { p.scan_and_prune(tree, true); }));
        theirs.push_back(timed([&] { (void)std::system(find.c_str()); }));
    }
    fs::remove_all(tree);
    double o = median(ours), t = median(theirs);
    std::printf("walk of 100000 files in %s (median of 5, warm cache)\n", dir.c_str());
    std::printf("  tw_prune::scan_and_prune: %.3f s (%.0f files/s)\n", o, 100000 / o);
    std::printf("  find -type f -mtime +4:   %.3f s (%.0f files/s)   ratio find/ours %.2f\n", t, 100000 / t, t / o);
    return 0;
}
