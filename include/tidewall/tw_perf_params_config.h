#ifndef TIDEWALL_TW_PERF_PARAMS_CONFIG_H
#define TIDEWALL_TW_PERF_PARAMS_CONFIG_H

// Versioned operating-system tuning of the node. The tuning comes in numbered
// versions, 1 to kMaxVersion; the registry key nPerfParamsVersion (section
// Dockwright) records the highest one applied. configure() applies every later
// version in ascending order and records each success at once, so a node
// installed long ago and a new one end up tuned alike, and a run that stops at a
// failing version resumes there next time. Concurrent configure() calls (in one
// process or several) are serialised by the node's tuning lock: a second one
// waits up to 30 s, then fails.
//
// The other operations are the shared steps the versions use. All return 0 on
// success and non-zero on failure unless said otherwise; everything is logged
// to the product log under the operation's qualified name.

#include <tidewall/export.h>
#include <tidewall/tw_debug.h>

#include <list>
#include <string>

class TW_API tw_perf_params_config {
public:
    // The highest tuning version this library knows.
    static constexpr unsigned long long kMaxVersion = 7;
    // The registry key (section Dockwright) holding the version applied.
    static constexpr const char* kVersionKey = "nPerfParamsVersion";

    tw_perf_params_config();
    ~tw_perf_params_config();

    // Applies the versions after the recorded one; 0, or the code of the version
    // that failed (the record then names the last version that succeeded). A
    // record above kMaxVersion (from a newer release) makes this a no-op. A
    // version applied but not recorded stops the run with 1, as does another
    // tuning run holding the node's tuning lock past its wait.
    int configure();
    // The same; failure says in words for people what stopped the run when it
    // was not a version's own failure (that one is in the product log):
    // "version 7 applied but not recorded: ...; the node stays at version 6",
    // "another tuning is running (pid 123)".
    int configure(std::string& failure);
    // The same; first_applied and last_applied name the versions this call
    // applied and recorded (both 0 when it applied none: the node was up to
    // date, or another run applied them while this one waited for the lock).
    int configure(std::string& failure, unsigned long long& first_applied, unsigned long long& last_applied);

    // Read and write nPerfParamsVersion; a missing or unreadable key is 1 and
    // leaves version as it was.
    int get_configured_version(unsigned long long& version);
    int set_configured_version(unsigned long long& version);

    // Runs a command (time limit 100 s); 0, or the command's status.
    int run_cmd(const std::string& cmd);

    // Whether /etc/passwd has an account of exactly this name.
    void user_exist(const std::string& name, bool& found);

    // Sets the line of a configuration file that starts (after blanks and tabs)
    // with name to line, keeping its indentation; with append, adds line at the
    // end when no line starts with name. The old file is copied to
    // /tmp/<file name>.bak first, the new text is also left in /tmp/perf.conf,
    // and the file is replaced atomically, keeping its mode and owner. A missing
    // file with nothing to add is left missing.
    int update_conf_file(const std::string& path, const std::string& name, const std::string& line, bool append);

    // Network interfaces (ifconfig, less bonds, loop-back and virtual ones),
    // their link speed in Mb/s and MAC address as sysfs gives them, and the
    // ifcfg file under /etc/sysconfig/network-scripts naming that MAC address.
    int get_nw_if_list(std::list<std::string>& interfaces);
    int get_nw_if_speed(const std::string& nw_if, std::string& speed);
    int get_nw_if_mac_addr(const std::string& nw_if, std::string& address);
    int get_nw_if_conf_file(const std::string& mac, std::string& path);

    // MemTotal of /proc/meminfo, in kB.
    int get_ram_size(unsigned long long& size_kb);

    // Ring sizes of an interface from "ethtool -g": pre-set maximums and current.
    int get_nw_if_ring_buffer_values(const std::string& nw_if, unsigned& max_rx, unsigned& max_tx, unsigned& current_rx,
                                     unsigned& current_tx);

    // The gluster volumes, less the two DAV volumes, appended in gluster's order.
    int get_gluster_volumes(std::list<std::string>& volumes);

private:
    int run_version(unsigned long long version);

    tw_debug log_;
};

#endif
