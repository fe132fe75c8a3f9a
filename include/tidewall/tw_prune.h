#ifndef TIDEWALL_TW_PRUNE_H
#define TIDEWALL_TW_PRUNE_H

#include <tidewall/export.h>
#include <tidewall/tw_debug.h>
// The deferred remover lived here; callers that include this header still get it.
#include <tidewall/tw_fs_cleaner.h>

#include <map>
#include <set>
#include <string>

// The crash-dump pruner. One run (prune_crash_dumps) walks the kernel crash-dump
// directory (registry sArrowfieldKdumpLoc, default /var/crash), /var/crash and
// /var/log/core, removes every regular file older than the validity period
// (nArrowfieldDumpValidityHours, default 120) or lying on a file system whose
// free space is below nArrowfieldMinFreeSpacePercent (default 10), removes the
// dump directories emptied that way (never under /var/log/core, never a walked
// location itself), then clears the hosted engine's dump directory on its node.
//
// The walk results are process-wide, so that the steps run one by one share
// them: one run at a time per process. Every run starts from empty lists.
// The steps are public so that they can be run one by one.
class TW_API tw_prune {
public:
    tw_prune();
    ~tw_prune();
    tw_prune(const tw_prune&) = delete;
    tw_prune& operator=(const tw_prune&) = delete;

    // One whole run; 0. Failed removals are logged and the run goes on. Runs
    // one at a time on a node: when another pruning holds the node past the
    // wait, nothing is done and the result is 1 (error_message() says why).
    // Removals act only on what the walk saw: an entry swapped meanwhile (for a
    // link, say) is left alone and counted as failed; a file already gone
    // counts as neither removed nor failed.
    int prune_crash_dumps();
    // Why the last run did nothing; empty after a run that ran.
    const std::string& error_message() const { return error_; }

    // The crash-dump directory from the registry; 0, or non-zero when the key
    // cannot be read (loc is then left alone).
    int get_kernel_crashdump_loc(std::string& loc);
    // Reads the free-space percentage below which every dump on a file system
    // goes; 0.
    int get_min_freespace_percentage();
    // Reads the validity period of a dump.
    void get_kernel_crashdump_validity();
    // The locations to walk: the crash-dump directory and /var/crash (emptied
    // directories removed), /var/log/core (directories kept).
    void form_prune_set();
    // Walks path (links not followed, other file systems not entered) and notes
    // every dump file that is due; with prune_dirs its directory as well. The
    // walk's result: 0, or -1 when path cannot be walked.
    int scan_and_prune(std::string path, bool prune_dirs);
    // Removes the noted files; a directory whose file could not be removed is kept.
    void prune_files();
    // Removes the noted directories that are empty now, deepest first.
    void prune_dirs();
    // Removes the files of /var/log/ovirt-engine/dump on the hosted engine's
    // node; 0, or the failure of finding that node.
    int prune_ovirt_crash_dumps();

    // The locations of the last form_prune_set, with their remove-emptied-
    // directories flag.
    const std::map<std::string, bool>& locations() const { return dir_flags_; }
    // What the last run did (counted from its start; the log names each path).
    unsigned removed_files() const { return removed_files_; }
    unsigned failed_files() const { return failed_files_; }
    unsigned removed_dirs() const { return removed_dirs_; }
    unsigned failed_dirs() const { return failed_dirs_; }

private:
    tw_debug log_;
    std::set<std::string> prune_locations_;
    std::map<std::string, bool> dir_flags_;
    unsigned removed_files_ = 0;
    unsigned failed_files_ = 0;
    unsigned removed_dirs_ = 0;
    unsigned failed_dirs_ = 0;
    std::string error_;
};

#endif
