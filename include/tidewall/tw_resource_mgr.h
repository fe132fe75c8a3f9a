#ifndef TIDEWALL_TW_RESOURCE_MGR_H
#define TIDEWALL_TW_RESOURCE_MGR_H

// The entry point for provisioning a node's metadata storage: a default layout
// document for a set of disks, building the storage (LVM group, logical volumes,
// XFS file systems, mounts, stamps, /etc/fstab entries) from such a document,
// and tearing down an earlier one. Three registry values of section Dockwright
// let a later run find what an earlier one built:
//
//   sArrowfieldNodeType    "Control" or "Data"
//   sArrowfieldMetadataVG  the metadata volume group's name
//   sArrowfieldMetadataPV  the UUIDs of the group's physical volumes, joined by ","
//
// Every operation returns 0 on success and non-zero on failure. Building sleeps
// 10 seconds on the calling thread between creating the volumes and formatting
// them, so that their device nodes appear.

#include <tidewall/export.h>
#include <tidewall/tw_debug.h>
#include <tidewall/tw_md_storage_config.h>

#include <list>
#include <string>
#include <vector>

class tw_lvm;
class tw_fsm;

class TW_API tw_resource_mgr {
public:
    tw_resource_mgr();
    ~tw_resource_mgr();

    // The default layout of this node type (empty: from the registry) for the
    // disks, as a JSON document.
    int create_meta_data_storage_config(std::list<std::string>& disks, std::string& config_out, std::string& node_type);
    // Tears down the earlier layout (vg_name and pv_list, a comma-separated list
    // of disks; empty: from the registry), then builds the document's. Before
    // the teardown it checks what it can without changing the node (node type,
    // document, and that each disk exists, is a block device, is not mounted,
    // swap or held, except by volumes of the earlier group, carries no LVM
    // label unless it is one of the earlier group's disks, and that together
    // they hold the document's volumes) and refuses when one fails. A failed
    // build is cleaned up once: exactly what this run mounted, created and
    // labelled is undone; what was there before stays.
    int configure_meta_data_storage(std::string& config, std::string& node_type, std::string& vg_name,
                                    std::string& pv_list);
    // Builds the document's layout without tearing anything down first and
    // without recording node type or group name; the disks are checked first.
    int configure_m5_meta_data_storage(std::string& config);
    // Unmounts the default mount paths of the node type and removes the group
    // and the physical volumes on the disks; nothing to find is success. A path
    // is unmounted only when a volume of the group or a file system stamped by
    // this node is mounted there; anything else mounted there stays.
    // Configure and unconfigure run one at a time on a node: a second one waits
    // up to 30 s for the node's metadata lock, then fails ("another metadata
    // configure is running (pid N)" in get_failures()).
    int unconfigure_meta_data_storage(std::string& node_type, std::string& vg_name, std::string& pv_list);

    int configure_meta_data_storage_internal(tw_md_storage_config& config);
    int unconfigure_meta_data_storage_internal(tw_md_storage_config& config);

    // The disks of the physical volumes whose UUIDs uuid_text lists (comma-
    // separated), in that order; UUIDs no physical volume carries add nothing.
    int create_disk_list(std::string& uuid_text, std::list<std::string>& disks);
    // Records the UUIDs of pvs in sArrowfieldMetadataPV.
    int update_meta_data_pv_registry_entry(std::list<tw_pv>& pvs);

    // What the registry records of the metadata storage: 0 and the three
    // values (empty when a key is absent) when the group's name is recorded,
    // non-zero when it is not.
    int get_recorded_storage(std::string& node_type, std::string& vg_name, std::string& pv_uuids);

    // The failure messages of the last operation, the outermost last, including
    // those of the LVM and file-system managers it drove.
    const std::list<std::string>& get_failures() const { return failures_; }

private:
    int configure_internal(tw_md_storage_config& config, tw_lvm& lvm, tw_fsm& fsm);
    int clean_up_failed_configure(tw_md_storage_config& config, const tw_lvm& built, tw_fsm& fsm);
    // Removes the fstab entries fsm wrote and puts back the ones they replaced.
    int undo_fstab_changes(const char* tag, const tw_fsm& fsm);
    // The earlier group and its disks, from the arguments or the registry.
    int find_earlier_storage(const std::string& vg_name, const std::string& pv_list, std::string& vg,
                             std::list<std::string>& disks);
    int tear_down_earlier(std::string& node_type, const std::string& vg, const std::list<std::string>& disks);
    // Records every problem of the layout's disks; false when there is one.
    // own_mounts: paths of the outgoing layout holding a file system this node
    // stamped for them (unmounted by the teardown).
    bool disks_can_take(const char* tag, const tw_md_storage_config& config, const std::string& outgoing_vg,
                        const std::list<std::string>& outgoing_disks, const std::vector<std::string>& own_mounts = {});
    // The mounts of the layout that are mounted with the group's volumes or a
    // file system this node stamped.
    int own_mounts(tw_md_storage_config& config, tw_fsm& fsm, std::list<tw_fs_mount>& own);
    static bool stamped_as_own(const std::string& path);
    // Builds the document's storage; on failure cleans up and records failed_message.
    int build_or_clean_up(const char* tag, tw_md_storage_config& config, const char* failed_message);
    int write_reg_key(const char* tag, const std::string& key, const std::string& value);
    void fail(const char* tag, const char* fmt, ...) TW_PRINTF(3);
    void take_failures(const std::list<std::string>& inner);

    // Nesting of public operations: only the outermost one starts a fresh
    // failure list.
    struct operation {
        explicit operation(tw_resource_mgr& m);
        ~operation();
        tw_resource_mgr& mgr;
    };

    tw_debug log_;
    std::list<std::string> failures_;
    int depth_ = 0;
};

#endif
