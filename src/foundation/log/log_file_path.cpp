#include <tidewall/tw_log.h>

#include "foundation/host/host_backend.h"

std::string tw_log_file_path() {
    // The same choice the real backend makes when it opens the log.
    std::string dir;
    if (!tidewall::host::current().reg_get("EventManager", "dEVLOGDIR", dir) || dir.empty()) dir = "/var/log/tessaline";
    return dir + "/TSTidewall.log";
}
