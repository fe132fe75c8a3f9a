#include "foundation/glfs_xml.h"

#include "foundation/glfs_admin.h"
#include "foundation/host_backend.h"
#include "foundation/tsaf_utils.h"

namespace tidewall::glfs_xml {

int run(const std::string& cmd, std::string& out, std::string& error) {
    auto r = host::current().run(cmd, glfs_admin::kTimeLimit);
    if (r.status == 0) {
        out = r.out;
        return 0;
    }
    // gluster prints its complaints on standard output in script mode.
    error = tsaf_utils::trim(r.err.empty() ? r.out : r.err);
    if (r.status == 127) error = "gluster command line not available: " + error;
    if (error.empty()) error = "gluster failed with status " + std::to_string(r.status);
    return r.status;
}

int open(const std::string& xml, pugi::xml_document& doc, pugi::xml_node& cli, std::string& error) {
    auto parsed = doc.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        error = std::string("unreadable gluster output: ") + parsed.description();
        return -1;
    }
    cli = doc.child("cliOutput");
    if (!cli) {
        error = "gluster output without cliOutput";
        return -1;
    }
    if (cli.child("opRet").text().as_int(-1) != 0) {
        error = cli.child_value("opErrstr");
        if (error.empty()) error = "gluster operation failed";
        return -1;
    }
    return 0;
}

} // namespace tidewall::glfs_xml
