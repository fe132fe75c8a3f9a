#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/time_limits.h"

#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"

using tidewall::host::current;

int tsaf_utils::disableservice(const std::string& name, bool stop_now) {
    if (name.empty()) return -1;
    std::string cmd = std::string("systemctl disable ") + (stop_now ? "--now " : "") + tidewall::shell_quote(name);
    return current().run(cmd, tidewall::time_limits::kDefaultS).status == 0 ? 0 : -1;
}

int tsaf_utils::systemctl_reload_cmd() {
    return current().run("systemctl daemon-reload", tidewall::time_limits::kDefaultS).status == 0 ? 0 : -1;
}
