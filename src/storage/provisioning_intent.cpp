// The provisioning intent record and the provisioning lock.

#include "storage/provisioning_intent.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/status.h"
#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/text/lines.h"

#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace tidewall::storage {

namespace {

const char* const kIntentFile = "provisioning-intent";
const char* const kHeader =
    "# Disks a provisioning run has begun and not finished: the next run finishes each.\n"
    "# Written by Tidewall; one disk a line, removed once its /etc/fstab entry is written.\n";

// Values never hold the field or line separators.
std::string clean(const std::string& v) {
    std::string out = v;
    for (char& c : out)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return out;
}

std::string read_trimmed(const std::string& path) {
    std::string text;
    if (file_io::read_all(host::path(path), text) != 0) return "";
    return tsaf_utils::trim(text);
}

}  // namespace

int provisioning_intent_file(std::string& mapped) {
    std::string dir;
    int rc = locks::state_directory(dir);
    if (rc != 0) return rc;
    mapped = dir + "/" + kIntentFile;
    return 0;
}

std::string format_provisioning_intents(const std::vector<provisioning_intent_record>& records) {
    std::string out = kHeader;
    for (const auto& r : records)
        out += "device=" + clean(r.device) + "\tserial=" + clean(r.serial) + "\twwn=" + clean(r.wwn) +
               "\tmount_path=" + clean(r.mount_path) + "\tuuid=" + clean(r.uuid) +
               "\tfstab=" + (r.record_fstab ? "yes" : "no") + "\tstep=" + clean(r.step) +
               "\tlast_failure=" + clean(r.last_failure) + "\n";
    return out;
}

std::vector<provisioning_intent_record> parse_provisioning_intents(const std::string& text) {
    std::vector<provisioning_intent_record> records;
    for (const std::string& line : tidewall::text::split_lines(text)) {
        if (line.empty() || line[0] == '#') continue;
        provisioning_intent_record r;
        bool has_fstab = false;
        size_t pos = 0;
        while (pos <= line.size()) {
            size_t tab = line.find('\t', pos);
            std::string field = line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos);
            pos = tab == std::string::npos ? line.size() + 1 : tab + 1;
            size_t eq = field.find('=');
            if (eq == std::string::npos) continue;
            std::string key = field.substr(0, eq), value = field.substr(eq + 1);
            if (key == "device")
                r.device = value;
            else if (key == "serial")
                r.serial = value;
            else if (key == "wwn")
                r.wwn = value;
            else if (key == "mount_path")
                r.mount_path = value;
            else if (key == "uuid")
                r.uuid = value;
            else if (key == "fstab") {
                r.record_fstab = value != "no";
                has_fstab = true;
            } else if (key == "step")
                r.step = value;
            else if (key == "last_failure")
                r.last_failure = value;
        }
        // A line cut short (never written by rename, but edited by hand) is no
        // record to act on.
        if (r.device.rfind("/dev/", 0) != 0 || r.mount_path.empty() || r.uuid.empty() || !has_fstab) continue;
        records.push_back(std::move(r));
    }
    return records;
}

int load_provisioning_intents(std::vector<provisioning_intent_record>& records) {
    records.clear();
    std::string file;
    int rc = provisioning_intent_file(file);
    if (rc != 0) return rc;
    std::string text;
    rc = file_io::read_all(file, text);
    if (rc == ENOENT) return 0;
    if (rc != 0) return rc;
    records = parse_provisioning_intents(text);
    return 0;
}

int save_provisioning_intents(const std::vector<provisioning_intent_record>& records) {
    std::string file;
    int rc = provisioning_intent_file(file);
    if (rc != 0) return rc;
    if (records.empty()) {
        rc = file_io::remove_file(file);
        return rc == ENOENT ? 0 : rc;
    }
    return file_io::write_atomic(file, format_provisioning_intents(records), 0600);
}

void disk_identity(const std::string& device, std::string& serial, std::string& wwn) {
    serial.clear();
    wwn.clear();
    if (device.rfind("/dev/", 0) != 0) return;
    std::string name = device.substr(5);
    if (name.empty() || name.find('/') != std::string::npos) return;
    std::string sys = "/sys/block/" + name;
    serial = read_trimmed(sys + "/device/serial");
    wwn = read_trimmed(sys + "/wwid");
    if (wwn.empty()) wwn = read_trimmed(sys + "/device/wwid");
}

namespace {

struct hold_state {
    std::recursive_timed_mutex mutex;
    int depth = 0;
    std::unique_ptr<locks::operation_lock> lock;
};

hold_state& holds() {
    static hold_state s;
    return s;
}

}  // namespace

provisioning_hold::provisioning_hold() {
    hold_state& s = holds();
    // Another thread of this process provisioning counts as another provisioning.
    if (!s.mutex.try_lock_for(std::chrono::milliseconds(locks::kOperationWaitMs))) {
        message_ = "another provisioning is running (pid " + std::to_string(::getpid()) + ")";
        last_error::set(message_);
        return;
    }
    if (s.depth == 0) {
        s.lock = std::make_unique<locks::operation_lock>(locks::operation::provisioning);
        if (!s.lock->held()) {
            message_ = s.lock->message();
            last_error::set(message_);
            s.lock.reset();
            s.mutex.unlock();
            return;
        }
    }
    ++s.depth;
    held_ = true;
}

provisioning_hold::~provisioning_hold() {
    if (!held_) return;
    hold_state& s = holds();
    if (--s.depth == 0) s.lock.reset();
    s.mutex.unlock();
}

}  // namespace tidewall::storage
