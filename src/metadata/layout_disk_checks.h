#ifndef TIDEWALL_METADATA_LAYOUT_DISK_CHECKS_H
#define TIDEWALL_METADATA_LAYOUT_DISK_CHECKS_H

// What a configure can find out about the disks of a layout without changing
// the node: each disk exists, is a block device the kernel knows, nothing uses
// it (mounts, swap, holders, also of its partitions), together they are large
// enough for the volumes the layout puts on them, and a file system to be made
// on any device but those volumes passes the same checks. A configure refuses
// before its teardown when any of this fails, so a layout it cannot build never
// costs the node its earlier storage.

#include <tidewall/tw_md_storage_config.h>

#include <list>
#include <string>
#include <vector>

namespace tidewall::metadata {

// One text per problem, naming the disk ("disk [/dev/sdb] is mounted at
// /data"); empty when the disks can take the layout. outgoing_vg and
// outgoing_disks are the group the configure tears down first and its disks
// (empty: none): holders that are volumes of that group do not count, and only
// those disks may carry an LVM label already (another one belongs to a group
// that pvcreate -ff would destroy).
// own_mounts: mount points of the outgoing layout whose file system carries
// this node's stamps for that path; the teardown unmounts those first, so a
// disk mounted there (and only there) is not in use by anyone else.
std::vector<std::string> check_layout_disks(const tw_md_storage_config& config, const std::string& outgoing_vg,
                                            const std::list<std::string>& outgoing_disks,
                                            const std::vector<std::string>& own_mounts = {});

// Whether a mounted device is a logical volume of vg by its name:
// /dev/<vg>/<lv> or /dev/mapper/<vg with "-" doubled>-<lv>.
bool is_volume_of_group(const std::string& device, const std::string& vg);

}  // namespace tidewall::metadata

#endif
