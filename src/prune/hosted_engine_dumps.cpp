// The hosted engine's crash dumps: the files of its dump directory, removed on
// the engine's node over SSH.

#include <tidewall/tw_prune.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"

#include <list>

namespace {

const char* const kEngineDumpDir = "/var/log/ovirt-engine/dump";

}  // namespace

int tw_prune::prune_ovirt_crash_dumps() {
    const char* tag = "tw_prune::prune_ovirt_crash_dumps";
    std::string engine;
    // The name the storage layer records (sOvirtHname), read straight from the
    // registry: a whole storage object would scan the gluster volumes first.
    int rc = tsaf_utils::get_reg_key("sOvirtHname", engine);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to detemine the ovirt engine hostname");
        return rc;
    }
    log_.logMessage(tag, tidewall::log_level::step,
                    "Will determine the list of files to be cleaned up from hosted engine [%s]", engine.c_str());
    // A listing that fails leaves the list empty: nothing is removed then.
    std::list<std::string> entries;
    tsaf_utils::get_remote_dir_contents(engine, kEngineDumpDir, entries);
    for (const auto& entry : entries) {
        if (entry.empty()) continue;
        std::string path = std::string(kEngineDumpDir) + "/" + entry;
        log_.logMessage(tag, tidewall::log_level::step,
                        "Will attempt to remove the dump file [%s] from remote node [%s]", path.c_str(),
                        engine.c_str());
        if (tsaf_utils::delete_remote_file(engine, path) != 0)
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to remove dump file [%s] from remote node [%s]",
                            path.c_str(), engine.c_str());
        else
            log_.logMessage(tag, tidewall::log_level::failure,
                            "Successfully removed dump file [%s] from remote node [%s]", path.c_str(), engine.c_str());
    }
    return 0;
}
