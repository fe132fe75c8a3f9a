// Average CPU usage, interface throughput and disk sector rates from sar's
// daily data files, over the time since the previous monitoring pass.

#include "platform/sar_statistics.h"

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"
#include "foundation/text/local_day.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <list>
#include <vector>

namespace {

constexpr int kTimeLimit = tidewall::time_limits::kDefaultS;

// sar keeps one file per day of the month and overwrites it a month later, so
// no file holds a day more than 31 days before the end of a range.
constexpr int kDaysInFiles = 31;

// sar prints dates and times as the caller's environment asks (S_TIME_FORMAT,
// the locale); the readers below expect the C locale's forms, whoever calls.
const char* const kSar = "env -u S_TIME_FORMAT LC_ALL=C sar";

const char* const kDayStart = "00:00:00";
const char* const kDayEnd = "23:59:01";

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    tsaf_utils::tokenize(line.c_str(), " \t", fields);
    return fields;
}

// The calendar text of t, as ctime gives it, without the line end.
std::string calendar_text(long t) {
    std::time_t tt = t;
    char buf[64];
    if (!::ctime_r(&tt, buf)) return std::to_string(t);
    return tsaf_utils::trim(buf);
}

// Local midnight of the day after the one that begins at `midnight`.
std::time_t next_midnight(std::time_t midnight, int days = 1) { return tidewall::text::local_midnight(midnight, days); }

// Calls day(year, month, mday, from, to) for each local day of [start, end],
// with the range's own times of day on its first and last days.
template <typename F> void for_each_day(tw_debug& log, const char* tag, long start, long end, F day) {
    const std::time_t start_day = tsaf_utils::time_get_datetimezero(start);
    const std::time_t last = tsaf_utils::time_get_datetimezero(end);
    std::time_t first = start_day;
    const std::time_t oldest = next_midnight(last, -(kDaysInFiles - 1));
    if (first < oldest) {
        log.logMessage(tag, tidewall::log_level::detail,
                       "Days before '%s' are no longer in the sar files. Skipping them.",
                       calendar_text(oldest).c_str());
        first = oldest;
    }
    for (std::time_t d = first; d != -1 && d <= last; d = next_midnight(d)) {
        std::string from = d == start_day ? tsaf_utils::time_get_timestr(start) : kDayStart;
        std::string to = d == last ? tsaf_utils::time_get_timestr(end) : kDayEnd;
        struct tm tm {};
        ::localtime_r(&d, &tm);
        day(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, from, to);
    }
}

// Runs one day's sar command and checks the file's date. The output lines, or
// false with the failure logged.
bool sar_day_output(tw_debug& log, const char* tag, const std::string& cmd, int year, int month, int day,
                    int run_failure_level, const char* run_failure_fmt, std::list<std::string>& out) {
    log.logMessage(tag, tidewall::log_level::trace, "Exec cmd - [%s]\n", cmd.c_str());
    int status = tsaf_utils::popen(cmd, out, kTimeLimit);
    if (status != 0 || out.empty()) {
        log.logMessage(tag, run_failure_level, run_failure_fmt, cmd.c_str(), status);
        return false;
    }
    if (!sar_filedate_check(log, out.front(), year, month, day)) {
        log.logMessage(tag, tidewall::log_level::failure, "Error executing command [%s]", cmd.c_str());
        return false;
    }
    return true;
}

// Where a disk table keeps the device name and the read and write rates, as
// positions in an "Average:" line. sysstat before 11 prints "DEV tps rd_sec/s
// wr_sec/s ..." (sectors); 11 prints "DEV tps rkB/s wkB/s ..." and 12 moves DEV
// to the last column. Without a header we know, the classic positions hold.
struct disk_columns {
    size_t dev = 1, rd = 3, wr = 4;
    double to_sectors = 1;  // kB/s are two 512-byte sectors per second

    size_t needed() const { return std::max(dev, std::max(rd, wr)) + 1; }

    // Learns the columns from a table header line; false when it is none.
    bool learn(const std::string& line) {
        std::vector<std::string> names = fields_of(line);
        // The header starts with the time of its first sample, in 12-hour
        // locales followed by AM or PM; an "Average:" line has one word there.
        size_t skip = 1;
        if (names.size() > 1 && (names[1] == "AM" || names[1] == "PM")) skip = 2;
        auto column = [&](const char* name) -> size_t {
            for (size_t i = skip; i < names.size(); ++i)
                if (names[i] == name) return i - skip + 1;
            return 0;
        };
        size_t d = column("DEV"), r = column("rd_sec/s"), w = column("wr_sec/s");
        double scale = 1;
        if (r == 0 && w == 0) {
            r = column("rkB/s");
            w = column("wkB/s");
            scale = 2;
        }
        if (d == 0 || r == 0 || w == 0) return false;
        dev = d;
        rd = r;
        wr = w;
        to_sectors = scale;
        return true;
    }
};

}  // namespace

std::string sar_get_filename(int day) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "/var/log/sa/sa%02d", day);
    return buf;
}

bool sar_filedate_check(tw_debug& log, std::string first_line, int year, int month, int day) {
    const char* tag = "sar_filedate_check";
    char full[32], brief[32], iso[32];
    std::snprintf(full, sizeof full, "%02d/%02d/%04d", month, day, year);
    std::snprintf(brief, sizeof brief, "%02d/%02d/%02d", month, day, year % 100);
    // S_TIME_FORMAT=ISO prints the date as 2026-12-08.
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", year, month, day);
    if (first_line.find(full) != std::string::npos || first_line.find(brief) != std::string::npos ||
        first_line.find(iso) != std::string::npos)
        return true;
    log.logMessage(tag, tidewall::log_level::failure, "SA file accessed is not same as date. Expected date: %s or %s",
                   full, brief);
    log.logMessage(tag, tidewall::log_level::failure, "First line in SA file: %s", first_line.c_str());
    return false;
}

long get_intervalstart_datetime(tw_debug& log, std::string regkey, long now, unsigned int minutes) {
    const char* tag = "get_intervalstart_datetime";
    if (minutes != 0) return now - static_cast<long>(minutes) * 60;
    std::string value;
    if (tsaf_utils::get_reg_key(regkey, value) != 0) {
        log.logMessage(tag, tidewall::log_level::trace,
                       "Failed to get value for registry [%s]. Getting average of last half an hour.", regkey.c_str());
        return now - 1800;
    }
    log.logMessage(tag, tidewall::log_level::trace, "Get registry - key [%s] value [%s]", regkey.c_str(),
                   value.c_str());
    return static_cast<long>(tsaf_utils::string_to_ulong(value));
}

double cpu_date_getused(tw_debug& log, int year, int month, int day, std::string start, std::string end) {
    const char* tag = "cpu_date_getused";
    std::string cmd = std::string(kSar) + " -f " + sar_get_filename(day) + " -s " + start + " -e " + end;
    std::list<std::string> out;
    if (!sar_day_output(log, tag, cmd, year, month, day, -1, "Failed to get output of sar command [%s] Error [%d]",
                        out))
        return 0;
    for (const auto& line : out) {
        if (line.find("Average") == std::string::npos) continue;
        std::vector<std::string> f = fields_of(line);
        if (f.size() < 8) {
            log.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", line.c_str());
            continue;
        }
        // Average: all %user %nice %system %iowait %steal %idle
        return 100 - (tsaf_utils::string_to_double(f[7]) + tsaf_utils::string_to_double(f[5]));
    }
    return 0;
}

double cpu_timerange_getused(tw_debug& log, long start, long end) {
    const char* tag = "cpu_timerange_getused";
    if (end < start) {
        log.logMessage(tag, tidewall::log_level::failure, "Start timeval [%llu] is greater than End timeval [%llu].",
                       static_cast<unsigned long long>(start), static_cast<unsigned long long>(end));
        return 0;
    }
    log.logMessage(tag, tidewall::log_level::trace, "Get CPU average between '%s' and '%s'",
                   calendar_text(start).c_str(), calendar_text(end).c_str());
    double sum = 0;
    unsigned count = 0;
    for_each_day(log, tag, start, end, [&](int y, int m, int d, const std::string& from, const std::string& to) {
        double used = cpu_date_getused(log, y, m, d, from, to);
        if (used != 0) {
            sum += used;
            ++count;
        }
    });
    return count ? sum / count : 0;
}

int nw_date_getstats(tw_debug& log, std::string dev, int year, int month, int day, std::string start, std::string end,
                     double& rxkbps, double& txkbps) {
    const char* tag = "nw_date_getstats";
    rxkbps = txkbps = 0;
    std::string cmd = std::string(kSar) + " -f " + sar_get_filename(day) + " -n DEV -s " + start + " -e " + end;
    std::list<std::string> out;
    if (!sar_day_output(log, tag, cmd, year, month, day, 2, "Failed to get output of sar command [%s]. Error [%d]",
                        out))
        return -1;
    for (const auto& line : out) {
        if (line.find("Average") == std::string::npos) continue;
        std::vector<std::string> f = fields_of(line);
        if (f.size() < 2) {
            log.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", line.c_str());
            continue;
        }
        if (f[1] != dev) continue;
        if (f.size() < 6) {
            log.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", line.c_str());
            continue;
        }
        // Average: IFACE rxpck/s txpck/s rxkB/s txkB/s ...
        rxkbps = tsaf_utils::string_to_double(f[4]);
        txkbps = tsaf_utils::string_to_double(f[5]);
        break;
    }
    return 0;
}

int drive_date_getstats(tw_debug& log, std::string dev, int year, int month, int day, std::string start,
                        std::string end, double& rdsectps, double& wrsectps) {
    const char* tag = "drive_date_getstats";
    rdsectps = wrsectps = 0;
    std::string cmd = std::string(kSar) + " -f " + sar_get_filename(day) + " -p -d -s " + start + " -e " + end;
    std::list<std::string> out;
    if (!sar_day_output(log, tag, cmd, year, month, day, -1, "Failed to get output of sar command [%s]. Error [%d]",
                        out))
        return -1;
    disk_columns cols;
    for (const auto& line : out) {
        if (line.find("Average") == std::string::npos) {
            if (line.find("DEV") != std::string::npos) cols.learn(line);
            continue;
        }
        std::vector<std::string> f = fields_of(line);
        if (f.size() <= cols.dev) {
            log.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", line.c_str());
            continue;
        }
        if (f[cols.dev] != dev) continue;
        if (f.size() < cols.needed()) {
            log.logMessage(tag, tidewall::log_level::trace, "Unexpected output line: %s", line.c_str());
            continue;
        }
        rdsectps = tsaf_utils::string_to_double(f[cols.rd]) * cols.to_sectors;
        wrsectps = tsaf_utils::string_to_double(f[cols.wr]) * cols.to_sectors;
        break;
    }
    return 0;
}

namespace {

// The network and drive forms of the range averaging: each rate has its own
// sum and count, so a day on which one of them is 0 does not lower the other.
template <typename Reader>
int rates_over_range(tw_debug& log, const char* tag, const std::string& dev, long start, long end, double& a, double& b,
                     const char* range_fmt, Reader read_day) {
    if (end < start) {
        log.logMessage(tag, tidewall::log_level::failure, "Start timeval [%llu] is greater than End timeval [%llu].",
                       static_cast<unsigned long long>(start), static_cast<unsigned long long>(end));
        return -1;
    }
    log.logMessage(tag, tidewall::log_level::trace, range_fmt, dev.c_str(), calendar_text(start).c_str(),
                   calendar_text(end).c_str());
    double sum_a = 0, sum_b = 0;
    unsigned count_a = 0, count_b = 0;
    for_each_day(log, tag, start, end, [&](int y, int m, int d, const std::string& from, const std::string& to) {
        double day_a = 0, day_b = 0;
        if (read_day(y, m, d, from, to, day_a, day_b) != 0) return;
        if (day_a != 0) {
            sum_a += day_a;
            ++count_a;
        }
        if (day_b != 0) {
            sum_b += day_b;
            ++count_b;
        }
    });
    a = count_a ? sum_a / count_a : 0;
    b = count_b ? sum_b / count_b : 0;
    return 0;
}

}  // namespace

int nw_timerange_getstats(tw_debug& log, std::string dev, long start, long end, double& rxkbps, double& txkbps) {
    return rates_over_range(log, "nw_timerange_getstats", dev, start, end, rxkbps, txkbps,
                            "Dev [%s] Get NW stats average between '%s' and '%s'",
                            [&](int y, int m, int d, const std::string& from, const std::string& to, double& rx,
                                double& tx) { return nw_date_getstats(log, dev, y, m, d, from, to, rx, tx); });
}

int drive_timerange_getstats(tw_debug& log, std::string dev, long start, long end, double& rdsectps, double& wrsectps) {
    return rates_over_range(log, "drive_timerange_getstats", dev, start, end, rdsectps, wrsectps,
                            "Dev [%s] Get drive stats average between '%s' and '%s'",
                            [&](int y, int m, int d, const std::string& from, const std::string& to, double& rd,
                                double& wr) { return drive_date_getstats(log, dev, y, m, d, from, to, rd, wr); });
}

// --- the platform's three statistics ---

double tw_platform::get_cpu_usage(unsigned int minutes) { return get_cpu_usage(minutes, true); }

double tw_platform::get_cpu_usage(unsigned int minutes, bool record_interval) {
    const char* tag = "tw_platform::get_cpu_usage";
    long now = tsaf_utils::now();
    long start = get_intervalstart_datetime(log_, "sLastMonitorTimeCPU", now, minutes);
    cpu_usage_ = cpu_timerange_getused(log_, start, now);
    if (record_interval) tsaf_utils::set_reg_key("sLastMonitorTimeCPU", std::to_string(now));
    log_.logMessage(tag, tidewall::log_level::trace, "CPU Usage: [%f]%%", cpu_usage_);
    return cpu_usage_;
}

namespace {

// The interval start a caller shares between its devices: computed by the
// first one (and stored into start), taken as it stands by the others.
long shared_interval_start(tw_debug& log, std::string& start, const std::string& regkey, long now, unsigned minutes) {
    if (!start.empty()) return static_cast<long>(tsaf_utils::string_to_ulong(start));
    long from = get_intervalstart_datetime(log, regkey, now, minutes);
    start = std::to_string(from);
    return from;
}

}  // namespace

int tw_platform::get_nicdevstats(std::string dev, unsigned int minutes, double& rxkbps, double& txkbps,
                                 std::string regkey, std::string& start) {
    long now = tsaf_utils::now();
    long from = shared_interval_start(log_, start, regkey, now, minutes);
    int rc = nw_timerange_getstats(log_, dev, from, now, rxkbps, txkbps);
    if (rc != 0) rxkbps = txkbps = 0;
    return rc;
}

int tw_platform::get_driveiostats(std::string devpath, unsigned int minutes, double& rdsectps, double& wrsectps,
                                  std::string regkey, std::string& start) {
    long now = tsaf_utils::now();
    std::string dev = devpath.substr(devpath.rfind('/') + 1);  // /dev/sdb -> sdb
    long from = shared_interval_start(log_, start, regkey, now, minutes);
    int rc = drive_timerange_getstats(log_, dev, from, now, rdsectps, wrsectps);
    if (rc != 0) rdsectps = wrsectps = 0;
    return rc;
}
