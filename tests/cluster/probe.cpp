// The library calls the cluster scenarios make on a node, one per sub-command,
// each printing what the library answered (one "key: value" line per item)
// and exiting with the call's own result where it has one.
//
//   tw_cluster_probe volumes                 local and remote gluster volumes of /etc/fstab
//   tw_cluster_probe names ADDRESS...        get_remote_ip_to_hname of each
//   tw_cluster_probe loopback NAME...        is_loop_back_hname of each
//   tw_cluster_probe sizeinfo VOLUME PATH    gluster_volume_get_sizeinfo: shrunk or not
//   tw_cluster_probe peer-backup             check_glusterd_peer_files_backup (backs the peer files up)
//   tw_cluster_probe glusterd-active         make_glusterd_active
//   tw_cluster_probe ssh-key HOST            create_ssh_keypair, copy_ssh_key (password from $TWC_PASSWORD)
//   tw_cluster_probe prune-engine HOST       set_hosted_engine, prune_ovirt_crash_dumps

#include <tidewall/ts_exception.h>
#include <tidewall/tw_prune.h>
#include <tidewall/tw_storage.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: tw_cluster_probe volumes|names|loopback|sizeinfo|glusterd-active|ssh-key|prune-engine ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string what = argv[1];
    tw_storage storage;
    if (what == "volumes") {
        gluster_vol_mount_info local;
        if (storage.get_gluster_local_vol_mount_info(local) == 0)
            std::printf("local: %s %s:/%s\n", local.mnt_path.c_str(), local.host_name.c_str(), local.vol_name.c_str());
        else
            std::printf("local: none\n");
        std::list<gluster_vol_mount_info> remote;
        int rc = storage.get_gluster_remote_vols_mount_info(remote);
        for (const auto& r : remote)
            std::printf("remote: %s %s:/%s\n", r.mnt_path.c_str(), r.host_name.c_str(), r.vol_name.c_str());
        return rc;
    }
    if (what == "names") {
        int failed = 0;
        for (int i = 2; i < argc; ++i) {
            std::string ip = argv[i], name;
            failed |= storage.get_remote_ip_to_hname(ip, name);
            std::printf("%s: %s\n", argv[i], name.empty() ? "(none)" : name.c_str());
        }
        return failed;
    }
    if (what == "loopback") {
        for (int i = 2; i < argc; ++i)
            std::printf("%s: %s\n", argv[i], storage.is_loop_back_hname(argv[i]) == 1 ? "this node" : "another node");
        return 0;
    }
    if (what == "sizeinfo" && argc == 4) {
        bool isless = false;
        int rc = storage.gluster_volume_get_sizeinfo(argv[2], argv[3], isless);
        std::printf("sizeinfo: %d shrunk: %s\n", rc, isless ? "yes" : "no");
        return rc;
    }
    if (what == "peer-backup") {
        storage.check_glusterd_peer_files_backup();
        std::printf("check_glusterd_peer_files_backup: done\n");
        return 0;
    }
    if (what == "glusterd-active") {
        try {
            int rc = storage.make_glusterd_active();
            std::printf("make_glusterd_active: %d\n", rc);
            return rc;
        } catch (const TsException& e) {
            std::printf("make_glusterd_active: threw %s\n", e.formatError().c_str());
            return 1;
        }
    }
    if (what == "ssh-key" && argc == 3) {
        const char* password = std::getenv("TWC_PASSWORD");
        int rc = storage.create_ssh_keypair();
        std::printf("create_ssh_keypair: %d\n", rc);
        if (rc != 0) return rc;
        rc = storage.copy_ssh_key(argv[2], password ? password : "");
        std::printf("copy_ssh_key: %d\n", rc);
        return rc;
    }
    if (what == "prune-engine" && argc == 3) {
        storage.set_hosted_engine(argv[2]);
        tw_prune prune;
        int rc = prune.prune_ovirt_crash_dumps();
        std::printf("prune_ovirt_crash_dumps: %d\n", rc);
        return rc;
    }
    return usage();
}
