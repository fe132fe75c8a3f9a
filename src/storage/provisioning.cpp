// Block-device provisioning: a new, empty disk becomes a data mount path of the
// node. Wipe its partition table, make the data-path file system, mount it at
// the next free numbered mount path and stamp it as the appliance's own. Here:
// the checks before a run, the choice of disks and the entry points; the run
// itself, the per-disk steps and the replacement of a disk by UUID have files
// of their own.

#include <tidewall/tw_storage.h>

#include "foundation/blkdev/blkdevmgr.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/status.h"
#include "foundation/log/log_level.h"
#include "storage/provisioning_intent.h"
#include "storage/provisioning_run.h"

#include <algorithm>
#include <vector>

int tw_storage::check_datapath_target(std::string& why) {
    // Flavour 255 falls back to the Maldor prefix, whose parent a node of the
    // other flavour does not have: every disk would be wiped and none mounted.
    if (get_sds_type() == SDS_UNKNOWN) {
        why =
            "the appliance type of this node is not recorded: set registry key sArrowfieldApplianceType "
            "(section Dockwright)";
        return -1;
    }
    std::string prefix = get_datapath_prefix();
    const char* key =
        get_sds_type() == SDS_GLUSTERFS ? "sTidewallDataPathMountPathPrefix" : "sTidewallMaldorDataPathMountPathPrefix";
    size_t slash = prefix.rfind('/');
    std::string parent = slash == std::string::npos || slash == 0 ? "/" : prefix.substr(0, slash);
    if (prefix.empty() || prefix[0] != '/' || !tsaf_utils::is_dir(parent)) {
        why = "the directory [" + parent + "] of the data mount-path prefix [" + prefix +
              "] does not exist: create it or set registry key " + key + " (section Dockwright)";
        return -1;
    }
    return 0;
}

namespace {

using tidewall::storage::provisioning_run;
using outcome = tw_storage::provisioning_outcome;
using disk_list = std::list<tsaf_blkdev_basic_info>;

// The whole run: lock, checks, recorded disks, then the new disks (all of them
// when only is null). -1 when nothing could be started.
int run_provisioning(tw_storage& s, tw_debug& log, const char* tag, const disk_list* only, bool record_fstab,
                     std::list<outcome>& outcomes, const std::function<void(const outcome&, size_t, size_t)>& starting,
                     const std::function<void(const outcome&)>& finished) {
    outcomes.clear();
    auto refuse = [&](const std::string& why) {
        outcome o;
        o.skipped = true;
        o.rc = -1;
        o.message = why;
        outcomes.push_back(o);
        return -1;
    };
    tidewall::storage::provisioning_hold hold;
    if (!hold.held()) {
        log.logMessage(tag, tidewall::log_level::failure, "Provisioning refused: %s", hold.message().c_str());
        return refuse(hold.message());
    }
    provisioning_run run(s, log, tag);
    std::string why;
    if (run.begin(why) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "Provisioning refused: %s", why.c_str());
        return refuse(why);
    }
    tsaf_blkdevmgr manager;
    std::list<tsaf_blkdev_verdict> verdicts;
    disk_list news;
    auto survey = [&]() {
        if (only && only->size() == 1) {
            // One disk judged alone: a caller provisioning disk by disk does
            // not read every other disk of the node each time.
            tsaf_blkdev_verdict v;
            int rc = manager.survey_disk(only->front().get_devpath(), v);
            verdicts.assign(1, v);
            news.clear();
            if (rc != 0) return false;
            if (v.get_is_new()) news.push_back(v.get_info());
            return true;
        }
        if (manager.enumerate_blkdevs(false) != 0 || manager.survey_disks(verdicts) != 0) return false;
        news.clear();
        for (const auto& v : verdicts)
            if (v.get_is_new() && (!only || std::any_of(only->begin(), only->end(), [&](const auto& d) {
                    return d.get_devpath() == v.get_info().get_devpath();
                })))
                news.push_back(v.get_info());
        return true;
    };
    if (!run.has_records() && !survey()) {
        log.logMessage(tag, tidewall::log_level::step, "Failed to detect new disks on the server");
        return refuse("cannot tell which disks are in use");
    }
    if ((run.has_records() || !news.empty() || (only && !only->empty())) && s.check_datapath_target(why) != 0) {
        // Checked before the first wipe: a disk that cannot be mounted
        // afterwards would only have lost what it held.
        log.logMessage(tag, tidewall::log_level::failure, "New disks cannot become data mount paths: %s", why.c_str());
        for (const auto& disk : only ? *only : news)
            log.logMessage(tag, tidewall::log_level::failure, "Block device %s left untouched: %s",
                           disk.get_devpath().c_str(), why.c_str());
        return refuse("new disks cannot become data mount paths: " + why);
    }
    if (run.has_records()) {
        run.finish_recorded(outcomes, finished);
        // The recorded disks were judged by their record; the rest afresh.
        if (!survey()) {
            log.logMessage(tag, tidewall::log_level::step, "Failed to detect new disks on the server");
            outcomes.push_back(outcome{});
            outcomes.back().skipped = true;
            outcomes.back().rc = -1;
            outcomes.back().message = "cannot tell which disks are in use";
            return 1;
        }
    }
    run.choose_first_slot();
    const disk_list& targets = only ? *only : news;
    size_t index = 0;
    for (const auto& disk : targets) {
        // A recorded disk was finished above, as the first thing of the run.
        if (std::any_of(outcomes.begin(), outcomes.end(),
                        [&](const outcome& o) { return o.resumed && o.device == disk.get_devpath(); }))
            continue;
        const tsaf_blkdev_verdict* verdict = nullptr;
        for (const auto& v : verdicts)
            if (v.get_info().get_devpath() == disk.get_devpath()) verdict = &v;
        if (starting) {
            outcome next;
            next.device = disk.get_devpath();
            next.mnt_path = run.next_mount_path();
            starting(next, index, targets.size());
        }
        ++index;
        outcome o = run.provision_new(disk, record_fstab, verdict);
        if (finished) finished(o);
        outcomes.push_back(o);
    }
    for (const auto& o : outcomes)
        if (o.rc != 0) return 1;
    return 0;
}

}  // namespace

struct tw_storage::provisioning_lock::hold : tidewall::storage::provisioning_hold {};

tw_storage::provisioning_lock::provisioning_lock() : hold_(new hold()) {}

tw_storage::provisioning_lock::~provisioning_lock() { delete hold_; }

bool tw_storage::provisioning_lock::held() const { return hold_->held(); }

std::string tw_storage::provisioning_lock::message() const { return hold_->message(); }

int tw_storage::interrupted_provisioning(std::list<provisioning_intent>& intents) {
    intents.clear();
    std::vector<tidewall::storage::provisioning_intent_record> records;
    int rc = tidewall::storage::load_provisioning_intents(records);
    for (const auto& r : records) {
        provisioning_intent i;
        i.device = r.device;
        i.serial = r.serial;
        i.wwn = r.wwn;
        i.mnt_path = r.mount_path;
        i.uuid = r.uuid;
        i.record_fstab = r.record_fstab;
        i.last_failure = r.last_failure;
        intents.push_back(i);
    }
    return rc;
}

int tw_storage::provision_disks(const std::list<tsaf_blkdev_basic_info>& disks, bool record_fstab,
                                std::list<provisioning_outcome>& outcomes,
                                const std::function<void(const provisioning_outcome&, size_t, size_t)>& starting,
                                const std::function<void(const provisioning_outcome&)>& finished) {
    tidewall::call_scope call;  // a failure's reason belongs to this call
    const char* tag = "tw_storage::provision_disks";
    try {
        return run_provisioning(*this, log_, tag, &disks, record_fstab, outcomes, starting, finished);
    } catch (const TsException& e) {
        log_.logMessage(tag, tidewall::log_level::failure, "Provisioning stopped: %s", e.formatError().c_str());
        outcomes.push_back(provisioning_outcome{});
        outcomes.back().rc = -1;
        outcomes.back().skipped = true;
        outcomes.back().message = "provisioning stopped: " + e.formatError();
        return 1;
    }
}

int tw_storage::mount_new_blkdev() {
    tidewall::call_scope call;  // a failure's reason belongs to this call
    const char* tag = "tw_storage::mount_new_blkdev";
    std::list<provisioning_outcome> outcomes;
    // The mounts' /etc/fstab entries are the caller's: a disk's record ends
    // once it is mounted and stamped.
    int rc = -1;
    try {
        rc = run_provisioning(*this, log_, tag, nullptr, false, outcomes, {}, {});
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to detect new disks on the server");
        return -1;
    }
    if (rc < 0) return -1;
    std::string list;
    size_t failed = 0;
    for (const auto& o : outcomes)
        if (o.rc != 0) {
            ++failed;
            list += (list.empty() ? "" : " ") + o.device;
        }
    if (failed == 0) return 0;
    log_.logMessage(tag, tidewall::log_level::failure, "[%zu] of [%zu] new disks failed: %s", failed, outcomes.size(),
                    list.c_str());
    return 1;
}

int tw_storage::mount_new_blkdev(tsaf_blkdev_basic_info& disk, std::string& mnt_path) {
    tidewall::call_scope call;  // a failure's reason belongs to this call
    const char* tag = "tw_storage::mount_new_blkdev";
    const std::string& dev = disk.get_devpath();
    try {
        std::list<provisioning_outcome> outcomes;
        std::list<tsaf_blkdev_basic_info> only{disk};
        run_provisioning(*this, log_, tag, &only, false, outcomes, {}, {});
        // The disk itself may have been a recorded one, finished first.
        const provisioning_outcome* mine = nullptr;
        for (const auto& o : outcomes)
            if (o.device == dev && (!mine || mine->resumed)) mine = &o;
        if (!mine) return -1;
        mnt_path = mine->mnt_path;
        return mine->rc;
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to process the block device %s", dev.c_str());
        return -1;
    }
}

int tw_storage::survey_new_disks(std::list<tsaf_blkdev_verdict>& verdicts) {
    tsaf_blkdevmgr manager;
    int rc = manager.enumerate_blkdevs(false);
    if (rc != 0) {
        verdicts.clear();
        return rc;
    }
    return manager.survey_disks(verdicts);
}
