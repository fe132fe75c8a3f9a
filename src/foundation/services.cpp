// System services of the host layer (systemd units).

#include "foundation/host_backend.h"
#include "foundation/shell_quote.h"
#include "foundation/tsaf_utils.h"

int tsaf_utils::disableservice(const std::string& name, bool stop_now) {
    if (name.empty()) return -1;
    std::string cmd = std::string("systemctl disable ") + (stop_now ? "--now " : "") + tidewall::shell_quote(name);
    return tidewall::host::current().run(cmd, 100).status == 0 ? 0 : -1;
}
