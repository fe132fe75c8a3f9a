#include "foundation/glfs_admin.h"

#include "foundation/host_backend.h"
#include "foundation/tsaf_utils.h"

#include <tidewall/ts_exception.h>

#include <pugixml.hpp>

glfs_brick::glfs_brick(const std::string& spec) {
    // host:/path; the path itself may not hold ':' before its first '/'.
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
        log_.logMessage(tag, 1, "Failed to list gluster volumes error [%s]", error.c_str());
        throw TsException(tag, error, "glfs_admin", __LINE__, -1);
    }
}

int glfs_admin::parse_volume_list(const std::string& xml, std::list<std::string>& names, std::string& error) {
    pugi::xml_document doc;
    auto parsed = doc.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        error = std::string("unreadable gluster output: ") + parsed.description();
        return -1;
    }
    auto cli = doc.child("cliOutput");
    if (!cli) {
        error = "gluster output without cliOutput";
        return -1;
    }
    if (cli.child("opRet").text().as_int(-1) != 0) {
        error = cli.child_value("opErrstr");
        if (error.empty()) error = "gluster operation failed";
        return -1;
    }
    std::list<std::string> found;
    for (auto v : cli.child("volList").children("volume")) found.push_back(v.text().get());
    names.splice(names.end(), found);
    return 0;
}

int glfs_admin::query_volumes(std::list<std::string>& names, std::string& error) {
    auto r = tidewall::host::current().run("gluster --mode=script volume list --xml", kTimeLimit);
    if (r.status != 0) {
        error = tsaf_utils::trim(r.err.empty() ? r.out : r.err);
        if (r.status == 127) error = "gluster command line not available: " + error;
        if (error.empty()) error = "gluster volume list failed with status " + std::to_string(r.status);
        return r.status;
    }
    return parse_volume_list(r.out, names, error);
}

int glfs_admin::list_volumes(std::list<std::string>& names) {
    std::string error;
    int rc = query_volumes(names, error);
    if (rc != 0) log_.logMessage("glfs_admin::list_volumes", -1, "Failed to list volumes error [%s]", error.c_str());
    return rc;
}
