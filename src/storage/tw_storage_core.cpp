// Construction, destruction and subscription refresh of the storage manager.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

#include <new>

tw_storage::tw_storage()
    : glfs_(nullptr), glfs_available_(false), ddb_mnt_path_default_("/tw/ddb"), datapath_prefix_default_("/tw/disk"),
      maldor_datapath_prefix_default_("/maldor/d"), gluster_mnt_path_default_("/tw/glus"),
      maldor_mnt_path_default_("/tw/maldor"),
      maldor_mount_options_default_("vers=4.0,tcp,nolock,nordirplus,port=50012"),
      ssh_private_key_path_("/root/.ssh/id_rsa") {
    const char* tag = "tw_storage::tw_storage";
    // A node without gluster (or with glusterd down) still gets a usable object:
    // the handle's failure is logged and the remaining steps run.
    try {
        std::list<std::string> unused;
        glfs_ = new glfs_admin(unused);
        glfs_available_ = true;
    } catch (const std::bad_alloc&) {
        glfs_available_ = false;
        log_.logMessage(tag, tidewall::log_level::trace, "Failed to allocate glfs_admin instance");
    } catch (const TsException& e) {
        glfs_available_ = false;
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to scan gluster volumes error [%s]",
                        e.formatError().c_str());
    }
    log_.logMessage(tag, tidewall::log_level::trace, "Creating tw_storage instance");
    log_.logMessage(tag, tidewall::log_level::trace,
                    "Defaults: ddb mount path [%s] datapath mount path prefix [%s] glusterfs mount path [%s] "
                    "maldor mount path [%s]",
                    ddb_mnt_path_default_.c_str(), datapath_prefix_default_.c_str(), gluster_mnt_path_default_.c_str(),
                    maldor_mnt_path_default_.c_str());
    manage_subscriptions();
}

tw_storage::~tw_storage() {
    if (glfs_) {
        delete glfs_;
        glfs_ = nullptr;
    }
    glfs_available_ = false;
    log_.logMessage("tw_storage::~tw_storage", tidewall::log_level::trace, "Cleaning tw_storage instance");
}

void tw_storage::manage_subscriptions() {
    const char* tag = "tw_storage::manage_subscriptions";
    if (!tsaf_utils::is_arrowfield_dw()) return;
    try {
        tsaf_utils utils;
        utils.manage_subscriptions();
    } catch (const TsException& e) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to manage subscriptions; error [%s]",
                        e.formatError().c_str());
    }
}
