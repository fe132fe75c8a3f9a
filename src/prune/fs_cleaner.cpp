// The deferred remover: files and directories registered during a check are
// removed when the check's scope ends, highest order first.

#include <tidewall/tw_prune.h>

#include "foundation/czu_file.h"

tw_fs_cleaner::tw_fs_cleaner() = default;

void tw_fs_cleaner::add_cleanup_entry(tw_fs_cleaning_info& info) {
    entries_.emplace(info.get_order(), info);
    if (info.get_order() > highest_order_) highest_order_ = info.get_order();
}

tw_fs_cleaner::~tw_fs_cleaner() {
    const char* tag = "tw_fs_cleaner::~tw_fs_cleaner";
    for (int order = highest_order_; order >= 0; --order) {
        auto it = entries_.find(order);
        if (it == entries_.end()) continue;
        const tw_fs_cleaning_info& e = it->second;
        const char* path = e.get_path().c_str();
        log_.logMessage(tag, 0, "Will remove path [%s] type [%s]", path, e.get_type().c_str());
        if (e.get_type() == "dir") {
            // Recursive: whatever a failed step left inside (a half-written test
            // file) goes with the directory.
            if (CZuDirectory::Remove(e.get_path(), true, true).IsSuccess())
                log_.logMessage(tag, 0, "Deleted the directory [%s]", path);
            else
                log_.logMessage(tag, -1, "Failed to delete the directory [%s]", path);
        } else if (e.get_type() == "file") {
            if (CZuFile::Delete(e.get_path(), true).IsSuccess())
                log_.logMessage(tag, 0, "Deleted the file [%s]", path);
            else
                log_.logMessage(tag, -1, "Failed to delete the file [%s]", path);
        }
    }
}
