// A gluster volume: its bricks, their online state and its heal state.

#include "gluster/glfs_admin.h"

#include "foundation/host/shell_quote.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_xml.h"

namespace {

void fill_from(const pugi::xml_node& v, glfs_volume_type& type, std::string& name, std::string& type_text,
               std::list<glfs_brick>& bricks) {
    name = v.child_value("name");
    type_text = v.child_value("typeStr");
    const std::string& t = type_text;
    type = t.find("Disperse") != std::string::npos    ? GLFS_VOL_DISPERSE
           : t.find("Replicate") != std::string::npos ? GLFS_VOL_REPLICATE
                                                      : GLFS_VOL_DISTRIBUTE;
    bricks.clear();
    for (auto b : v.child("bricks").children("brick")) {
        std::string spec = b.child_value("name");
        if (spec.empty()) spec = b.text().get();  // older gluster: the text only
        bricks.emplace_back(spec);
    }
}

}  // namespace

int glfs_volume::parse_info(const std::string& xml, glfs_volume& vol, std::string& error) {
    pugi::xml_document doc;
    pugi::xml_node cli;
    if (tidewall::glfs_xml::open(xml, doc, cli, error) != 0) return -1;
    auto v = cli.child("volInfo").child("volumes").child("volume");
    if (!v) {
        error = "no volume in gluster's answer";
        return -1;
    }
    fill_from(v, vol.type_, vol.name_, vol.type_text_, vol.bricks_);
    return 0;
}

int glfs_volume::parse_info_all(const std::string& xml, std::map<std::string, glfs_volume>& volumes,
                                std::set<std::string>& stopped, std::string& error) {
    pugi::xml_document doc;
    pugi::xml_node cli;
    if (tidewall::glfs_xml::open(xml, doc, cli, error) != 0) return -1;
    auto list = cli.child("volInfo").child("volumes");
    if (!list) {
        error = "no volume list in gluster's answer";
        return -1;
    }
    for (auto v : list.children("volume")) {
        glfs_volume vol;
        fill_from(v, vol.type_, vol.name_, vol.type_text_, vol.bricks_);
        if (vol.name_.empty()) continue;
        // statusStr "Created" or "Stopped": no brick process runs.
        if (v.child("status") && v.child("status").text().as_int(1) != 1) stopped.insert(vol.name_);
        volumes[vol.name_] = vol;
    }
    return 0;
}

int glfs_volume::parse_status_all(const std::string& xml, std::map<std::string, std::map<std::string, bool>>& online,
                                  std::string& error) {
    pugi::xml_document doc;
    pugi::xml_node cli;
    if (tidewall::glfs_xml::open(xml, doc, cli, error) != 0) return -1;
    for (auto v : cli.child("volStatus").child("volumes").children("volume")) {
        auto& bricks = online[v.child_value("volName")];
        for (auto n : v.children("node")) {
            std::string path = n.child_value("path");
            if (path.empty() || path[0] != '/') continue;  // self-heal and NFS daemons
            bricks[std::string(n.child_value("hostname")) + ":" + path] = n.child("status").text().as_int(0) == 1;
        }
    }
    return 0;
}

int glfs_volume::parse_status(const std::string& xml, std::map<std::string, bool>& online, std::string& error) {
    pugi::xml_document doc;
    pugi::xml_node cli;
    if (tidewall::glfs_xml::open(xml, doc, cli, error) != 0) return -1;
    for (auto v : cli.child("volStatus").child("volumes").children("volume")) {
        for (auto n : v.children("node")) {
            std::string path = n.child_value("path");
            // Self-heal and NFS daemons are listed as nodes too; bricks have absolute paths.
            if (path.empty() || path[0] != '/') continue;
            online[std::string(n.child_value("hostname")) + ":" + path] = n.child("status").text().as_int(0) == 1;
        }
    }
    return 0;
}

int glfs_volume::parse_heal_info(const std::string& xml, std::set<std::string>& entries, std::string& error) {
    pugi::xml_document doc;
    pugi::xml_node cli;
    if (tidewall::glfs_xml::open(xml, doc, cli, error) != 0) return -1;
    auto bricks = cli.child("healInfo").child("bricks");
    if (!bricks) {
        error = "no heal information in gluster's answer";
        return -1;
    }
    for (auto b : bricks.children("brick")) {
        std::string brick = b.child_value("name");
        std::string status = b.child_value("status");
        std::string count = b.child_value("numberOfEntries");
        size_t listed = 0;
        for (auto f : b.children("file")) {
            entries.insert(brick + ":" + f.text().get());
            ++listed;
        }
        if (status != "Connected") {
            // A brick that cannot be asked may hold anything still to heal.
            entries.insert(brick + ":" + (status.empty() ? "unknown" : status));
        } else if (listed == 0 && !count.empty() && count != "0") {
            entries.insert(brick + ":" + count + " entries");
        }
    }
    return 0;
}

int glfs_volume::read_status() {
    std::string xml;
    status_error_.clear();
    online_.clear();
    int rc = tidewall::glfs_xml::ask(
        "gluster --mode=script volume status " + tidewall::shell_quote(name_) + " detail --xml", xml, status_error_);
    if (rc == 0) rc = parse_status(xml, online_, status_error_);
    if (rc != 0 && status_error_.find("is not started") != std::string::npos) {
        // A stopped volume has no brick status: every brick is offline.
        online_.clear();
        rc = 0;
    }
    // Any other failure (gluster busy past the retry time, no answer) says
    // nothing about the bricks: their state stays unknown, never "offline".
    have_status_ = rc == 0;
    return rc == 0 ? 0 : -2;
}

int glfs_volume::extract_brick_details(glfs_brick& brick) {
    if (!have_status_ && read_status() != 0) return -2;
    auto it = online_.find(brick.get_brick_path());
    brick.set_is_online(it != online_.end() && it->second);
    return 0;
}

std::string glfs_volume::heal_info_command(const std::string& volume) {
    return "gluster --mode=script volume heal " + tidewall::shell_quote(volume) + " info --xml";
}

int glfs_volume::read_heal_info(std::set<std::string>& entries, std::string& error) {
    entries.clear();
    std::string xml;
    if (tidewall::glfs_xml::ask(heal_info_command(name_), xml, error) == 0 &&
        parse_heal_info(xml, entries, error) == 0) {
        error.clear();
        return 0;
    }
    // Volumes that do not heal (plain distribute) say so: nothing to heal.
    return error.find("is not of type") != std::string::npos ? 0 : -1;
}

std::set<std::string> glfs_volume::get_heal_info() {
    const char* tag = "glfs_volume::get_heal_info";
    std::set<std::string> entries;
    std::string error;
    if (read_heal_info(entries, error) != 0) {
        // The heal state unknown must not read as "healed".
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to read heal information of volume [%s] error [%s]",
                        name_.c_str(), error.c_str());
        entries.insert(name_ + ":heal state unknown: " + error);
    } else if (!error.empty()) {
        log_.logMessage(tag, tidewall::log_level::detail, "No heal information for volume [%s] error [%s]",
                        name_.c_str(), error.c_str());
    }
    return entries;
}
