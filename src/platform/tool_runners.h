#ifndef TIDEWALL_PLATFORM_TOOL_RUNNERS_H
#define TIDEWALL_PLATFORM_TOOL_RUNNERS_H

// The vendor and system tools the inventory reads, each behind one runner that
// logs the command, runs it through the host layer (time limit 100 s), logs a
// failure with its status and, at debug level 3, dumps the output. The argument
// text is appended unchanged: it carries its own words and quoting. Each returns
// the command's status (0 success); the output lines come back whatever it is.

#include <tidewall/tw_debug.h>

#include <list>
#include <map>
#include <string>

int run_dmidecode(tw_debug& log, std::string args, std::list<std::string>& out);
// Retries a failing run up to retry_count_get(retry_count, 10) more times,
// 100 ms apart, into the same output list. Remote runs go over lanplus.
int run_ipmitool(tw_debug& log, std::string args, std::list<std::string>& out, bool remote, std::string host,
                 std::string user, std::string password, int retry_count);
int run_amcli(tw_debug& log, std::string args, std::list<std::string>& out);
int run_megacli(tw_debug& log, std::string args, std::list<std::string>& out);
// -1 without running anything when the ssacli package is not installed.
int run_hpcli(tw_debug& log, std::string args, std::list<std::string>& out);

// A local ipmitool run, as every caller in the library makes it.
inline int run_ipmitool_local(tw_debug& log, const std::string& args, std::list<std::string>& out, int retry_count) {
    return run_ipmitool(log, args, out, false, "", "", "", retry_count);
}

// The name of an IPMI sensor inside double quotes, as "sdr get" takes it.
std::string ipmi_quote_sensor(const std::string& name);

// A value for a command line whose text puts it inside double quotes: the
// double-quoted form, unless the value holds a character the shell still
// expands there ($, `, \ or "), which gets single quotes instead.
std::string double_quoted_arg(const std::string& value);

// 0 and the IPMI entity ID of the named sensor (such as "10.1"), or -1.
int ipmi_get_entityid(tw_debug& log, std::string sensor_name, std::string& entity_id);

// Processor temperatures by 1-based sensor ordinal from the IPMI temperature
// listing; the number of entries, or -1 when the listing cannot be read.
int proc_temp_map_init(tw_debug& log, std::map<int, unsigned int>& temps);

#endif
