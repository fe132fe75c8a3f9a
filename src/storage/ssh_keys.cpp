// The SSH key pair by which this node reaches its peers, and installing its
// public key on a peer.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"

int tw_storage::create_ssh_keypair() {
    const char* tag = "tw_storage::create_ssh_keypair";
    if (tsaf_utils::is_file(ssh_private_key_path_ + ".pub")) return 0;
    int rc = tsaf_utils::generate_ssh_keys(ssh_private_key_path_);
    if (rc != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to generate ssh key pair @ [%s]",
                        ssh_private_key_path_.c_str());
    return rc;
}

int tw_storage::copy_ssh_key(std::string host, std::string value) {
    const char* tag = "tw_storage::copy_ssh_key";
    int rc = tsaf_utils::copy_ssh_keys(ssh_private_key_path_ + ".pub", host, value);
    if (rc != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to copy ssh public key to host [%s]", host.c_str());
    return rc;
}
