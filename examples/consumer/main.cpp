// Builds against an installed Tidewall and prints what the node reports.

#include <tidewall/tw_storage.h>

#include <cstdio>
#include <string>

int main() {
    tw_storage storage;
    std::string model, ddb;
    storage.get_server_model(model);
    storage.get_mnt_path(tw_storage::MNT_PATH_DDB, ddb);
    std::printf("storage flavour: %u\n", storage.get_sds_type());
    std::printf("server model: %s\n", model.empty() ? "(unknown)" : model.c_str());
    std::printf("ddb mount path: %s (%s, %s)\n", ddb.c_str(), storage.get_file_system(tw_storage::MNT_PATH_DDB).c_str(),
                storage.get_mount_options(tw_storage::MNT_PATH_DDB).c_str());
    std::printf("data mount-path prefix: %s\n", storage.get_datapath_prefix().c_str());
    try {
        storage.get_mount_options(tw_storage::MNT_PATH_GLUSTERFS);
    } catch (const TsException& e) {
        std::printf("gluster mount options: %s\n", e.formatError().c_str());
    }
    return 0;
}
