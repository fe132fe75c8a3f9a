#ifndef TIDEWALL_TW_FS_CLEANER_H
#define TIDEWALL_TW_FS_CLEANER_H

#include <tidewall/export.h>
#include <tidewall/tw_debug.h>

#include <map>
#include <string>

// One entry of a deferred removal: a path, its type ("dir" or "file") and its
// order (higher orders are removed first).
class TW_API tw_fs_cleaning_info {
public:
    tw_fs_cleaning_info(std::string path, std::string type, int order)
        : path_(std::move(path)), type_(std::move(type)), order_(order) {}

    const std::string& get_path() const { return path_; }
    const std::string& get_type() const { return type_; }
    int get_order() const { return order_; }

private:
    std::string path_;
    std::string type_;
    int order_;
};

// Removes the registered files and directories when it goes out of scope, from
// the highest order down to 0, so that whatever a check created is gone however
// the check ends. Register parents with lower orders than their contents.
// A "dir" entry is removed with everything still in it; links inside are
// removed, never followed.
class TW_API tw_fs_cleaner {
public:
    tw_fs_cleaner();
    ~tw_fs_cleaner();
    tw_fs_cleaner(const tw_fs_cleaner&) = delete;
    tw_fs_cleaner& operator=(const tw_fs_cleaner&) = delete;

    // An order already registered keeps its first entry. Negative orders are
    // never removed.
    void add_cleanup_entry(tw_fs_cleaning_info& info);

private:
    tw_debug log_;
    std::map<int, tw_fs_cleaning_info> entries_;
    int highest_order_ = 0;
};

#endif
