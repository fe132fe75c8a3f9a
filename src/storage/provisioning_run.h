#ifndef TIDEWALL_STORAGE_PROVISIONING_RUN_H
#define TIDEWALL_STORAGE_PROVISIONING_RUN_H

// One provisioning run under the provisioning lock: the recorded disks first,
// then the new ones. The slot scan, the survey and the settings are read once a
// run, so that a disk's work does not grow with the disks already on the node.
// Each disk is recorded before its first wipe; a recorded disk is finished
// from where its record stands, or left alone when it is no longer the disk
// the record names.

#include <tidewall/tw_debug.h>
#include <tidewall/tw_storage.h>

#include "storage/provisioning_intent.h"

#include <functional>
#include <list>
#include <string>
#include <vector>

namespace tidewall::storage {

class provisioning_run {
public:
    using outcome = tw_storage::provisioning_outcome;

    provisioning_run(tw_storage& storage, tw_debug& log, const char* tag) : s_(storage), log_(log), tag_(tag) {}

    // Loads the record and the settings; 0, or -1 with why.
    int begin(std::string& why);

    bool has_records() const { return !records_.empty(); }

    // Finishes every recorded disk; their outcomes are appended.
    void finish_recorded(std::list<outcome>& outcomes, const std::function<void(const outcome&)>& finished);

    // The slots of this run follow the highest directory and the highest slot
    // still recorded (a recorded disk that is gone keeps its slot).
    void choose_first_slot();

    std::string next_mount_path() const { return prefix_ + std::to_string(slot_ + 1); }

    // A new disk at the next slot; verdict is the survey's of it (null: gone).
    outcome provision_new(const tsaf_blkdev_basic_info& disk, bool record_fstab, const tsaf_blkdev_verdict* verdict);

private:
    provisioning_intent_record* find(const std::string& dev);
    bool save(std::string& why);
    void drop(const std::string& dev);
    // A step failed: the record keeps the disk and says why, and the next run
    // retries it at the same slot.
    outcome& fail(outcome& o, const std::string& step, const std::string& why, int rc);
    // Takes up a recorded disk where its run stopped.
    outcome resume(const std::string& dev);
    // The steps of one recorded disk from where its record stands.
    outcome carry_out(outcome& o);

    tw_storage& s_;
    tw_debug& log_;
    const char* tag_;
    std::vector<provisioning_intent_record> records_;
    std::string fstype_, options_, prefix_;
    unsigned slot_ = 0;
};

}  // namespace tidewall::storage

#endif
