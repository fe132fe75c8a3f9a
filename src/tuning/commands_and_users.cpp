// Running a tuning command, and whether a user account exists.

#include <tidewall/tw_perf_params_config.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"

int tw_perf_params_config::run_cmd(const std::string& cmd) {
    const char* tag = "tw_perf_params_config::run_cmd";
    log_.logMessage(tag, tidewall::log_level::step, "command [%s]", cmd.c_str());
    std::list<std::string> lines;
    std::string err;
    int rc = tsaf_utils::execute_command(cmd, lines, err, tidewall::time_limits::kDefaultS);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "command [%s] failed with error [%s]", cmd.c_str(),
                        tsaf_utils::trim(err).c_str());
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step, "command [%s] succeeded", cmd.c_str());
    return 0;
}

void tw_perf_params_config::user_exist(const std::string& name, bool& found) {
    found = false;
    std::list<std::string> lines;
    tsaf_utils::read_file("/etc/passwd", lines);
    // The account name is the first field. Any line merely containing the name
    // (apache-tomcat, a home directory under /var/www/apache) is someone else,
    // and the chown that follows would then fail on every run.
    for (const auto& line : lines) {
        if (!name.empty() && line.compare(0, name.size(), name) == 0 && line.size() > name.size() &&
            line[name.size()] == ':') {
            found = true;
            return;
        }
    }
}
