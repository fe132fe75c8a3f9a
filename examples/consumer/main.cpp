// Builds against an installed Tidewall and prints what the node reports.

#include <tidewall/tw_platform.h>
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

    tw_platform platform;
    tw_memory& memory = platform.get_memoryinfo();
    std::printf("hardware monitoring supported: %s\n", tw_platform::hwmonitoring_supported() ? "yes" : "no");
    std::printf("memory: total %llu used %llu\n", static_cast<unsigned long long>(memory.get_totalmem()),
                static_cast<unsigned long long>(memory.get_usedmem()));
    tw_system& system = platform.get_systeminfo();
    std::printf("system vendor: %s\n", system.get_vendor().empty() ? "(unknown)" : system.get_vendor().c_str());
    return 0;
}
