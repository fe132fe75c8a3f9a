#ifndef TIDEWALL_TW_PLATFORM_H
#define TIDEWALL_TW_PLATFORM_H

// The hardware inventory of one node. Construct one, call the queries you need
// and read the records they return. Each query runs the system tools again
// (nothing is cached), fills its records inside the object and writes its
// section of the platform report to the log. Queries never throw: a tool that
// fails leaves its fields empty or its list shorter, and says so in the log.
// Use one object on one thread at a time.

#include <tidewall/export.h>
#include <tidewall/tw_debug.h>
#include <tidewall/tw_platform_records.h>

#include <list>
#include <map>
#include <set>
#include <string>

// Sections of the platform report; bits may be combined.
enum tw_platforminfo : unsigned {
    PINFO_SYSTEM = 0x1,
    PINFO_CHIPSET = 0x2,
    PINFO_PROCESSOR = 0x4,
    PINFO_MEMORY = 0x8,
    PINFO_NIC = 0x10,
    PINFO_SASCTRL = 0x20,
    PINFO_FCCTRL = 0x40,
    PINFO_DRIVE = 0x80,
    PINFO_MNTPOINT = 0x100,
    PINFO_POWERSUPPLY = 0x200,
    PINFO_FAN = 0x400,
    PINFO_BIOS = 0x800,
};

constexpr tw_platforminfo operator|(tw_platforminfo a, tw_platforminfo b) {
    return static_cast<tw_platforminfo>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

// Server makers whose power supplies and drive LEDs we know how to read.
enum system_vendor {
    VENDOR_FUJITSU = 1,
    VENDOR_HPE = 2,
    VENDOR_DELL = 3,
    VENDOR_SUPERMICRO = 4,
    VENDOR_LENOVO = 5,
    VENDOR_CISCO = 6,
};

// The system vendor text of the firmware tables to its maker; exact,
// case-sensitive keys ("HP" and "HPE" both give VENDOR_HPE).
TW_API extern const std::map<std::string, system_vendor> vendor_strmap;

// A caller's retry count held to [0, maximum].
TW_API int retry_count_get(int requested, int maximum);

// Where a mount path lives: the file-system UUID of its device and the drive's
// number on its controller.
struct mpath_file_data_s {
    std::string devuuid;
    std::string drivenum;
};

inline bool fdata_is_same(const mpath_file_data_s& a, const mpath_file_data_s& b) {
    return a.devuuid == b.devuuid && a.drivenum == b.drivenum;
}

// The mount-path location file: each data mount path with the UUID of its file
// system and the number of its drive, so that the drive behind a mount path can
// be found (and blinked) even after its disk has failed. Entries of mount paths
// that are gone stay in the file. Every read and rewrite of the file holds a
// process-wide lock and the file's lock in the root-only lock directory, so that
// threads and processes never lose each other's entries; rewrites replace the
// file whole, and a rewrite that cannot have the lock is skipped.
class TW_API tw_mpathfileinfo {
public:
    using location_map = std::map<std::string, mpath_file_data_s>;

    tw_mpathfileinfo();
    ~tw_mpathfileinfo();

    // The file's fixed path.
    static std::string mpath_file();
    // Token names of a file line: "mnt:<path> devuuid:<uuid> drivenum:<number>".
    static std::string mnt_str() { return "mnt"; }
    static std::string devuuid_str() { return "devuuid"; }
    static std::string drvnum_str() { return "drivenum"; }

    // Reads the file, merges the mounted data paths whose device is in the
    // drive list, and rewrites the file when that changed anything. 0, or -1
    // when the file could not be written.
    int mpath_fileinfo_update();
    // The map as the file holds it; clears the updated flag.
    void create_mpath_fileinfo_map(const std::string& file);
    // Merges the current mount paths into the map.
    void mpath_fileinfo_update_incore();
    // Inserts a new mount path or replaces different data; either sets the flag.
    void mpath_map_find_insert(const std::string& mount_path, const mpath_file_data_s& data);
    // An entry read from the file; a mount path already read keeps its first entry.
    void mpath_add_filedata(std::string& mount_path, mpath_file_data_s& data);
    // Rewrites the whole file from the map; 0 or -1.
    int mpath_map_writefile(const std::string& file);
    // The drive number of mount_path as the file holds it.
    bool mpath_fileinfo_search(const std::string& file, const std::string& mount_path, std::string& drive_number);

    void mpath_assign_drivelistp(std::list<tw_driveinfo>* drives) { drives_ = drives; }
    std::list<tw_driveinfo>* mpath_get_drivelistp() const { return drives_; }
    bool get_map_updated_flag() const { return updated_; }
    const location_map& get_location_map() const { return map_; }

private:
    void create_mntpath_backingdev_list();

    tw_debug log_;
    location_map map_;
    std::map<std::string, std::string> mounts_;  // mount path -> backing device
    std::list<tw_driveinfo>* drives_ = nullptr;  // the platform's, not owned
    bool updated_ = false;
};

class TW_API tw_platform {
public:
    tw_platform();
    ~tw_platform();
    tw_platform(const tw_platform&) = delete;
    tw_platform& operator=(const tw_platform&) = delete;

    // Whether hardware monitoring applies to this server model: the appliance
    // models, less FUJITSU ones when sArrowfieldForceRefArchPlatform says yes,
    // plus the reference models when sHWMonitorTestRefArchPlatform says yes.
    static bool hwmonitoring_supported();
    // The drive-operations gate of the drive, SAS controller and mount-point
    // queries and of drive locate: open when the registry key
    // nTidewallDriveOperations (section Dockwright) holds a non-zero number;
    // closed by default.
    static bool hwmon_driveops_supported();

    // --- single records (dmidecode, /proc/meminfo) ---
    tw_system& get_systeminfo();
    tw_chipset& get_chipsetinfo();
    tw_bios& get_biosinfo();
    tw_memory& get_memoryinfo();

    // --- lists: each call empties the list and fills it anew ---
    // Populated sockets, with temperatures from the IPMI sensor listing.
    std::list<tw_processor>& get_cpuinfo();
    // Behind the drive-operations gate: empty while it is closed. One record
    // per disk backing a mounted data mount path: lsblk facts, SMART health and
    // serial, the controller's drive number (MegaCli64, ssacli; matched by
    // serial) and sector rates since sLastMonitorTimeDrive, which it then sets.
    std::list<tw_driveinfo>& get_driveinfo();
    // The same records with rates over the last rate_minutes (at least 1); it
    // writes nothing (no registry key, no report section): for observers.
    std::list<tw_driveinfo>& get_driveinfo(unsigned rate_minutes);
    std::list<tw_mntpointinfo>& get_mntpointinfo();
    // By the vendor of get_systeminfo(); unknown vendors give no records.
    std::list<tw_powersupply>& get_pwrsupplyinfo();
    // Up to three passes while a fan that is not disabled reads unhealthy.
    std::list<tw_faninfo>& get_faninfo();
    // One fan reading pass.
    std::list<tw_faninfo>& get_faninfo_internal();

    // --- activity statistics from the daily sar files ---
    // Average CPU busy percent over the last `minutes` (0: since the time in
    // sLastMonitorTimeCPU, or the last 30 minutes); records now in that key.
    double get_cpu_usage(unsigned int minutes);
    // The same; with record_interval false the key is left as it is, so an
    // operator's look does not shift the interval the monitoring service measures.
    double get_cpu_usage(unsigned int minutes, bool record_interval);
    // Average kB/s received and sent by dev; start is the interval start in
    // decimal seconds, computed (from minutes or regkey) when empty and then
    // shared by the caller's other devices. 0, or -1 with both rates 0.
    int get_nicdevstats(std::string dev, unsigned int minutes, double& rxkbps, double& txkbps, std::string regkey,
                        std::string& start);
    // Average sectors read and written per second by the disk of devpath.
    int get_driveiostats(std::string devpath, unsigned int minutes, double& rdsectps, double& wrsectps,
                         std::string regkey, std::string& start);

    // --- network interfaces ---
    // The configured interfaces of the network document that the kernel lists,
    // with lspci and ethtool facts and their sar throughput.
    std::list<tw_nicinfo>& get_nicinfo();
    // The same; with record_interval false sLastMonitorTimeNW is left as it is.
    std::list<tw_nicinfo>& get_nicinfo(bool record_interval);
    // Regenerates /tmp/nwconf.json and reads it.
    void config_get_nicmap(std::map<std::string, tw_nicinfo>& nics);
    // Configured interfaces (devname, busaddr, macaddr, linkspeed) by name:
    // plain interfaces with an address, and the members of bonds.
    std::map<std::string, tw_nicinfo> nwconf_json_parse(const std::string& path);
    // One fact about an interface ("model", "fwver", "linkstatus", "linkspeed",
    // "macaddr", "version"), retried up to retry_count (at most 10) times.
    // Always 0; value is empty, or as last read, when every attempt failed.
    int get_nicdevinfo(const std::string& dev, const std::string& busaddr, const std::string& what, std::string& value,
                       int retry_count);
    // Whether dev has a permanent hardware address.
    bool nic_is_physical(std::string dev);
    // dev's PCI address from ethtool; 0, or -1.
    static int nic_get_busaddr(std::string dev, std::string& busaddr);

    // --- storage controllers ---
    // Behind the drive-operations gate: empty while it is closed.
    std::list<tw_ctrlinfo>& get_sascontrolinfo();
    // Fibre Channel host adapters from /sys/class/fc_host.
    std::list<tw_ctrlinfo>& get_fcinfo();
    // Kernel modules of the PCI controllers that lspci calls SAS or RAID.
    void get_sasctrl_driverlist(std::set<std::string>& drivers);
    // The kernel driver in use by a PCI device; 0, or -1.
    int get_controller_kmod(std::string pci_id, std::string& kmod);

    // --- drive locate and the location file ---
    // Blinks the locate LED of the drive behind a data mount path for
    // nDriveLocateIntervalInMinutes (default 15); blocks that long. Behind the
    // drive-operations gate. 0, or -1 (or the vendor tool's result).
    int drive_locate(const std::string& mount_path);
    // Blinks drive_number (amCLI device number; HPE "slot/drive"; DELL
    // "adapter/drive") with the vendor's tool for `seconds`.
    int drive_locate(const std::string& vendor, const std::string& drive_number, unsigned seconds);
    static std::string drive_locate_getregkey() { return "nDriveLocateIntervalInMinutes"; }
    static unsigned drive_locate_get_default_timeintervalmins() { return 15; }
    // Brings the location file up to date with the drive inventory; 0, or -1
    // when there are no drives.
    int mpath_fileinfo_update();

    // Writes the chosen sections of what the object holds to the log (level 2,
    // tag "tw_platform::loginfo"); nothing below debug level 2. Runs no tool.
    void loginfo(tw_platforminfo sections);

private:
    friend struct tw_platform_peer;  // unit tests fill lists no query of theirs fills

    // drive_locate(mount_path) past its gate.
    int drive_locate_mountpath(const std::string& mount_path);

    tw_debug log_;
    tw_system system_;
    tw_chipset chipset_;
    tw_memory memory_;
    double cpu_usage_ = 0;  // percent
    std::list<tw_processor> processors_;
    std::list<tw_nicinfo> nics_;
    std::list<tw_ctrlinfo> sas_ctrls_;
    std::list<tw_ctrlinfo> fc_ctrls_;
    std::list<tw_driveinfo> drives_;
    std::list<tw_mntpointinfo> mntpoints_;
    std::list<tw_powersupply> pwrsupplies_;
    std::list<tw_faninfo> fans_;
    tw_bios bios_;
    tw_mpathfileinfo mpath_info_;
};

// The node's important mount points ("/", "/opt", "/var", ..., then every
// /tw/disk* directory) with whether each is mounted and how full it is. This is
// the work of get_mntpointinfo() without its gate, for callers (twctl) that
// report mount points whatever the gate says. Writes no report section.
TW_API void mntpoints_examine(tw_debug& log, std::list<tw_mntpointinfo>& out);

// The SAS/RAID controllers of this node as get_sascontrolinfo() lists them
// when its gate is open, for callers (twctl) that list controllers whatever the
// gate says: amCLI (mpt3sas on FUJITSU), MegaCli64 (megaraid_sas) and ssacli
// (hpsa, smartpqi). Writes no report section.
TW_API void sascontrollers_examine(std::list<tw_ctrlinfo>& out);

#endif
