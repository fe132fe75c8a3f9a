// Log rotation of the gluster logs (/etc/logrotate.d/glusterfs). The file is
// versioned: version 1 runs the product's first-action script, version 2 drops
// it and caps the logs by size. nLogrotateUpdateVersion records the version
// installed, so that nodes imaged with an older one are brought up to date.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/shell_quote.h"
#include "foundation/log/log_level.h"

#include <cstring>

namespace {

const char* const kGlusterLogrotate = "/etc/logrotate.d/glusterfs";
const char* const kVersionKey = "nLogrotateUpdateVersion";
const char* const kIndent = "    ";

// The file for a version. home is the product installation directory (dHOME),
// which names the scripts logrotate runs; it goes into their command lines
// quoted for the shell when it needs to be.
std::string gluster_logrotate_text(const std::string& home, int version) {
    const std::string in = kIndent;
    auto script = [&](const char* name) { return tidewall::shell_quote(home + name); };
    // The options of the two log blocks up to their postrotate script.
    auto common = [&](const char* maxsize) {
        std::string s;
        if (version == 1) {
            s += in + "firstaction\n";
            s += in + script("/ts_firstaction.sh") + " > /dev/null 2>&1\n";
            s += in + "endscript\n";
        }
        s += in + "sharedscripts\n";
        if (version == 2) s += in + "maxsize " + maxsize + "\n";
        s += in + "daily\n";
        s += in + "rotate 4\n";
        s += in + "missingok\n";
        s += in + "compress\n";
        s += in + "delaycompress\n";
        s += in + "notifempty\n";
        s += in + "postrotate\n";
        return s;
    };
    const std::string postscript = in + script("/ts_postscript.sh") + " /var/log/glusterfs > /dev/null 2>&1\n";
    std::string t;
    t += "# Rotate client logs\n";
    t += "/var/log/glusterfs/*.log {\n";
    t += common("25M");
    t += in + "/usr/bin/killall -HUP glusterfs > /dev/null 2>&1 || true\n";
    t += in + "/usr/bin/killall -HUP glusterd > /dev/null 2>&1 || true\n";
    t += postscript;
    t += in + "endscript\n";
    t += "}\n";
    t += "#\n";
    t += "# Rotate server logs\n";
    t += "/var/log/glusterfs/bricks/*.log {\n";
    t += common("10M");
    t += in + "/usr/bin/killall -HUP glusterfsd > /dev/null 2>&1 || true\n";
    t += postscript;
    t += in + "endscript\n";
    t += "}\n";
    t += "#\n";
    t += "/var/log/glusterfs/samples/*.samp {\n";
    t += in + "daily\n";
    t += in + "rotate 3\n";
    t += in + "sharedscripts\n";
    t += in + "missingok\n";
    t += in + "compress\n";
    t += in + "delaycompress\n";
    t += "}\n";
    return t;
}

int install_gluster_logrotate(tw_debug& log, const char* tag, int version) {
    std::string home;
    if (tsaf_utils::get_reg_key("dHOME", home) != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to query registry key dHOME");
        return -1;
    }
    int rc = tsaf_utils::write(kGlusterLogrotate, gluster_logrotate_text(home, version));
    if (rc != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to write [%s] error [%s]", kGlusterLogrotate,
                       std::strerror(rc));
        return -1;
    }
    return tsaf_utils::set_reg_key(kVersionKey, version == 1 ? "1" : "2");
}

}  // namespace

int tw_storage::create_glusterfs_logrotate_conf() {
    return install_gluster_logrotate(log_, "tw_storage::create_glusterfs_logrotate_conf", 1);
}

int tw_storage::create_glusterfs_logrotate_maxsize_conf() {
    return install_gluster_logrotate(log_, "tw_storage::create_glusterfs_logrotate_maxsize_conf", 2);
}

int tw_storage::switcher(int func_num) {
    const char* tag = "tw_storage::switcher";
    log_.logMessage(tag, tidewall::log_level::step, "switcher invoked with func_num : %d", func_num);
    if (func_num != 1 && func_num != 2) return -1;
    int rc = -1;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        rc = func_num == 1 ? create_glusterfs_logrotate_conf() : create_glusterfs_logrotate_maxsize_conf();
        if (rc == 0) {
            log_.logMessage(tag, tidewall::log_level::step, "Successfully updated glusterfs logrotate.");
            return 0;
        }
        log_.logMessage(tag, tidewall::log_level::failure,
                        func_num == 1 ? "Failed to update glusterfs logrotate. Retrying, attempt: %d"
                                      : "Failed to update glusterfs logrotate with maxsize. Retrying, attempt: %d",
                        attempt);
    }
    return rc;
}

void tw_storage::update_logrotate() {
    const char* tag = "tw_storage::update_logrotate";
    unsigned version = 0;
    if (tsaf_utils::get_reg_key(kVersionKey, version) != 0) version = 0;
    log_.logMessage(tag, tidewall::log_level::step, "log_version is %d", static_cast<int>(version));
    for (int v = 1; v <= 2; ++v)
        if (static_cast<unsigned>(v) > version) switcher(v);
}
