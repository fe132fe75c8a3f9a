#include "foundation/compat/tsaf_utils.h"
#include "foundation/error/throw_error.h"
#include "foundation/host/time_limits.h"

#include "foundation/fs/file_kind.h"
#include "foundation/host/host_backend.h"
#include <tidewall/ts_exception.h>

#include <cctype>

using tidewall::host::current;
using tidewall::host::path;

// Node facts with no other source are registry keys of section Dockwright.
bool tsaf_utils::is_arrowfield_dw() {
    unsigned v = 0;  // nArrowfieldDataMover, default 0: not a data mover
    return get_reg_key("nArrowfieldDataMover", v) == 0 && v != 0;
}

unsigned tsaf_utils::getarrowfield_type() {
    unsigned v = 0;  // nArrowfieldApplianceKind, default 0: kind unknown
    if (get_reg_key("nArrowfieldApplianceKind", v) != 0) return 0;
    return v;
}

bool tsaf_utils::is_efi_platform() { return tidewall::file_io::is_directory(path("/sys/firmware/efi")); }

int tsaf_utils::get_maldor_cluster_nodes(std::string& nodes) {
    // sMaldorClusterNodes: the Maldor cluster's node names; no default.
    return get_reg_key("sMaldorClusterNodes", nodes);
}

int tsaf_utils::check_rpm(const std::string& name) {
    // 0 means installed. Debian nodes have no rpm database: ask dpkg as well.
    std::string q = name;
    for (char c : q)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == '+')) return -1;
    auto r = current().run("rpm -q " + q + " >/dev/null 2>&1 || dpkg -s " + q + " >/dev/null 2>&1",
                           tidewall::time_limits::kDefaultS);
    return r.status == 0 ? 0 : -1;
}

void tsaf_utils::manage_subscriptions() {
    // sSubscriptionRefreshCommand: the command that refreshes the node's
    // software subscriptions; none is run when the key is absent or empty.
    std::string cmd;
    if (get_reg_key("sSubscriptionRefreshCommand", cmd) != 0 || trim(cmd).empty()) return;
    auto r = current().run(cmd, tidewall::time_limits::kDefaultS);
    if (r.status != 0)
        tidewall::throw_error("tsaf_utils::manage_subscriptions",
                              "Subscription refresh [" + cmd + "] failed with error [" + trim(r.err) + "]",
                              "tsaf_utils");
}
