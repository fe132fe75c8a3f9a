#ifndef TIDEWALL_TS_MNT_INFO_H
#define TIDEWALL_TS_MNT_INFO_H

#include <tidewall/export.h>

#include <list>
#include <string>

// One entry of a mount table (/etc/fstab or /etc/mtab).
class TW_API TsMntInfo {
public:
    const std::string& GetMountPoint() const { return mount_point_; }
    const std::string& GetBackingDevice() const { return backing_device_; }
    const std::string& GetFileSystemType() const { return fs_type_; }
    void SetMountPoint(const std::string& v) { mount_point_ = v; }
    void SetBackingDevice(const std::string& v) { backing_device_ = v; }
    void SetFileSystemType(const std::string& v) { fs_type_ = v; }

    // The dump field of the entry.
    int GetDumpFrequency() const { return dump_; }
    void SetDumpFrequency(int v) { dump_ = v; }

    void GetMountOptions(std::list<std::string>& options) const { options = options_; }
    const std::list<std::string>& MountOptions() const { return options_; }
    // From comma-joined text; empty items are dropped.
    void SetMountOptions(const std::string& joined);
    void SetMountOptions(const std::list<std::string>& options) { options_ = options; }

    // The pass field of the entry, and whether the entry was read from a file.
    int GetPassNumber() const { return pass_; }
    void SetPassNumber(int v) { pass_ = v; }
    bool IsFromFile() const { return from_file_; }
    void SetFromFile(bool v) { from_file_ = v; }

private:
    std::string mount_point_;
    std::string backing_device_;
    std::string fs_type_;
    int dump_ = 0;
    std::list<std::string> options_;
    bool from_file_ = false;
    int pass_ = 0;
};

#endif
