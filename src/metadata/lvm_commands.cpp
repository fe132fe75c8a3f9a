// The LVM manager's commands: one LVM tool invocation each, with the exact
// command texts, and the queries that read vgdisplay, pvdisplay and lvs output.
//
// Values go into the command lines shell-quoted; ordinary names and device
// paths keep the text exactly as the tools' callers expect it.

#include <tidewall/tw_lvm.h>

#include "foundation/compat/ts_process.h"
#include "foundation/host/shell_quote.h"
#include "foundation/log/log_level.h"
#include "foundation/text/lines.h"
#include "metadata/failure_record.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

using tidewall::shell_quote;

namespace {

// Room taken from a thin pool's extents for its metadata, in MiB.
constexpr unsigned long long kThinPoolMetadataMiB = 256;

std::vector<std::string> lines_of(const std::string& text) { return tidewall::text::split_lines(text); }

// The number at the start of text after blanks; false when there is none.
bool leading_number(const std::string& text, unsigned long long& value) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    unsigned long long v = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (v > (~0ULL - digit) / 10) return false;  // no count of extents is that large
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

}  // namespace

tw_lvm::tw_lvm() { log_.logMessage("tw_lvm::tw_lvm", tidewall::log_level::trace, "Creating tw_lvm instance"); }

tw_lvm::tw_lvm(tw_vg& vg) : vg_(vg) {
    log_.logMessage("tw_lvm::tw_lvm", tidewall::log_level::trace, "Creating tw_lvm instance vg [%s]",
                    vg_.get_name().c_str());
}

tw_lvm::~tw_lvm() { log_.logMessage("tw_lvm::~tw_lvm", tidewall::log_level::trace, "Cleaning tw_lvm instance"); }

void tw_lvm::fail(const char* tag, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    tidewall::metadata::record_failure(log_, failures_, tag, fmt, args);
    va_end(args);
}

int tw_lvm::run_cmd(const char* tag, const std::string& cmd, std::string& out) {
    log_.logMessage(tag, tidewall::log_level::step, "command [%s]", cmd.c_str());
    std::string err;
    if (TsProcess::system(cmd, &out, &err, 0, false) != 0) {
        fail(tag, "command [%s] failed with error [%s]", cmd.c_str(), err.c_str());
        return 1;
    }
    return 0;
}

int tw_lvm::create_pv_cmd(const std::string& disk) {
    std::string out;
    return run_cmd("tw_lvm::create_pv_cmd", "pvcreate -ff -y " + shell_quote(disk), out);
}

int tw_lvm::create_vg_cmd(const std::string& vg, unsigned long long& extent_size, const std::string& pv_text) {
    const char* tag = "tw_lvm::create_vg_cmd";
    std::string cmd =
        "vgcreate  " + shell_quote(vg) + " --physicalextentsize " + std::to_string(extent_size) + "M " + pv_text;
    std::string out;
    if (run_cmd(tag, cmd, out) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "VG created [%s] extent size [%llu]", vg.c_str(), extent_size);
    return 0;
}

int tw_lvm::create_thick_lv_cmd(const std::string& vg, const std::string& lv, unsigned long long& extents) {
    const char* tag = "tw_lvm::create_thick_lv_cmd";
    std::string cmd =
        "lvcreate -y --extents " + std::to_string(extents) + " --name " + shell_quote(lv) + " " + shell_quote(vg);
    std::string out;
    if (run_cmd(tag, cmd, out) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "lv created name [%s] num extents [%llu]", lv.c_str(), extents);
    return 0;
}

int tw_lvm::create_thin_pool_cmd(const std::string& vg, const std::string& pool, unsigned long long& extents,
                                 unsigned long long& extent_size) {
    const char* tag = "tw_lvm::create_thin_pool_cmd";
    unsigned long long held_back = extent_size ? kThinPoolMetadataMiB / extent_size : 0;
    // A share smaller than the hold-back would wrap around to an absurd count:
    // such a pool cannot be made, and saying so beats asking LVM for it.
    if (extents <= held_back) {
        fail(tag, "thin pool [%s] of vg [%s] too small: [%llu] extents, [%llu] needed for its metadata", pool.c_str(),
             vg.c_str(), extents, held_back);
        return 1;
    }
    extents -= held_back;
    std::string cmd = "lvcreate -y --extents " + std::to_string(extents) + " -T " + shell_quote(vg + "/" + pool);
    std::string out;
    if (run_cmd(tag, cmd, out) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "thin pool created name [%s] num extents [%llu]", pool.c_str(),
                    extents);
    return 0;
}

int tw_lvm::create_thin_lv_cmd(const std::string& vg, const std::string& pool, const std::string& lv,
                               unsigned long long& extents, unsigned long long& extent_size) {
    const char* tag = "tw_lvm::create_thin_lv_cmd";
    std::string cmd = "lvcreate -y -V " + std::to_string(extents * extent_size) + "M -T " +
                      shell_quote(vg + "/" + pool) + " -n " + shell_quote(lv);
    std::string out;
    if (run_cmd(tag, cmd, out) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "thin lv created name [%s] num extents [%llu]", lv.c_str(),
                    extents);
    return 0;
}

int tw_lvm::remove_vg_cmd(const std::string& vg) {
    const char* tag = "tw_lvm::remove_vg_cmd";
    std::string out;
    if (run_cmd(tag, "vgremove -ff " + shell_quote(vg), out) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "vg removed [%s]", vg.c_str());
    return 0;
}

int tw_lvm::remove_pv_cmd(const std::string& pv) {
    const char* tag = "tw_lvm::remove_pv_cmd";
    std::string out;
    if (run_cmd(tag, "pvremove -ff -y " + shell_quote(pv), out) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "pv removed [%s]", pv.c_str());
    return 0;
}

int tw_lvm::query_extents(const char* tag, const std::string& vg, const char* field, unsigned long long& count) {
    std::string cmd = "vgdisplay " + shell_quote(vg) + " | /bin/grep \"" + field + "\" | awk '{print $5}'";
    std::string out;
    if (run_cmd(tag, cmd, out) != 0) return 1;
    leading_number(out, count);
    return 0;
}

int tw_lvm::get_vg_free_extents(const std::string& vg, unsigned long long& free_extents) {
    const char* tag = "tw_lvm::get_vg_free_extents";
    if (query_extents(tag, vg, "Free", free_extents) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "vg name [%s] free extents [%llu]", vg.c_str(), free_extents);
    return 0;
}

int tw_lvm::get_vg_alloc_extents(const std::string& vg, unsigned long long& alloc_extents) {
    const char* tag = "tw_lvm::get_vg_alloc_extents";
    if (query_extents(tag, vg, "Alloc", alloc_extents) != 0) return 1;
    log_.logMessage(tag, tidewall::log_level::step, "vg name [%s] alloc extents [%llu]", vg.c_str(), alloc_extents);
    return 0;
}

int tw_lvm::scan_vg_cmd(std::list<std::string>& vg_names) {
    const char* tag = "tw_lvm::scan_vg_cmd";
    std::string out;
    if (run_cmd(tag, "vgdisplay 2>/dev/null | grep \"VG Name\" | awk '{print $3}'", out) != 0) return 1;
    for (const auto& line : lines_of(out)) {
        log_.logMessage(tag, tidewall::log_level::step, "vg name [%s]", line.c_str());
        vg_names.push_back(line);
    }
    return 0;
}

int tw_lvm::scan_pv(std::list<tw_pv>& pv_list) {
    const char* tag = "tw_lvm::scan_pv";
    std::string out;
    if (run_cmd(tag, "pvdisplay 2>/dev/null | grep \"PV Name\\|PV UUID\" | awk '{print $3}'", out) != 0) return 1;
    tw_pv pv;
    size_t n = 0;
    for (const auto& line : lines_of(out)) {
        if (n++ % 2 == 0) {
            log_.logMessage(tag, tidewall::log_level::step, "pv name [%s]", line.c_str());
            pv.set_name(line);
        } else {
            log_.logMessage(tag, tidewall::log_level::step, "pv uuid [%s]", line.c_str());
            pv.set_uuid(line);
            pv_list.push_back(pv);
        }
    }
    return 0;
}

int tw_lvm::scan_lv(const std::string& vg, std::list<tw_lv>& lv_list) {
    const char* tag = "tw_lvm::scan_lv";
    std::string cmd =
        "lvs --noheadings --separator '|' --units b --nosuffix "
        "-o lv_name,lv_attr,lv_size,vg_extent_size " +
        shell_quote(vg) + " 2>/dev/null";
    std::string out;
    if (run_cmd(tag, cmd, out) != 0) return 1;
    for (const auto& line : lines_of(out)) {
        // "  index|-wi-------|419430400|4194304"
        std::vector<std::string> f;
        size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) continue;
        for (size_t i = start;;) {
            size_t bar = line.find('|', i);
            f.push_back(line.substr(i, bar == std::string::npos ? std::string::npos : bar - i));
            if (bar == std::string::npos) break;
            i = bar + 1;
        }
        if (f.size() != 4) continue;
        unsigned long long size = 0, extent = 0;
        leading_number(f[2], size);
        leading_number(f[3], extent);
        tw_lv lv;
        lv.set_name(f[0]);
        lv.set_thin_volume(!f[1].empty() && f[1][0] == 'V');
        lv.set_num_extents(extent ? size / extent : 0);
        log_.logMessage(tag, tidewall::log_level::detail, "lv name [%s] attr [%s] num extents [%llu]", f[0].c_str(),
                        f[1].c_str(), lv.get_num_extents());
        lv_list.push_back(lv);
    }
    return 0;
}
