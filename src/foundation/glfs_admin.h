#ifndef TIDEWALL_FOUNDATION_GLFS_ADMIN_H
#define TIDEWALL_FOUNDATION_GLFS_ADMIN_H

// GlusterFS administration over the gluster command line (--xml output).

#include <tidewall/tw_debug.h>

#include <list>
#include <string>

class glfs_brick {
public:
    glfs_brick() = default;
    // From a brick specification "host:/path".
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
    void set_name(const std::string& n) { name_ = n; }
    void get_brick_list(std::list<glfs_brick>& bricks) const { bricks = bricks_; }
    void set_brick_list(const std::list<glfs_brick>& bricks) { bricks_ = bricks; }

private:
    std::string name_;
    glfs_volume_type type_ = GLFS_VOL_ANY;
    std::list<glfs_brick> bricks_;
};

class glfs_admin {
public:
    static const int kTimeLimit = 100;

    glfs_admin();
    // Scans the volumes at once; throws TsException when gluster cannot be asked.
    explicit glfs_admin(std::list<std::string>& unused);

    // Names of all volumes; 0, or non-zero when gluster cannot be asked.
    int list_volumes(std::list<std::string>& names);

    // The names found by the scan at construction.
    const std::list<std::string>& scanned_volumes() const { return scanned_; }

    // Parses the XML of "volume list"; 0 or non-zero on malformed output or a failed operation.
    static int parse_volume_list(const std::string& xml, std::list<std::string>& names, std::string& error);

private:
    int query_volumes(std::list<std::string>& names, std::string& error);

    tw_debug log_;
    std::list<std::string> scanned_;
};

#endif
