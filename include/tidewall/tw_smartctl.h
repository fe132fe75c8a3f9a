#ifndef TIDEWALL_TW_SMARTCTL_H
#define TIDEWALL_TW_SMARTCTL_H

// SMART data of one drive through smartctl: the overall health verdict, the
// attribute table and the serial number. Build one reader per drive, use it and
// drop it; nothing throws.

#include <tidewall/export.h>
#include <tidewall/tw_debug.h>

#include <cstdint>
#include <list>
#include <map>
#include <string>

enum failuretype {
    FAILURETYPE_UNKNOWN = 0,  // a type column smartctl did not print as one of the two below
    FAILURETYPE_OLD_AGE = 1,
    FAILURETYPE_PRE_FAIL = 2,
};

// One SMART attribute (a row of "smartctl -A").
class TW_API smart_param {
public:
    std::uint32_t get_id() const { return id_; }
    std::string get_name() const { return name_; }
    std::uint32_t get_flag() const { return flag_; }
    std::uint32_t get_value() const { return value_; }
    std::uint32_t get_worst() const { return worst_; }
    std::uint32_t get_threshold() const { return threshold_; }
    failuretype get_failuretype() const { return failuretype_; }
    bool get_failed() const { return failed_; }
    std::uint64_t get_rawval() const { return rawval_; }

    void set_id(std::uint32_t v) { id_ = v; }
    void set_name(const std::string& v) { name_ = v; }
    void set_flag(std::uint32_t v) { flag_ = v; }
    void set_value(std::uint32_t v) { value_ = v; }
    void set_worst(std::uint32_t v) { worst_ = v; }
    void set_threshold(std::uint32_t v) { threshold_ = v; }
    void set_failuretype(failuretype v) { failuretype_ = v; }
    void set_failed(bool v) { failed_ = v; }
    void set_rawval(std::uint64_t v) { rawval_ = v; }

    // Healthy while the normalised value stays strictly above the threshold.
    // The WHEN_FAILED column does not enter the decision.
    void update_health() { healthy_ = value_ > threshold_; }
    bool is_healthy() const { return healthy_; }

private:
    std::uint32_t id_ = 0;
    std::string name_;
    std::uint32_t flag_ = 0;
    std::uint32_t value_ = 0;
    std::uint32_t worst_ = 0;
    std::uint32_t threshold_ = 0;
    failuretype failuretype_ = FAILURETYPE_UNKNOWN;
    bool failed_ = false;  // WHEN_FAILED is not "-"
    std::uint64_t rawval_ = 0;
    bool healthy_ = false;
};

class TW_API tw_smartctl {
public:
    explicit tw_smartctl(std::string device);  // such as /dev/sda
    tw_smartctl(const tw_smartctl&) = delete;
    tw_smartctl& operator=(const tw_smartctl&) = delete;

    // Reads the health verdict ("smartctl -d scsi -H", then "smartctl -H", up to
    // three attempts). 0 when read (or skipped by sArrowfieldSkipSmartHealthCheck),
    // else the status of the last command.
    int extractoverallhealth(std::string options);
    bool getoverallhealth() const { return overall_health_; }

    // Reads the attribute table ("smartctl -A"); 0, or the command's status.
    int extractparams();
    // Calls fn on every attribute in id order.
    void for_each_attr(void (*fn)(smart_param&, void*), void* ctx);
    // Every attribute that is not healthy, in id order (out is emptied first).
    void getfaultyattrs(std::list<smart_param>& out);
    // Whether every attribute read so far was healthy.
    bool allattrs_healthy() const { return all_attrs_healthy_; }

    // The serial number, empty when it cannot be read.
    std::string getdriveserialnum(std::string options);

private:
    std::string device_;
    std::map<std::uint32_t, smart_param> attributes_;
    bool all_attrs_healthy_ = true;
    bool overall_health_ = false;
    tw_debug log_;
};

// Whether device's SMART overall health passed.
TW_API bool get_drive_overallhealth(std::string device);
// device's serial number ("-d scsi" for NVMe devices); empty when unreadable.
TW_API std::string get_drive_serialnum(std::string device);

#endif
