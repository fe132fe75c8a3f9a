// Gluster administration: volume listing, volume and brick details, volume
// options and address-to-name lookup, over the gluster command line.

#include "gluster/glfs_admin.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/worker_pool.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_xml.h"

#include <tidewall/ts_exception.h>

using tidewall::shell_quote;

glfs_brick::glfs_brick(const std::string& spec) {
    // host:/path; a spec without host keeps the whole text as the path.
    size_t colon = spec.find(":/");
    if (colon == std::string::npos) {
        mnt_path_ = spec;
    } else {
        host_name_ = spec.substr(0, colon);
        mnt_path_ = spec.substr(colon + 1);
    }
}

glfs_brick::glfs_brick(std::string host, std::string mnt_path, bool online)
    : host_name_(std::move(host)), mnt_path_(std::move(mnt_path)), is_online_(online) {}

glfs_admin::glfs_admin() = default;

glfs_admin::glfs_admin(std::list<std::string>&) {
    const char* tag = "glfs_admin::glfs_admin";
    std::string error;
    if (query_volumes(scanned_, error) != 0) {
        log_.logMessage(tag, tidewall::log_level::detail, "Failed to list gluster volumes error [%s]", error.c_str());
        throw TsException(tag, error, "glfs_admin", __LINE__, -1);
    }
}

int glfs_admin::parse_volume_list(const std::string& xml, std::list<std::string>& names, std::string& error) {
    pugi::xml_document doc;
    pugi::xml_node cli;
    if (tidewall::glfs_xml::open(xml, doc, cli, error) != 0) return -1;
    std::list<std::string> found;
    for (auto v : cli.child("volList").children("volume")) found.push_back(v.text().get());
    names.splice(names.end(), found);
    return 0;
}

int glfs_admin::parse_op_result(const std::string& xml, std::string& error) {
    pugi::xml_document doc;
    pugi::xml_node cli;
    return tidewall::glfs_xml::open(xml, doc, cli, error);
}

int glfs_admin::parse_pool_names(const std::string& xml, std::map<std::string, std::string>& names,
                                 std::string& error) {
    pugi::xml_document doc;
    pugi::xml_node cli;
    if (tidewall::glfs_xml::open(xml, doc, cli, error) != 0) return -1;
    for (auto peer : cli.child("peerStatus").children("peer")) {
        std::string primary = peer.child_value("hostname");
        if (primary.empty()) continue;
        names.emplace(primary, primary);
        for (auto alias : peer.child("hostnames").children("hostname")) names.emplace(alias.text().get(), primary);
    }
    return 0;
}

int glfs_admin::query_volumes(std::list<std::string>& names, std::string& error) {
    std::string xml;
    int rc = tidewall::glfs_xml::ask("gluster --mode=script volume list --xml", xml, error);
    if (rc != 0) return rc;
    return parse_volume_list(xml, names, error);
}

int glfs_admin::list_volumes(std::list<std::string>& names) {
    std::string error;
    int rc = query_volumes(names, error);
    if (rc != 0)
        log_.logMessage("glfs_admin::list_volumes", tidewall::log_level::failure, "Failed to list volumes error [%s]",
                        error.c_str());
    return rc;
}

namespace {

// The pass's one "volume info all" answer, read on first use.
tidewall::glfs_xml::answers::volume_views& all_volume_info(tidewall::glfs_xml::answers& pass) {
    auto& views = pass.views();
    std::call_once(views.info_once, [&] {
        std::string xml, error;
        bool busy = false;
        if (tidewall::glfs_xml::ask("gluster --mode=script volume info all --xml", xml, error, &busy) == 0 &&
            glfs_volume::parse_info_all(xml, views.info, views.stopped, error) == 0)
            views.have_info = true;
        else
            views.info_busy = busy;
    });
    return views;
}

}  // namespace

bool glfs_admin::volume_from_pass(const std::string& name, glfs_volume& vol, bool with_status, int& rc) {
    const char* tag = "glfs_admin::extract_volume_info";
    auto pass = tidewall::glfs_xml::current_pass();
    if (!pass) return false;
    auto& views = all_volume_info(*pass);
    if (views.info_busy) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to read volume [%s] error [gluster stayed busy]",
                        name.c_str());
        rc = -1;
        return true;
    }
    auto found = views.info.find(name);
    if (!views.have_info || found == views.info.end()) return false;
    vol.name_ = found->second.name_;
    vol.type_ = found->second.type_;
    vol.type_text_ = found->second.type_text_;
    vol.bricks_ = found->second.bricks_;
    vol.have_status_ = false;
    vol.online_.clear();
    rc = 0;
    if (!with_status) return true;
    if (views.stopped.count(name)) {
        // A volume not started has no brick process: every brick is offline.
        vol.have_status_ = true;
        return true;
    }
    std::call_once(views.status_once, [&] {
        std::string xml, error;
        if (tidewall::glfs_xml::ask("gluster --mode=script volume status all detail --xml", xml, error) == 0 &&
            glfs_volume::parse_status_all(xml, views.status, error) == 0)
            views.have_status = true;
    });
    auto state = views.status.find(name);
    if (views.have_status && state != views.status.end()) {
        vol.online_ = state->second;
        vol.have_status_ = true;
        return true;
    }
    // Not in the answer for all (started since, or gluster could not say): asked alone.
    if (vol.read_status() != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Brick state of volume [%s] unknown error [%s]",
                        name.c_str(), vol.status_error_.c_str());
        rc = -2;
    }
    return true;
}

void glfs_admin::prefetch_heal_info(const std::vector<std::string>& volumes, size_t workers) {
    auto pass = tidewall::glfs_xml::current_pass();
    if (!pass || volumes.empty()) return;
    // Only volumes that heal: a plain distribute volume is never asked. Without
    // the types the checks ask one by one, as outside a pass.
    const auto& views = all_volume_info(*pass);
    if (!views.have_info) return;
    std::vector<std::string> healing;
    for (const auto& name : volumes) {
        auto v = views.info.find(name);
        if (v != views.info.end() && v->second.get_type() != GLFS_VOL_DISTRIBUTE) healing.push_back(name);
    }
    tidewall::host::run_bounded(healing.size(), workers,
                                [&](size_t i) { pass->get(glfs_volume::heal_info_command(healing[i])); });
}

int glfs_admin::extract_volume_info(const std::string& name, glfs_volume& vol, bool with_status) {
    const char* tag = "glfs_admin::extract_volume_info";
    int from_pass = 0;
    if (volume_from_pass(name, vol, with_status, from_pass)) return from_pass;
    std::string xml, error;
    glfs_volume found;
    if (tidewall::glfs_xml::ask("gluster --mode=script volume info " + shell_quote(name) + " --xml", xml, error) != 0 ||
        glfs_volume::parse_info(xml, found, error) != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to read volume [%s] error [%s]", name.c_str(),
                        error.c_str());
        return -1;
    }
    if (found.name_ != name) {
        log_.logMessage(tag, tidewall::log_level::failure, "Gluster answered for volume [%s] when asked for [%s]",
                        found.name_.c_str(), name.c_str());
        return -1;
    }
    vol.name_ = found.name_;
    vol.type_ = found.type_;
    vol.type_text_ = found.type_text_;
    vol.bricks_ = found.bricks_;
    vol.have_status_ = false;
    vol.online_.clear();
    if (with_status) {
        int rc = vol.read_status();
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Brick state of volume [%s] unknown error [%s]",
                            name.c_str(), vol.status_error_.c_str());
            return rc;
        }
    }
    return 0;
}

std::string glfs_admin::ip_to_hname(const std::string& ip) {
    std::string xml, error;
    std::map<std::string, std::string> names;
    if (tidewall::glfs_xml::run("gluster --mode=script pool list --xml", xml, error) == 0 &&
        parse_pool_names(xml, names, error) == 0) {
        auto it = names.find(ip);
        if (it != names.end() && it->second != ip) return it->second;
    }
    std::string name;
    if (tidewall::host::current().name_of(ip, name) == 0 && name != ip) return name;
    return "";
}

int glfs_admin::set_volume_property(const std::string& volume, const std::string& key, const std::string& value) {
    const char* tag = "glfs_admin::set_volume_property";
    std::string xml, error;
    std::string cmd = "gluster --mode=script volume set " + shell_quote(volume) + " " + shell_quote(key) + " " +
                      shell_quote(value) + " --xml";
    log_.logMessage(tag, tidewall::log_level::step, "Will set volume property using command [%s]", cmd.c_str());
    int rc = tidewall::glfs_xml::run(cmd, xml, error);
    if (rc == 0) rc = parse_op_result(xml, error);
    if (rc != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to set [%s] to [%s] on volume [%s] error [%s]",
                        key.c_str(), value.c_str(), volume.c_str(), error.c_str());
    return rc;
}

int glfs_admin::optimize_small_file_access(const std::string& volume) {
    // Metadata caching and parallel directory reads: the usual gluster tuning
    // for many small files (backup chunks, catalogue entries).
    static const std::pair<const char*, const char*> kOptions[] = {
        {"features.cache-invalidation", "on"},   {"features.cache-invalidation-timeout", "600"},
        {"performance.stat-prefetch", "on"},     {"performance.cache-invalidation", "on"},
        {"performance.md-cache-timeout", "600"}, {"network.inode-lru-limit", "200000"},
        {"performance.readdir-ahead", "on"},     {"performance.parallel-readdir", "on"},
    };
    int result = 0;
    for (const auto& [key, value] : kOptions) {
        int rc = set_volume_property(volume, key, value);
        if (rc != 0 && result == 0) result = rc;
    }
    return result;
}
