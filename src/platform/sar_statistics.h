#ifndef TIDEWALL_PLATFORM_SAR_STATISTICS_H
#define TIDEWALL_PLATFORM_SAR_STATISTICS_H

// Activity averages from sar's daily data files (/var/log/sa/saDD). A time
// range is read day by day, in local time: the first and last days from and to
// the range's own times of day, the days between whole. Each day contributes
// the "Average" line of its file; a day without data, a file of another date or
// a value of exactly 0 contributes nothing, so it does not lower the average.

#include <tidewall/tw_debug.h>

#include <string>

// /var/log/sa/saDD of day of month `day`.
std::string sar_get_filename(int day);
// Whether sar's first output line names year-month-day (MM/DD/YYYY or MM/DD/YY).
bool sar_filedate_check(tw_debug& log, std::string first_line, int year, int month, int day);
// now - minutes, or with minutes 0 the time stored in regkey, else now - 30 minutes.
long get_intervalstart_datetime(tw_debug& log, std::string regkey, long now, unsigned int minutes);

// One day's file between two "HH:MM:SS" times: CPU busy percent (0 when unknown).
double cpu_date_getused(tw_debug& log, int year, int month, int day, std::string start, std::string end);
// The mean of the daily CPU figures over [start, end]; 0 when none.
double cpu_timerange_getused(tw_debug& log, long start, long end);

// One day's received and sent kB/s of interface dev; 0 (rates 0 when dev is
// absent), or -1 when the file cannot be read.
int nw_date_getstats(tw_debug& log, std::string dev, int year, int month, int day, std::string start, std::string end,
                     double& rxkbps, double& txkbps);
int nw_timerange_getstats(tw_debug& log, std::string dev, long start, long end, double& rxkbps, double& txkbps);

// One day's sectors read and written per second of disk dev (such as sdb).
int drive_date_getstats(tw_debug& log, std::string dev, int year, int month, int day, std::string start,
                        std::string end, double& rdsectps, double& wrsectps);
int drive_timerange_getstats(tw_debug& log, std::string dev, long start, long end, double& rdsectps, double& wrsectps);

#endif
