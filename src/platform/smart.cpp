// SMART health, attributes and serial number of one drive through smartctl.

#include <tidewall/tw_smartctl.h>

#include "platform/smart_reading.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/sync.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"
#include "foundation/text/lines.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

constexpr int kTimeLimit = tidewall::time_limits::kDefaultS;

// smartctl's exit status is a bit mask. Bits 0-2 say the command line, the
// device open or the SMART command failed: there is no usable output. Bits 3-7
// are findings on a disk that was read (failing, attributes at or past their
// threshold, error or self-test log entries); the output then holds the answer.
constexpr int kNoDataBits = 0x07;

bool smartctl_output_usable(int status) { return status >= 0 && status <= 0xff && (status & kNoDataBits) == 0; }

// The leading number of a raw value. smartctl prints raw values in several
// forms ("0/0", "8409h+40m+13.690s", "34 (Min/Max 20/45)", "0x000000000001");
// the row counts whatever the form, with the number it starts with (0 if none).
unsigned long long leading_number(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const int base = hex ? 16 : 10;
    unsigned long long v = 0;
    for (size_t i = hex ? 2 : 0; i < text.size(); ++i) {
        const char c = text[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        if (v > (~0ULL - d) / base) return ~0ULL;  // saturate rather than wrap
        v = v * base + d;
    }
    return v;
}

// One whole unsigned number in the given base, within max.
bool read_number(const std::string& text, int base, unsigned long long max, unsigned long long& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (*end != '\0' || errno == ERANGE || v > max) return false;
    out = v;
    return true;
}

// A row of the attribute table in smartctl's default layout: ID# ATTRIBUTE_NAME
// FLAG VALUE WORST THRESH TYPE UPDATED WHEN_FAILED RAW_VALUE, the raw value
// possibly followed by remarks ("36 (Min/Max 34/38)"). In the brief layout
// ("-f brief") FLAGS are letters, TYPE and UPDATED are folded into them and
// WHEN_FAILED is called FAIL: ID# ATTRIBUTE_NAME FLAGS VALUE WORST THRESH FAIL
// RAW_VALUE. False for anything else.
bool parse_attribute(const std::string& line, bool brief, smart_param& p) {
    const size_t columns = brief ? 8 : 10;
    std::istringstream in(line);
    std::vector<std::string> cols;
    for (std::string word; cols.size() < columns && in >> word;) cols.push_back(word);
    if (cols.size() < columns) return false;

    unsigned long long id, flag = 0, value, worst, threshold;
    const std::string& failed = brief ? cols[6] : cols[8];
    if (!read_number(cols[0], 10, 0xffffffffULL, id) || !read_number(cols[3], 10, 0xffffffffULL, value) ||
        !read_number(cols[4], 10, 0xffffffffULL, worst) || !read_number(cols[5], 10, 0xffffffffULL, threshold))
        return false;
    const unsigned long long raw = leading_number(cols[columns - 1]);

    failuretype type;
    if (brief) {
        // Letters in the order of the flag bits: P(0x01) O S R C K(0x20); "-" for a clear bit.
        static const char letters[] = "POSRCK";
        if (cols[2].size() != 6) return false;
        for (size_t i = 0; i < 6; ++i) {
            if (cols[2][i] == letters[i])
                flag |= 1ULL << i;
            else if (cols[2][i] != '-')
                return false;
        }
        type = (flag & 0x01) ? FAILURETYPE_PRE_FAIL : FAILURETYPE_OLD_AGE;
    } else {
        if (!read_number(cols[2], 16, 0xffffffffULL, flag)) return false;
        type = cols[6] == "Pre-fail"  ? FAILURETYPE_PRE_FAIL
               : cols[6] == "Old_age" ? FAILURETYPE_OLD_AGE
                                      : FAILURETYPE_UNKNOWN;
    }

    p.set_id(static_cast<std::uint32_t>(id));
    p.set_name(cols[1]);
    p.set_flag(static_cast<std::uint32_t>(flag));
    p.set_value(static_cast<std::uint32_t>(value));
    p.set_worst(static_cast<std::uint32_t>(worst));
    p.set_threshold(static_cast<std::uint32_t>(threshold));
    p.set_failuretype(type);
    p.set_failed(failed != "-");
    p.set_rawval(raw);
    p.update_health();
    return true;
}

}  // namespace

tw_smartctl::tw_smartctl(std::string device) : device_(std::move(device)) {}

int tw_smartctl::extractoverallhealth(std::string options) {
    const char* tag = "tw_smartctl::extractoverallhealth";
    std::string skip;
    if (tsaf_utils::get_reg_key("sArrowfieldSkipSmartHealthCheck", skip) == 0 &&
        (skip.c_str()[0] == 'y' || skip.c_str()[0] == 'Y')) {
        log_.logMessage(tag, tidewall::log_level::detail,
                        "Skipping Smart Health Check. Smart Health set as good by default.");
        overall_health_ = true;
        return 0;
    }
    unsigned interval = 100;
    if (tsaf_utils::get_reg_key("nArrowfieldSmartctlRetryInterval", interval) == 0)
        log_.logMessage(tag, tidewall::log_level::detail, "smartctl retry interval [%u] milliseconds", interval);

    const std::string suffix = options + " " + tidewall::shell_quote(device_);
    const std::string scsi_cmd = "smartctl -d scsi -H " + suffix;
    const std::string plain_cmd = "smartctl -H " + suffix;

    // SAS drives answer the SCSI form, SATA drives the plain one.
    std::list<std::string> out;
    int status = -1;
    bool ran = false;
    for (int attempt = 0; attempt < 3 && !ran; ++attempt) {
        out.clear();
        status = tsaf_utils::popen(scsi_cmd, out, kTimeLimit);
        if (smartctl_output_usable(status)) {
            ran = true;
            break;
        }
        out.clear();
        status = tsaf_utils::popen(plain_cmd, out, kTimeLimit);
        if (smartctl_output_usable(status)) {
            ran = true;
            break;
        }
        ZUSLEEP_InTeRnAl(interval);
    }
    if (!ran) {
        log_.logMessage(tag, tidewall::log_level::step, "Execution failed for commands [%s] and [%s]", scsi_cmd.c_str(),
                        plain_cmd.c_str());
        return status;
    }

    bool have_verdict = false;
    for (const auto& line : out) {
        if (line.find("SMART Health Status") == std::string::npos &&
            line.find("SMART overall-health self-assessment test result") == std::string::npos)
            continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string verdict = tsaf_utils::trim(line.substr(colon + 1));
        have_verdict = true;
        if (verdict == "OK" || verdict == "PASSED") overall_health_ = true;
    }
    // No verdict line (a smartctl that died part way, whose exit status a
    // signal made look like findings): the health was not read, which is not
    // the same as failing.
    if (!have_verdict) {
        log_.logMessage(tag, tidewall::log_level::step,
                        "No health verdict in the output of smartctl for [%s], exit status [%d]", device_.c_str(),
                        status);
        return -1;
    }
    return 0;
}

int tw_smartctl::extractparams() {
    const char* tag = "tw_smartctl::extractparams";
    const std::string cmd = "smartctl -A " + tidewall::shell_quote(device_);
    std::list<std::string> out;
    int status = tsaf_utils::popen(cmd, out, kTimeLimit);
    if (!smartctl_output_usable(status)) {
        log_.logMessage(tag, tidewall::log_level::step, "Execution of [%s] failed", cmd.c_str());
        return status;
    }
    bool in_table = false, brief = false;
    for (const auto& raw : out) {
        if (!in_table) {
            in_table = raw.find("ID#") != std::string::npos;
            brief = in_table && raw.find("FLAGS") != std::string::npos && raw.find("TYPE") == std::string::npos;
            continue;
        }
        std::string line = tsaf_utils::trim(raw);
        // The table ends at its first blank line; the logs after it have rows
        // of numbers too (error log command lines), which are no attributes.
        if (line.empty()) break;
        // Lines that are no attribute rows (the brief layout's legend) are passed over.
        smart_param p;
        if (!parse_attribute(line, brief, p)) continue;
        if (!p.is_healthy()) all_attrs_healthy_ = false;
        attributes_[p.get_id()] = p;
    }
    return 0;
}

void tw_smartctl::for_each_attr(void (*fn)(smart_param&, void*), void* ctx) {
    if (!fn) return;
    for (auto& entry : attributes_) fn(entry.second, ctx);
}

void tw_smartctl::getfaultyattrs(std::list<smart_param>& out) {
    out.clear();
    for (const auto& entry : attributes_)
        if (!entry.second.is_healthy()) out.push_back(entry.second);
}

std::string tw_smartctl::getdriveserialnum(std::string options) {
    const char* tag = "tw_smartctl::getdriveserialnum";
    const std::string cmd =
        "smartctl " + options + " -i " + tidewall::shell_quote(device_) + " | grep -i \"Serial number\"";
    std::list<std::string> out;
    if (tsaf_utils::popen(cmd, out, kTimeLimit) != 0 || out.empty()) {
        log_.logMessage(tag, tidewall::log_level::step, "Execution of [%s] failed", cmd.c_str());
        return "";
    }
    std::string name, value;
    if (tsaf_utils::get_name_value_pair(out.front(), name, value) != 0) return "";
    return tsaf_utils::trim(value);
}

bool get_drive_overallhealth(std::string device) {
    tw_smartctl reader(device);
    reader.extractoverallhealth("");
    return reader.getoverallhealth();
}

std::string get_drive_serialnum(std::string device) {
    tw_smartctl reader(device);
    return reader.getdriveserialnum(device.find("nvme") != std::string::npos ? "-d scsi" : "");
}

namespace tidewall::platform {

namespace {

// What smartctl prints when -n finds the disk in a low-power mode: "Device is
// in STANDBY mode, exit(2)" (also SLEEP, or "STANDBY (OS)").
bool says_asleep(const std::string& line) {
    return line.find("Device is in ") != std::string::npos && line.find(" mode, exit(") != std::string::npos;
}

bool starts_without_case(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

bool is_verdict_line(const std::string& line) {
    return line.find("SMART Health Status") != std::string::npos ||
           line.find("SMART overall-health self-assessment test result") != std::string::npos;
}

}  // namespace

smart_reading parse_smart_reading(int exit_status, const std::string& output, bool skip_verdict) {
    smart_reading r;
    std::vector<std::string> lines;
    for (const std::string& line : tidewall::text::split_lines(output)) {
        if (says_asleep(line)) {
            r.result = smart_reading::state::standby;
            return r;
        }
        lines.push_back(line);
    }
    if (!smartctl_output_usable(exit_status)) return r;

    bool have_verdict = false, in_table = false, brief = false, table_done = false;
    for (const auto& raw : lines) {
        if (is_verdict_line(raw)) {
            size_t colon = raw.find(':');
            if (colon != std::string::npos) {
                std::string verdict = tsaf_utils::trim(raw.substr(colon + 1));
                have_verdict = true;
                if (verdict == "OK" || verdict == "PASSED") r.healthy = true;
            }
            continue;
        }
        std::string line = tsaf_utils::trim(raw);
        if (r.serial.empty() && starts_without_case(line, "serial number:")) {
            r.serial = tsaf_utils::trim(line.substr(14));
            continue;
        }
        if (table_done) continue;
        if (!in_table) {
            in_table = raw.find("ID#") != std::string::npos;
            brief = in_table && raw.find("FLAGS") != std::string::npos && raw.find("TYPE") == std::string::npos;
            continue;
        }
        if (line.empty()) {
            table_done = true;
            continue;
        }
        smart_param p;
        if (parse_attribute(line, brief, p) && !p.is_healthy()) ++r.faulty_attributes;
    }
    if (skip_verdict) {
        r.healthy = true;
    } else if (!have_verdict) {
        return smart_reading{};
    }
    r.result = smart_reading::state::read;
    r.have_attributes = true;
    return r;
}

smart_reading read_smart_unless_asleep(const std::string& device) {
    std::string skip;
    const bool skip_verdict = tsaf_utils::get_reg_key("sArrowfieldSkipSmartHealthCheck", skip) == 0 &&
                              (skip.c_str()[0] == 'y' || skip.c_str()[0] == 'Y');
    const std::string what = std::string(skip_verdict ? "" : " -H") + " -i -A " + tidewall::shell_quote(device);
    smart_reading r;
    // SATA disks and most SAS disks answer the plain form; a SAS disk behind
    // some HBAs only the SCSI one.
    for (const std::string& cmd : {"smartctl -n standby" + what, "smartctl -d scsi -n standby" + what}) {
        std::list<std::string> out;
        int status = tsaf_utils::popen(cmd, out, kTimeLimit);
        std::string text;
        for (const auto& l : out) text += l + "\n";
        r = parse_smart_reading(status, text, skip_verdict);
        // Only a device smartctl could not open is worth the other form.
        if (r.result != smart_reading::state::unreadable || status < 0 || (status & 0x02) == 0) break;
    }
    return r;
}

}  // namespace tidewall::platform
