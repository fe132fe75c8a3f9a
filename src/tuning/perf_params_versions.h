#ifndef TIDEWALL_TUNING_PERF_PARAMS_VERSIONS_H
#define TIDEWALL_TUNING_PERF_PARAMS_VERSIONS_H

// The tuning versions the driver (tw_perf_params_config::configure) applies in
// order. Each is applied once per node; every step of each can run again
// without harm, because a failed version runs again whole on the next call.
// configure() returns 0 on success, else the status of the failing step.

#include <tidewall/tw_debug.h>
#include <tidewall/tw_perf_params_config.h>

#include <list>
#include <map>
#include <string>

// Version 1: data-mover registry values, ring buffers of 10 Gb/s interfaces,
// kernel parameters, tuned profile, periodic TRIM, thin-pool auto-extend,
// blacklisted product modules, directories of the local web application.
class tw_perf_params_version_v1 {
public:
    tw_perf_params_version_v1();
    int configure();

private:
    void tune_ring_buffers(tw_perf_params_config& config, const std::string& name, const std::string& value,
                           const std::list<std::string>& fast_interfaces, const std::string& ring_options);
    int set_sysctl(tw_perf_params_config& config, const std::string& name, const std::string& value);
    int enable_fstrim(tw_perf_params_config& config, const std::string& service);
    int blacklist_module(tw_perf_params_config& config, const std::string& module, const std::string& line);
    int make_web_directories(tw_perf_params_config& config, const std::string& directory);

    std::map<std::string, std::string> params_;
    tw_debug log_;
};

// Version 2: small-file options on the gluster volumes, container thresholds.
class tw_perf_params_version_v2 {
public:
    int configure();

private:
    tw_debug log_;
};

// Version 3: the /boot/efi entry of /etc/fstab by UUID on an EFI node.
class tw_perf_params_version_v3 {
public:
    int configure();
    int update_boot_efi_fstab();

private:
    tw_debug log_;
};

// Version 4: inotify watch limit, nofail on the DAV volumes' fstab entries, the
// tendrl agent off, a local copy of the network files.
class tw_perf_params_version_v4 {
public:
    int configure();
    int update_inotify_watches();
    int update_replica_volume_fstab();
    void disable_tendrl_node_service();
    int backup_config_files();

private:
    tw_debug log_;
};

// Version 5: disperse self-heal window, abrt keeps cores of unpackaged
// programs, lldpad off.
class tw_perf_params_version_v5 {
public:
    int configure();
    int set_gluster_volume_heal_window_size();
    int enable_save_core_dump();
    void disable_lldpad();

private:
    tw_debug log_;
};

// Version 6: the Maldor node list stamped onto the data drives of a Maldor node.
class tw_perf_params_version_v6 {
public:
    int configure();
    int stamp_maldor_xattrs();

private:
    tw_debug log_;
};

// Version 7: multipath gives up a lost path after 4 retries; network files
// copied to the data drives.
class tw_perf_params_version_v7 {
public:
    int configure();
    int update_multipath_config();
    int backup_config_files();

private:
    tw_debug log_;
};

#endif
