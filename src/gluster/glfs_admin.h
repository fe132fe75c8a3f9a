#ifndef TIDEWALL_FOUNDATION_GLFS_ADMIN_H
#define TIDEWALL_FOUNDATION_GLFS_ADMIN_H

// GlusterFS administration over the gluster command line ("--mode=script",
// "--xml" output parsed with pugixml). Every call is synchronous and runs with
// the host layer's command time limit.
//
// Backups kept by this library (nothing else reads them):
//   /var/lib/tidewall/glusterd-peers-backup/   copies of /var/lib/glusterd/peers/* and glusterd.info
//   /var/lib/tidewall/network-backup/          copies of the node's network configuration files
// Registry key nGlusterdPeerFilesBackupStatus (section Dockwright): 0 after a
// successful peer-file backup, 1 after a failed one.

#include <tidewall/tw_debug.h>

#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/host/time_limits.h"

class glfs_brick {
public:
    glfs_brick() = default;
    // From a brick as gluster names it: "host:/path".
    explicit glfs_brick(const std::string& spec);
    glfs_brick(std::string host, std::string mnt_path, bool online);

    const std::string& get_host_name() const { return host_name_; }
    const std::string& get_mnt_path() const { return mnt_path_; }
    bool get_is_online() const { return is_online_; }
    void set_is_online(bool v) { is_online_ = v; }
    std::string get_brick_path() const { return host_name_ + ":" + mnt_path_; }

private:
    std::string host_name_;
    std::string mnt_path_;
    bool is_online_ = false;
};

enum glfs_volume_type { GLFS_VOL_DISTRIBUTE = 0, GLFS_VOL_REPLICATE = 1, GLFS_VOL_DISPERSE = 2, GLFS_VOL_ANY = 3 };

class glfs_volume {
public:
    glfs_volume() = default;
    glfs_volume(std::string name, std::string, glfs_volume_type type) : name_(std::move(name)), type_(type) {}

    const std::string& get_name() const { return name_; }
    glfs_volume_type get_type() const { return type_; }
    const std::string& get_type_text() const { return type_text_; }
    void get_brick_list(std::list<glfs_brick>& bricks) const { bricks = bricks_; }

    // Sets the brick's online flag from the volume's brick status (read with the
    // volume, or asked now when it was not). A brick gluster does not list is
    // offline. -2 (flag untouched) when gluster cannot tell the bricks' state.
    int extract_brick_details(glfs_brick& brick);
    // Asks gluster for the bricks' state now: 0, or -2 when it cannot tell
    // (busy past the retry time, no answer); a stopped volume has every brick offline.
    int read_status();
    const std::string& status_error() const { return status_error_; }

    // Entries still to heal, as "brick:entry"; a brick whose heal state cannot
    // be read counts as one pending entry ("brick:status"), and so does a volume
    // gluster cannot be asked about. Empty: no heal in progress (or a volume
    // type that does not heal).
    std::set<std::string> get_heal_info();
    // The same, saying when the heal state cannot be read: 0 and the entries
    // still to heal, else -1 and the reason.
    int read_heal_info(std::set<std::string>& entries, std::string& error);

    // The query of a volume's heal state.
    static std::string heal_info_command(const std::string& volume);

    // Parsers of the gluster XML, for the admin and for tests.
    static int parse_info(const std::string& xml, glfs_volume& vol, std::string& error);
    static int parse_status(const std::string& xml, std::map<std::string, bool>& online, std::string& error);
    static int parse_heal_info(const std::string& xml, std::set<std::string>& entries, std::string& error);
    // "volume info all --xml": every volume by name, and those not started.
    static int parse_info_all(const std::string& xml, std::map<std::string, glfs_volume>& volumes,
                              std::set<std::string>& stopped, std::string& error);
    // "volume status all detail --xml": volume -> "host:/path" -> brick process online.
    static int parse_status_all(const std::string& xml, std::map<std::string, std::map<std::string, bool>>& online,
                                std::string& error);

private:
    friend class glfs_admin;
    std::string name_;
    glfs_volume_type type_ = GLFS_VOL_ANY;
    std::string type_text_;
    std::list<glfs_brick> bricks_;
    bool have_status_ = false;
    std::map<std::string, bool> online_;  // "host:/path" -> brick process online
    std::string status_error_;  // why the last status read failed
    tw_debug log_;
};

class glfs_admin {
public:
    static const int kTimeLimit = tidewall::time_limits::kDefaultS;

    glfs_admin();
    // Scans the volumes at once; throws TsException when gluster cannot be asked.
    explicit glfs_admin(std::list<std::string>& unused);

    // Names of all volumes; 0, or non-zero when gluster cannot be asked.
    int list_volumes(std::list<std::string>& names);
    // Fills vol with the volume's type and bricks; with_status also reads the
    // bricks' online state. 0, -1 when gluster cannot tell the volume, -2 when
    // it names the volume but cannot tell its bricks' state.
    // Within a pass (glfs_xml::query_pass) the volumes' details come from one
    // "volume info all" and one "volume status all detail" answer; a volume
    // those do not cover is asked about alone.
    int extract_volume_info(const std::string& name, glfs_volume& vol, bool with_status);

    // Within a pass, asks the heal state of these volumes side by side (at most
    // `workers` at once), so that the checks after it find the answers ready.
    // Outside a pass it does nothing.
    static void prefetch_heal_info(const std::vector<std::string>& volumes, size_t workers);

    // The peer name gluster knows for an address, else the address's DNS name;
    // empty when none.
    std::string ip_to_hname(const std::string& ip);

    // 1 when a glusterd peer file is empty or lacks its uuid or host name
    // (glusterd then refuses to start); 0 when all are sound or there are none.
    int glusterd_peer_files_healthy();
    // Puts back the backed-up copy of every damaged or missing peer file; 0 on success.
    int restore_glusterd_peer_files();
    int start_glusterd();
    int backup_glusterd_peer_files_local();
    int backup_network_files_local();

    // Volume options for many small files; 0 when all were set.
    int optimize_small_file_access(const std::string& volume);
    int set_volume_property(const std::string& volume, const std::string& key, const std::string& value);

    // The names found by the scan at construction.
    const std::list<std::string>& scanned_volumes() const { return scanned_; }

    static int parse_volume_list(const std::string& xml, std::list<std::string>& names, std::string& error);
    // Output of "volume set" and other plain operations: 0 when opRet is 0.
    static int parse_op_result(const std::string& xml, std::string& error);
    // "pool list --xml": every name a peer is known by -> its primary host name.
    static int parse_pool_names(const std::string& xml, std::map<std::string, std::string>& names, std::string& error);

private:
    // The volume from the pass's all-volume answers: true and rc when they
    // decide it, false when it must be asked about alone.
    bool volume_from_pass(const std::string& name, glfs_volume& vol, bool with_status, int& rc);
    int query_volumes(std::list<std::string>& names, std::string& error);

    tw_debug log_;
    std::list<std::string> scanned_;
};

#endif
