#ifndef TIDEWALL_TW_STORAGE_H
#define TIDEWALL_TW_STORAGE_H

#include <tidewall/export.h>
#include <tidewall/ts_exception.h>
#include <tidewall/ts_mnt_info.h>
#include <tidewall/tsaf_blkdev.h>
#include <tidewall/tw_debug.h>

#include <functional>
#include <list>
#include <map>
#include <string>
#include <vector>

class glfs_admin;

// The result of one I/O test: a mount path's file test or a block device's
// read test.
struct TW_API io_test_info {
    std::string path;  // the mount path tested (file test only)
    int result = 0;  // 1 passed, 0 failed
    unsigned read_requests = 0;  // file test: entries validated; device test: seeks done
    unsigned reads_completed = 0;  // file test: entries validated; device test: whole blocks read
    unsigned write_requests = 0;  // file test: entries written
    unsigned writes_completed = 0;  // file test: entries written
};

// A data mount path with its free space in GiB (free bytes >> 30).
struct TW_API free_space_info {
    std::string mnt_path;
    unsigned long long free_space = 0;
};

// One gluster mount of /etc/fstab (an entry mounted under /tw/glus).
struct TW_API gluster_vol_mount_info {
    std::string host_name;  // the mount source up to its first ':'
    std::string vol_name;  // the volume: the source after the ':' without its leading '/'
    std::string mnt_path;  // the mount directory
    std::string mnt_opts;  // the mount options as written in /etc/fstab
};

// One Maldor vdisk mount of /etc/fstab (an entry under the Maldor vdisk prefix).
struct TW_API maldor_vdisk_mount_info {
    std::string host_name;  // the mount source up to its first ':'
    std::string vdisk_name;  // the source from the second character after the ':' on
    std::string mnt_path;  // the mount directory
    std::string mnt_opts;  // the mount options as written in /etc/fstab
};

// One brick of a gluster volume, as get_gluster_brick_list reports it.
struct TW_API gluster_brick_info {
    std::string host_name;
    std::string mnt_path;  // the brick directory
    bool local = false;  // the host name stands for this node
    bool online = false;  // its brick process runs
};

// The storage manager of the node: mount paths, /etc/fstab, ownership stamps,
// disk provisioning, I/O checks, gluster integration and node identity. Build
// one when needed and use it on one thread at a time. Settings are read from
// the registry each time they are asked for, with a compiled-in default.
class TW_API tw_storage {
public:
    enum mnt_path_type {
        MNT_PATH_DDB = 1,
        MNT_PATH_DATAPATH = 2,
        MNT_PATH_GLUSTERFS = 3,
        MNT_PATH_EFI_BOOT = 4,
        MNT_PATH_MALDOR_DATAPATH = 5,
        MNT_PATH_MALDOR_FS = 6,
        MNT_PATH_OTHER = 255,
    };

    // Storage flavours answered by get_sds_type().
    static constexpr unsigned SDS_GLUSTERFS = 1;
    static constexpr unsigned SDS_MALDOR = 2;
    static constexpr unsigned SDS_UNKNOWN = 255;

    tw_storage();
    ~tw_storage();
    tw_storage(const tw_storage&) = delete;
    tw_storage& operator=(const tw_storage&) = delete;

    // Refreshes software subscriptions on a data-mover node; failures are logged.
    void manage_subscriptions();

    // --- mount-path resolution ---
    // Kinds DDB, GlusterFS and Maldor FS; others throw TsException.
    int get_mnt_path(mnt_path_type kind, std::string& path);
    // Data kinds (DATAPATH, MALDOR_DATAPATH): the data mount paths with free space.
    int get_mnt_path(mnt_path_type kind, std::list<free_space_info>& list, bool from_fstab);
    // Search by vendor and product is not provided: always throws.
    int get_mnt_path(mnt_path_type kind, std::string vendor, std::string product, std::string& path);
    std::string get_brick_dir();
    std::string get_mount_options(mnt_path_type kind);
    std::string get_file_system(mnt_path_type kind);
    std::string get_datapath_prefix();
    std::string get_datapath_mount_options();
    std::string get_datapath_file_system();
    std::string get_default_gluster_mount();
    std::string get_maldor_vdisk_mntpath_prefix();
    bool is_sys_mnt_path(std::string path);
    // 0 when path is (or now is) a directory, -20 when it exists as another kind
    // of file; throws TsException when it cannot be created.
    int mkdir(std::string path, unsigned mode);

    // --- mounting ---
    // Runs umount on path; 0, or throws TsException "<command> failed".
    int unmount(std::string path);
    // 1 when path is mounted (per /etc/mtab), with its device, type and options.
    int is_mounted(std::string path, std::string& blkdev, std::string& fstype, std::list<std::string>& options);
    // The device mounted at path with type fstype; throws when none is, or another type is.
    int get_blk_dev(std::string path, std::string fstype, std::string& blkdev);
    // Mounts blkdev at path (options may be empty); 0 or -1.
    int mount(std::string path, std::string blkdev, std::string fstype, std::string options);
    // Mounts path as /etc/fstab says; 0 or -1.
    int mount(std::string path);
    // Device mounted now at the kind's mount path (DDB, GlusterFS, Maldor FS); 0 or -1.
    int get_backing_dev(mnt_path_type kind, std::string& blkdev);
    // The disk of a partition ("lsblk -no pkname"); 0, or the command's exit code.
    int get_backing_device_for_partition(std::string partition, std::string& disk);

    // --- /etc/fstab ---
    // Every rewrite replaces the file atomically, keeping its mode and owner; a
    // failed rewrite leaves the old file whole and throws TsException.
    std::string create_file_sys_args(std::list<std::string>& options);
    // Writes the header and one line per entry to file; 0, throws on a write failure.
    int create_sysconfig_files(std::list<TsMntInfo>& entries, std::string file);
    // 0 when /etc/fstab has an entry with this device, path and type, else -1.
    int is_valid_sysconfig_file_entry(std::string path, std::string blkdev, std::string fstype,
                                      std::list<std::string>& options);
    // Replaces the /etc/fstab entry for path or blkdev (or adds one) and writes
    // the result to file; writes nothing when the entry is already as asked.
    int update_sysconfig_files(std::string path, std::string blkdev, std::string fstype, std::string fsargs,
                               std::string file);
    // Removes every entry of file mounted at path; their devices go to removed.
    int trim_sysconfig_files(std::string path, std::string file, std::list<std::string>& removed);
    // Device of path's /etc/fstab entry, a UUID= entry resolved through
    // /dev/disk/by-uuid; 0 or -1.
    int get_fstab_backing_device(std::string path, std::string& blkdev);
    // The device a UUID= device text of an fstab entry names, through
    // /dev/disk/by-uuid, without reading /etc/fstab again (for callers that
    // walk the whole file); 0, or -1 when it is no valid UUID= text or no
    // link names it.
    int resolve_fstab_uuid(const std::string& device_text, std::string& blkdev);
    // File-system UUID of path's UUID= entry in /etc/fstab; 0 or -1.
    int get_uuid_from_fstab(const std::string& path, std::string& uuid);
    // Whether options carry what the kind needs (noatime, inode64, nofail, ...).
    bool fsargs_valid(mnt_path_type kind, std::list<std::string>& options);
    // The entries of a mount table file (comments dropped); 0 or an errno value.
    int read_sysconfig_file(std::string file, std::list<TsMntInfo>& entries);

    // --- ownership stamps ---
    static constexpr const char* kMntStamp = "trusted.mntstamp";
    static constexpr const char* kTslnStamp = "trusted.tslnstamp";
    static constexpr const char* kBlkdevStamp = "trusted.blkdevstamp";
    static constexpr const char* kTslnStampValue = "arrowfield@tsln";
    static constexpr const char* kMaldorClusterStamp = "trusted.tsaf2cluster";
    static constexpr const char* kMaldorNodesStamp = "trusted.maldorclusternodes";
    // 0 or -1.
    int setextendedattribute(std::string path, std::string name, std::string value);
    // The value's length with value set, or a negative result.
    int getextendedattribute(std::string path, std::string name, std::string& value);
    // 0 or -1.
    int removeextendedattribute(std::string path, std::string name);
    // 0 when mnt_path carries the three appliance stamps, else negative.
    int check_for_tsln_xattrs(std::string mnt_path);
    int stamp_tsln_xattrs(std::string blkdev, std::string mnt_path, std::string blkdev_stamp);
    int remove_tsln_xattrs(std::string mnt_path);
    bool is_tsln_system_volume_group(std::string vg);
    bool is_tsln_data_drive(std::string mnt_path);
    // Whether blkdev is a logical volume: its volume group and physical volumes ("a:b").
    bool is_logicalvol(std::string blkdev, std::string& vg, std::string& pvs);
    // Stamps every mounted appliance drive whose stamps are missing.
    int fix_tsln_stamps();

    // --- Maldor stamps ---
    bool is_maldor_data_drive(std::string mnt_path, std::string& cluster);
    int stamp_maldor_data_drive(std::string mnt_path, std::string cluster);
    int stamp_maldor_data_drives(std::string cluster);
    int remove_maldor_xattrs(std::string mnt_path);
    int stamp_maldor_xattrs();
    int enumerate_maldor_metadata_drives(std::vector<std::string>& mnt_paths);

    // --- block-device provisioning ---
    // 0, or -1 when the device cannot be opened or written.
    int wipe_partition_table(std::string blkdev);
    int format_blkdev(std::string blkdev, std::string fstype);
    int format_blkdev_with_uuid(const std::string& blkdev, const std::string& fstype, const std::string& uuid);
    // 0 and the UUID; throws for an unsupported type or a failed command.
    int extract_filesys_uuid(std::string blkdev, std::string fstype, std::string& uuid);
    // Wipe, format, create the directory, mount, stamp; stops at the first failure.
    int process_blkdev(std::string blkdev, std::string mnt_path, std::string fstype, std::string options);
    // Provisions every new disk at the next free slots; 0, -1 when new disks
    // cannot be detected or cannot become data mount paths here (nothing is
    // wiped then), 1 when one or more disks failed (the log names each and why).
    // Recording the mounts in /etc/fstab is the caller's.
    int mount_new_blkdev();
    int mount_new_blkdev(tsaf_blkdev_basic_info& disk, std::string& mnt_path);
    // Whether new disks can become data mount paths on this node: its flavour is
    // recorded and the data-path prefix's parent directory exists. 0, or -1 with
    // why, naming the registry key to set. Provisioning asks before any wipe.
    int check_datapath_target(std::string& why);
    int mount_new_blkdev_with_uuid(tsaf_blkdev_basic_info& disk, const std::string& uuid, const std::string& mnt_path);
    bool is_valid_uuid(const std::string& uuid);
    // Every whole disk of the node with whether mount_new_blkdev() would take it,
    // and if not why. 0, or non-zero when that cannot be decided (nothing is new then).
    int survey_new_disks(std::list<tsaf_blkdev_verdict>& verdicts);

    // --- provisioning runs: one at a time on a node, finished after a crash ---
    // Holds the node's provisioning lock for its lifetime, waiting a bounded
    // time for a run of another process. The provisioning methods called by
    // this process meanwhile run under it, so that a caller can keep other
    // runs out from its survey to its last /etc/fstab entry. When not held,
    // message() says why: "another provisioning is running (pid N)".
    class TW_API provisioning_lock {
    public:
        provisioning_lock();
        ~provisioning_lock();
        provisioning_lock(const provisioning_lock&) = delete;
        provisioning_lock& operator=(const provisioning_lock&) = delete;
        bool held() const;
        std::string message() const;

    private:
        struct hold;
        hold* hold_;
    };
    // A disk that a provisioning run began and has not finished: the next run
    // finishes it at the same mount path with the same file-system UUID.
    struct provisioning_intent {
        std::string device, serial, wwn, mnt_path, uuid;
        bool record_fstab = true;
        std::string last_failure;  // why its last attempt stopped, empty if none
    };
    // 0 with the recorded disks, or an errno value when the record cannot be read.
    int interrupted_provisioning(std::list<provisioning_intent>& intents);
    // What became of one disk in a provisioning run.
    struct provisioning_outcome {
        std::string device, mnt_path, uuid;
        bool resumed = false;  // finished from an interrupted run's record
        bool skipped = false;  // left untouched (no longer new, gone, or holds something else)
        bool mounted = false;  // mounted at mnt_path and stamped
        bool in_fstab = false;  // its /etc/fstab entry is written
        int rc = 0;  // 0 when the disk is done
        std::string message;  // why not: the disk, the step and the cause
    };
    // Under the provisioning lock: first finishes every recorded disk, then
    // provisions each of disks that is still new at the next free slots, with a
    // file-system UUID chosen up front, recording each in /etc/fstab by UUID when
    // record_fstab. starting is called before each disk, finished after it.
    // 0 when every disk is done, 1 when one or more failed or were skipped, -1
    // when nothing could be started (lock, survey, state directory, node type;
    // why is then in outcomes' first message or the log).
    int
    provision_disks(const std::list<tsaf_blkdev_basic_info>& disks, bool record_fstab,
                    std::list<provisioning_outcome>& outcomes,
                    const std::function<void(const provisioning_outcome&, size_t index, size_t total)>& starting = {},
                    const std::function<void(const provisioning_outcome&)>& finished = {});

    // --- data mount paths ---
    int get_datapath_mnt_list(std::list<free_space_info>& list, std::string prefix, std::string fstype,
                              bool from_fstab);
    int enumerate_data_drives(std::list<free_space_info>& list, bool from_fstab);
    // Highest slot number in use under the data-path prefix's directory, 0 if none.
    unsigned get_data_mntpath_lastslot();
    // The data mount-path prefix the last slot scan or provisioning call of this
    // process used (one string for the whole process).
    static std::string last_datapath_prefix();

    // --- I/O verification ---
    // Test files hold `count` 32-bit words of a key's pseudo-random stream in
    // memory order and nothing else. They are written and read in chunks (memory
    // stays flat whatever the count), flushed to the device after writing, and
    // read back from the device, not from the page cache.
    // len, or -1 when the write (or the flush) fails; throws TsException when
    // the file cannot be opened or closed.
    int write_data_to_file(std::string path, void* buf, unsigned len);
    // len, or -1 on a failed or short read; throws like write_data_to_file.
    int read_data_from_file(std::string path, void* buf, unsigned len);
    // true when all words are equal; logs every difference.
    bool compare_data(unsigned* expected, unsigned* actual, unsigned count);
    // Replaces path with count words of a fresh key's stream; the key comes back
    // in key. Bytes written (at most INT_MAX is reported), or -1.
    int generate_random_file(unsigned count, std::string path, unsigned& key);
    // 0 when path holds the first count words of key's stream, else -1. The
    // first differing words are logged with their index.
    int validate_random_file(unsigned count, std::string path, unsigned& key);
    // Told, on the calling thread, how much of a long check is done: words
    // written or compared, or blocks read, out of total. Called about once a
    // MiB (or every 64 reads) and once at the end of a successful pass.
    using io_progress = std::function<void(unsigned long long done, unsigned long long total)>;
    // The same checks, reporting their progress.
    int generate_random_file(unsigned count, std::string path, unsigned& key, const io_progress& progress);
    int validate_random_file(unsigned count, std::string path, unsigned& key, const io_progress& progress);
    int perform_blkdev_io_test(std::string blkdev, unsigned count, io_test_info& info, const io_progress& progress);
    // Block count and block size of a device: a kernel name ("sdb", asked as
    // /dev/sdb) or a path ("/dev/sdb"). 0; throws TsException (both outputs 0).
    int get_blkdev_capacity(std::string name, unsigned long long& blocks, unsigned& blksize);
    // Reads count whole blocks at pseudo-random positions, drawn uniformly over
    // blocks 0 to blocks - 2. blkdev is named as for get_blkdev_capacity.
    // 0 passed, -1 failed; info holds the counts.
    int perform_blkdev_io_test(std::string blkdev, unsigned count, io_test_info& info);
    // Creates test_dir.<pid>.<run>/test_dir/test_file.txt on mnt_path (a name of
    // its own; leftovers of interrupted checks are removed), writes and validates
    // 4096 words, and removes the tree again whatever happened. With
    // check_mounted, mnt_path must be a mount point. 0 passed, -1 failed.
    int check_file_system(std::string mnt_path, bool check_mounted);
    // The file test on each local brick directory of volume, with its file
    // beside the brick (brick/../io_test.txt, left in place). One record per
    // brick directory, in order; always 0.
    int perform_io_test(std::string volume, unsigned count, std::list<io_test_info>& results);
    // Why the last block-device test or file validation of this object failed,
    // in words for people ("read did not complete within 60 s"); empty when it
    // passed or no more is known than its log lines say. A single read that
    // does not answer within 60 s fails the check by then: the stuck read goes
    // on in a process of its own, which ends when the read returns.
    const std::string& io_failure() const { return io_failure_; }

    // --- volume size tracking ---
    // The file of the largest size seen per gluster volume ("name:bytes" lines,
    // ascending by name). Recorded sizes only grow; volumes are never removed.
    std::string get_afvolsize_filename();
    // 0, or -1 when the file does not exist. Lines without ":" are skipped; the
    // first line of a volume counts.
    int read_volsize_file(const std::string& path, std::map<std::string, unsigned long>& sizes);
    // Replaces the file atomically; 0, or -1 when it cannot be written.
    int write_volsize_file(const std::string& path, std::map<std::string, unsigned long>& sizes);
    // Records new volumes and grown sizes of current; 0, or -1 when a needed
    // write failed.
    int update_volsize_file(std::map<std::string, unsigned long> current, std::map<std::string, unsigned long> saved);
    // 1 when size is below the recorded size of volume, else 0; records a new
    // volume or a grown size.
    int volsize_isless(std::string volume, unsigned long size);
    // Whether the file system mounted at mount_path is smaller than volume's
    // recorded size; 0, or -1 when its size cannot be read.
    int gluster_volume_get_sizeinfo(const std::string& volume, const std::string& mount_path, bool& isless);
    // The same for volume's gluster mount of /etc/fstab: mounted false (and 0)
    // when it is not mounted; -1 when /etc/fstab has no mount of volume or the
    // size cannot be read.
    int gluster_volume_get_sizeinfo(const std::string& volume, bool& mounted, bool& isless);

    // --- storage monitor checks ---
    // DAV volumes are the gluster volumes whose name holds "dav_he_vol" or
    // "dav_vm_vol". Their names, in listing order; none when virtualisation is
    // not enabled. 0, or -1 (no names) when gluster cannot list its volumes,
    // -2 (no names) when the hosted-engine status command did not answer in time.
    int get_davvollist(std::list<std::string>& names);
    // Whether /etc/mtab has a mount of volume (its source names that volume); 0.
    int davvol_ismounted(const std::string& volume, bool& mounted);
    // Whether the brick daemons of volume's bricks on this node run: online false
    // when any of them is down; true when the volume has no brick here. 0, -1
    // when this node's name or address cannot be found, -2 when gluster cannot
    // tell the volume's brick state (busy past its retry time, no answer):
    // online then stays true and the check did not run.
    int davvol_brickd_check(const std::string& volume, bool& online);
    // The first vdisk of sVDiskList, empty when none.
    std::string get_spvdisk_name();
    // Whether the vdisk's mount path (Maldor vdisk prefix + "/" + vdisk) is mounted; 0.
    int get_maldor_vdisk_mount_status(const std::string& vdisk, bool& mounted);
    // The /etc/fstab entries mounted under the Maldor vdisk prefix; 0, or 1 when
    // /etc/fstab cannot be read.
    int enumerate_maldor_vdisk_mpaths(std::list<maldor_vdisk_mount_info>& mounts);

    // --- flavour and identity ---
    int get_server_model(std::string& model);
    int get_imaging_id(int& major, int& minor);
    unsigned get_sds_type();

    // --- appliance platform type ---
    // Records the appliance model (sArrowfieldApplianceType) and the platform
    // type (sScaleoutPlatformType) from the server model and image version; 0 or -1.
    int set_arrowfield_platform_type();
    // Forces reference architecture at the next set_arrowfield_platform_type; 0 or -1.
    int set_refarch_platform();
    // The recorded platform type and appliance model ("" when not recorded);
    // 0 when the platform type is recorded, else -1.
    int get_platform_type(std::string& platform_type, std::string& appliance_type);

    // --- host names ---
    // The storage host name ("sds" after the host name's first label) and its
    // address; 0, or the failing step's code (hname is set even when it does not resolve).
    int get_tw_hname(std::string& hname, std::string& address);
    // Appends "address name" to /etc/hosts for each name (map: name -> address)
    // that does not resolve yet; always 0.
    int update_hosts(std::map<std::string, std::string>& names);
    // The storage host name when one of names resolves to its address: 0; 1 when
    // a name does not resolve; throws TsException when none matches.
    int get_loop_back_hname(std::list<std::string>& names, std::string& hname);
    // 1 when name stands for this node.
    int is_loop_back_hname(std::string name);
    // The host name gluster or DNS knows for ip; 0, or 1 when none.
    int get_remote_ip_to_hname(std::string& ip, std::string& hname);
    // 1 for a dotted IPv4 address, else 0.
    int is_valid_ip(std::string& ip);

    // --- services ---
    // 1 when "service NAME status" succeeds and reports running, else 0.
    int is_service_up(std::string service);
    // Starts the service unless it is up; 0 or the start command's status.
    int bring_service_up(std::string service);
    int is_glusterd_up();
    // Starts glusterd, repairing its peer files when it will not start; 0, or
    // throws TsException with the start command's error output.
    int make_glusterd_active();
    int is_maldor_daemon_up();  // always 1
    int make_maldor_daemons_active();  // always 0
    // "tessaline restart"; 0 or its failure code.
    int restart_ts_services();

    // --- virtualisation hosted engine ---
    // 1 when "hosted-engine --vm-status" succeeds.
    int is_ovirt_enabled();
    int set_hosted_engine(std::string name);
    int get_hosted_engine(std::string& name);

    // --- SSH keys for peer nodes ---
    // Makes the key pair at /root/.ssh/id_rsa unless its public key exists.
    int create_ssh_keypair();
    // Installs the public key on host; value is root's password there (empty
    // when key login already works).
    int copy_ssh_key(std::string host, std::string value);

    // --- housekeeping ---
    // Runs the registry sync script on a remote-cache node.
    void invoke_syncreg_script();
    // Removes gluster backup logs (*.gz) older than 7 days.
    void cleanup_backup_logs();
    void set_drillholes_regkey();
    // Backs up the network files to the data drives; always 0.
    int backup_nwfiles_localnode();

    // --- gluster volumes and bricks ---
    // 1 when path lies below the gluster mount path.
    int is_on_gluster_volume(std::string path);
    // Host, volume and port of the gluster mount at the gluster mount path, and
    // path relative to it; 0, or -2 when that path is no gluster mount.
    int extract_gluster_volume_info(std::string path, std::string& host, std::string& volume, unsigned& port,
                                    std::string& path_on_volume);
    // 1 when dir carries gluster's brick attributes (trusted.gfid, trusted.glusterfs.volume-id).
    int is_gluster_brick_path(std::string dir);
    // This node's brick directories of volume; 0 or -1.
    int get_mount_path_list(std::string volume, std::list<std::string>& paths);
    // Every brick of volume with whether it is this node's and online; 0 or -1.
    int get_gluster_brick_list(std::string volume, std::list<gluster_brick_info>& bricks);
    // Mounts the gluster mount path through its /etc/fstab entry (unless
    // mounted); throws TsException on failure.
    void mount_gluster_mnt_path(std::string host, std::string volume);
    // 1 when entries of volume are waiting to heal.
    int heal_in_progress(std::string volume);
    // The device holding a brick ("host:/dir" or "/dir"); the host services' result.
    int get_brick_bdev(std::string brick, std::string& bdev);
    // Takes the data disk of brick "host:/dir" (dir's parent) out of /etc/fstab,
    // removes its stamps and unmounts it; 0, or -1 when nothing could be done.
    // Refused, touching nothing, unless host is one of this node's names and the
    // disk is a numbered data mount path of the node's flavour.
    int cleanup_brick(std::string brick);
    // Repairs glusterd's peer files when they are damaged and starts glusterd;
    // 0, or the failing step's result.
    int check_heal_glusterd_peer_files();
    // Backs up glusterd's peer files again when the last backup failed.
    void check_glusterd_peer_files_backup();

    // --- gluster mounts of /etc/fstab and their backup on the data disks ---
    // Host and volume of the first /etc/fstab line naming /tw/glus.
    void get_info_by_fstab(std::string unused, std::string& host, std::string& volume);
    // Every gluster mount of /etc/fstab; 0, or 1 when it cannot be read.
    int get_gluster_vols_mount_info(std::list<gluster_vol_mount_info>& mounts);
    // The mount of volume; 0 when found, else 1.
    int get_glus_vol_mount_info(const std::string& volume, gluster_vol_mount_info& mount);
    // The mount served by this node's storage host name; 0 when found, else 1.
    int get_gluster_local_vol_mount_info(gluster_vol_mount_info& mount);
    // The mounts served by other nodes; 0, or 1.
    int get_gluster_remote_vols_mount_info(std::list<gluster_vol_mount_info>& mounts);
    // Appends mount's line to the "fstab-bkp" file of each local data disk of volume; 0 or 1.
    int backup_gluster_remote_vol_mount_info(std::string& volume, gluster_vol_mount_info& mount);
    // The mounts recorded in the first readable "fstab-bkp" of volume's local data disks; 0 or 1.
    int get_gluster_remote_vols_mount_info_from_bkp(std::string& volume, std::list<gluster_vol_mount_info>& mounts);

    // --- first boot and system files ---
    // Sets the platform type, and on the first boot records the DDB mount,
    // configures kdump and log rotation, moves the bare-metal-recovery logs and
    // then marks first boot done (sArrowfieldFirstBootComplete); afterwards a
    // fresh iSCSI initiator name and LVM filters. 0, or -1 when a step before the mark failed.
    // One first boot at a time on a node: a second one waits up to 30 s for
    // the node's first-boot lock, then fails (-1). A boot after one that was
    // cut short between the mark and the end of the steps after it finishes them.
    int do_first_boot_operations();
    // The same; on failure, failure says why in words for people when it was
    // not a step of its own ("another first boot is running (pid 123)").
    int do_first_boot_operations(std::string& failure);
    // Registry key (section Dockwright) of the once-only steps after the mark:
    // "due" just before the mark is set, "backed-up" once the original
    // initiator name is in its backup (a later reset keeps that backup), "done"
    // once the steps have run to their end, whatever their results.
    static constexpr const char* kIqnResetKey = "sTidewallIqnReset";
    static constexpr const char* kIqnResetDue = "due";
    static constexpr const char* kIqnResetBackedUp = "backed-up";
    static constexpr const char* kIqnResetDone = "done";
    int process_ddb_fstab_entry();
    // Writes /etc/kdump.conf and enables and restarts kdump; 0, -1 or the command's status.
    int configure_kdump();
    // Writes /etc/logrotate.conf; 0 or -1.
    int create_global_logrotate_config();
    // Versions 1 and 2 of /etc/logrotate.d/glusterfs, recorded in nLogrotateUpdateVersion.
    int create_glusterfs_logrotate_conf();
    int create_glusterfs_logrotate_maxsize_conf();
    // Installs gluster log-rotation version func_num (1 or 2), up to 3 attempts.
    int switcher(int func_num);
    // Installs every gluster log-rotation version above the recorded one.
    void update_logrotate();
    // Moves /var/log/bmrlogs into the product log directory; 0 or -1.
    int move_bmrlogs();
    // Runs the LVM filter script; 0 or 1.
    int generate_lvm_filter();
    // Gives the node a fresh iSCSI initiator name; 0 or the failing step's result.
    // The original name is first copied to /var/tmp/initiatorname.iscsi.backup,
    // once: a backup already recorded in kIqnResetKey is kept. The backup is
    // created afresh (O_EXCL|O_NOFOLLOW, 0600) after removing any entry there
    // that root did not make; when that fails, the name is left as it is (-1).
    int reset_iqn();

    // Whether the gluster administration handle could be built.
    bool gluster_admin_available() const { return glfs_available_; }

    // Comment lines of /etc/fstab kept through a rewrite, each with the entry
    // it comes before (nullptr: at the end).
    using kept_fstab_comments = std::vector<std::pair<const TsMntInfo*, std::string>>;

private:
    int write_sysconfig_file(const std::list<TsMntInfo>& entries, const kept_fstab_comments& comments,
                             const std::string& file);
    int heal_glusterd_peer_files(bool& repaired);
    // 1 enabled, 0 not, -1 the status command did not answer within its limit.
    int probe_hosted_engine();
    std::string resolve_setting(const char* key, const std::string& fallback);
    [[noreturn]] void throw_unsupported(const char* tag, const char* message, int line);
    // The initiator name and LVM filter steps after the first-boot mark.
    void finish_after_first_boot_mark();

    tw_debug log_;
    std::string io_failure_;
    glfs_admin* glfs_ = nullptr;
    bool glfs_available_ = false;
    std::string ddb_mnt_path_default_;
    std::string datapath_prefix_default_;
    std::string maldor_datapath_prefix_default_;
    std::string gluster_mnt_path_default_;
    std::string maldor_mnt_path_default_;
    std::string maldor_mount_options_default_;
    std::string ssh_private_key_path_;
};

// Backing device of the DDB mount path, for callers that load the library by
// symbol name: exported unmangled. 0 or -1.
extern "C" TW_API int get_ddb_backing_dev(std::string& blkdev);

#endif
