#ifndef TIDEWALL_TSAF_BLKDEV_H
#define TIDEWALL_TSAF_BLKDEV_H

// Block-device records of the host layer's block-device manager, as the storage
// manager hands them to and from its callers.

#include <tidewall/export.h>

#include <string>
#include <vector>

// One block device as the enumeration found it. The device path comes first:
// it is what provisioning works on.
class TW_API tsaf_blkdev_basic_info {
public:
    tsaf_blkdev_basic_info() = default;
    explicit tsaf_blkdev_basic_info(std::string devpath) : devpath_(std::move(devpath)) {}

    const std::string& get_devpath() const { return devpath_; }
    void set_devpath(const std::string& v) { devpath_ = v; }
    // Kernel name ("sdb", "nvme0n1", "loop3").
    const std::string& get_name() const { return name_; }
    void set_name(const std::string& v) { name_ = v; }
    // Size in bytes as the kernel reports it.
    unsigned long long get_size() const { return size_; }
    void set_size(unsigned long long v) { size_ = v; }
    // Model text of the device, empty when it has none (virtual devices).
    const std::string& get_model() const { return model_; }
    void set_model(const std::string& v) { model_ = v; }
    // "major:minor".
    const std::string& get_devnum() const { return devnum_; }
    void set_devnum(const std::string& v) { devnum_ = v; }
    bool get_is_partition() const { return is_partition_; }
    void set_is_partition(bool v) { is_partition_ = v; }

private:
    std::string devpath_;
    std::string name_;
    unsigned long long size_ = 0;
    std::string model_;
    std::string devnum_;
    bool is_partition_ = false;
};

// A block device whose capacity is asked for: the device path is given, the
// block count and block size are filled in by the block-device manager.
class TW_API tsaf_blkdev {
public:
    tsaf_blkdev() = default;
    explicit tsaf_blkdev(std::string devpath) : devpath_(std::move(devpath)) {}

    const std::string& get_devpath() const { return devpath_; }
    void set_devpath(const std::string& v) { devpath_ = v; }
    unsigned long long get_blocks() const { return blocks_; }
    void set_blocks(unsigned long long v) { blocks_ = v; }
    unsigned get_blksize() const { return blksize_; }
    void set_blksize(unsigned v) { blksize_ = v; }

private:
    std::string devpath_;
    unsigned long long blocks_ = 0;
    unsigned blksize_ = 0;
};

// Whether a whole disk may be provisioned, and if not, why: the first reason
// found that something uses (or may use) it.
class TW_API tsaf_blkdev_verdict {
public:
    const tsaf_blkdev_basic_info& get_info() const { return info_; }
    void set_info(const tsaf_blkdev_basic_info& v) { info_ = v; }
    bool get_is_new() const { return is_new_; }
    void set_is_new(bool v) { is_new_ = v; }
    // Empty for a new disk.
    const std::string& get_reason() const { return reason_; }
    void set_reason(const std::string& v) { reason_ = v; }

private:
    tsaf_blkdev_basic_info info_;
    bool is_new_ = false;
    std::string reason_;
};

// The node's whole disks with a hardware device behind them (no loop, device-
// mapper, md or RAM devices), as /dev paths in name order.
TW_API std::vector<std::string> tw_physical_disks();

#endif
