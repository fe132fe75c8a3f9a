#ifndef TIDEWALL_STORAGE_PROVISIONING_INTENT_H
#define TIDEWALL_STORAGE_PROVISIONING_INTENT_H

// What a provisioning run is about to do to a disk, kept from before the disk's
// first wipe until its /etc/fstab entry is written, so that the next run can
// finish a disk that a crash or a failed step left half-done. One root-only
// file in the state directory, replaced whole under the provisioning lock.

#include <string>
#include <vector>

namespace tidewall::storage {

struct provisioning_intent_record {
    std::string device;  // /dev/sdb
    std::string serial;  // from sysfs, empty when the disk has none
    std::string wwn;  // from sysfs, empty when the disk has none
    std::string mount_path;  // /tw/disk3: the slot, kept across retries
    std::string uuid;  // the file-system UUID mkfs is given
    bool record_fstab = true;
    // "format": the file system may not be whole yet; "formatted": mkfs
    // finished and the disk carries the recorded UUID.
    std::string step = "format";
    std::string last_failure;  // why the last attempt stopped, empty if none
};

// The intent file as a mapped path; 0 or an errno value (EPERM: the state
// directory is not safe to use).
int provisioning_intent_file(std::string& mapped);

// Every record; a missing file is none. 0 or an errno value.
int load_provisioning_intents(std::vector<provisioning_intent_record>& records);

// Replaces the file with records (removes it when there are none). 0 or an errno value.
int save_provisioning_intents(const std::vector<provisioning_intent_record>& records);

// The file's text for records, and records back from a text; lines that are
// not whole records are skipped.
std::string format_provisioning_intents(const std::vector<provisioning_intent_record>& records);
std::vector<provisioning_intent_record> parse_provisioning_intents(const std::string& text);

// Serial and WWN of a whole disk as sysfs shows them (empty when absent).
void disk_identity(const std::string& device, std::string& serial, std::string& wwn);

// Holds the node's provisioning lock; nested holds in one process share the
// outermost one, so that a caller holding it (twctl, from its survey to its last
// fstab entry) can call the library's provisioning methods.
class provisioning_hold {
public:
    provisioning_hold();
    ~provisioning_hold();
    provisioning_hold(const provisioning_hold&) = delete;
    provisioning_hold& operator=(const provisioning_hold&) = delete;
    bool held() const { return held_; }
    // "another provisioning is running (pid N)" when not held.
    const std::string& message() const { return message_; }

private:
    bool held_ = false;
    std::string message_;
};

}  // namespace tidewall::storage

#endif
