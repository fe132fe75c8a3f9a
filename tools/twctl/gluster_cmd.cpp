// twctl gluster bricks VOLUME [--json]: every brick of a volume, whether it is
// this node's and online, and for this node's bricks their gluster attributes
// and device; whether entries wait to heal.
// twctl gluster mounts [--json]: the gluster mounts of /etc/fstab, served by
// this node or another, and whether each is mounted now.

#include "cli.h"
#include "json_out.h"

#include <tidewall/tw_storage.h>

#include <cstdio>
#include <vector>

namespace {

struct brick_row {
    gluster_brick_info info;
    bool brick_attrs = false;
    std::string device;
};

int gluster_bricks(const std::string& volume, bool json) {
    tw_storage storage;
    std::list<gluster_brick_info> bricks;
    if (storage.get_gluster_brick_list(volume, bricks) != 0) {
        std::fprintf(stderr, "twctl gluster bricks: cannot read volume '%s' from gluster%s (see %s)\n", volume.c_str(),
                     twctl::failure_reason().c_str(), twctl::log_file().c_str());
        return 1;
    }
    std::vector<brick_row> rows;
    for (const auto& b : bricks) {
        brick_row r;
        r.info = b;
        if (b.local) {
            r.brick_attrs = storage.is_gluster_brick_path(b.mnt_path) == 1;
            storage.get_brick_bdev(b.mnt_path, r.device);
        }
        rows.push_back(r);
    }
    bool healing = storage.heal_in_progress(volume) == 1;
    if (json) {
        twjson::Array list;
        for (const auto& r : rows) {
            twjson::Object o;
            o << "host" << r.info.host_name << "path" << r.info.mnt_path << "local" << r.info.local << "online"
              << r.info.online;
            if (r.info.local) o << "brick_attributes" << r.brick_attrs << "device" << twctl::text_or_null(r.device);
            list << std::move(o);
        }
        twjson::Object doc;
        doc << "volume" << volume << "heal_in_progress" << healing << "bricks" << std::move(list);
        twctl::print_document(doc);
        return 0;
    }
    std::printf("Volume %s: %s\n", volume.c_str(), healing ? "entries waiting to heal" : "nothing to heal");
    std::printf("%-32s %-36s %-7s %-8s %s\n", "HOST", "BRICK", "LOCAL", "ONLINE", "ATTRIBUTES / DEVICE");
    for (const auto& r : rows) {
        std::string extra = "-";
        if (r.info.local)
            extra = std::string(r.brick_attrs ? "brick" : "no brick attributes") + ", " +
                    (r.device.empty() ? "device unknown" : r.device);
        std::printf("%-32s %-36s %-7s %-8s %s\n", r.info.host_name.c_str(), r.info.mnt_path.c_str(),
                    r.info.local ? "yes" : "no", r.info.online ? "yes" : "no", extra.c_str());
    }
    return 0;
}

int gluster_mounts(bool json) {
    tw_storage storage;
    std::list<gluster_vol_mount_info> mounts;
    if (storage.get_gluster_vols_mount_info(mounts) != 0) {
        std::fprintf(stderr, "twctl gluster mounts: cannot read /etc/fstab\n");
        return 1;
    }
    std::string hname, address;
    bool know_name = storage.get_tw_hname(hname, address) == 0;
    struct row {
        gluster_vol_mount_info m;
        bool mounted;
        std::string device;
    };
    std::vector<row> rows;
    for (const auto& m : mounts) {
        row r{m, false, ""};
        std::string type;
        std::list<std::string> opts;
        r.mounted = storage.is_mounted(m.mnt_path, r.device, type, opts) == 1;
        rows.push_back(r);
    }
    auto served = [&](const gluster_vol_mount_info& m) -> std::string {
        if (!know_name) return "unknown";
        return m.host_name == hname ? "local" : "remote";
    };
    if (json) {
        twjson::Array list;
        for (const auto& r : rows) {
            twjson::Object o;
            o << "host" << r.m.host_name << "volume" << r.m.vol_name << "mount_path" << r.m.mnt_path << "options"
              << r.m.mnt_opts << "served" << served(r.m) << "mounted" << r.mounted << "mounted_device"
              << (r.mounted ? twjson::Value(r.device) : twjson::Value());
            list << std::move(o);
        }
        twjson::Object doc;
        doc << "storage_host_name" << (know_name ? twjson::Value(hname) : twjson::Value()) << "mounts"
            << std::move(list);
        twctl::print_document(doc);
        return 0;
    }
    std::printf("Storage host name: %s\n",
                know_name ? hname.c_str() : ("(does not resolve; see " + twctl::log_file() + ")").c_str());
    std::printf("%-28s %-20s %-20s %-24s %-8s %s\n", "HOST", "VOLUME", "MOUNT PATH", "OPTIONS", "SERVED", "STATE");
    for (const auto& r : rows)
        std::printf("%-28s %-20s %-20s %-24s %-8s %s\n", r.m.host_name.c_str(), r.m.vol_name.c_str(),
                    r.m.mnt_path.c_str(), r.m.mnt_opts.empty() ? "-" : r.m.mnt_opts.c_str(), served(r.m).c_str(),
                    r.mounted ? ("mounted (" + r.device + ")").c_str() : "not mounted");
    return 0;
}

}  // namespace

void twctl::add_gluster_commands(CLI::App& root) {
    static bool json = false;
    static std::string volume;
    CLI::App* gluster = add_group(root, "gluster", "GlusterFS volumes: bricks and mounts");
    CLI::App* bricks =
        add_command(*gluster, "bricks", "bricks of a volume: this node's, online, brick attributes, device",
                    [] { return gluster_bricks(volume, json); });
    bricks->add_option("VOLUME", volume, "the gluster volume")->required();
    bricks->add_flag("--json", json, "print a JSON document");
    add_command(*gluster, "mounts", "gluster mounts of /etc/fstab: served here or remote, mounted now", [] {
        return gluster_mounts(json);
    })->add_flag("--json", json, "print a JSON document");
}
