#ifndef TIDEWALL_TW_STORAGEMONITOR_H
#define TIDEWALL_TW_STORAGEMONITOR_H

#include <tidewall/export.h>
#include <tidewall/tw_debug.h>

#include <list>
#include <string>

// One storage volume's health as the monitor found it. A status means
// something only when its check is supported for the volume.
class TW_API tw_volumeinfo {
public:
    void set_volumename(std::string name) { volume_name_ = std::move(name); }
    const std::string& get_volumename() const { return volume_name_; }

    void set_mountcheck_supp() { mountcheck_supp_ = true; }
    bool is_mountcheck_supp() const { return mountcheck_supp_; }
    void set_notmounted_status(bool v) { notmounted_ = v; }
    bool get_notmounted_status() const { return notmounted_; }

    void set_brickcheck_supp() { brickcheck_supp_ = true; }
    bool is_brickcheck_supp() const { return brickcheck_supp_; }
    void set_brickoffline_status(bool v) { brickoffline_ = v; }
    bool get_brickoffline_status() const { return brickoffline_; }

    void set_sizecheck_supp() { sizecheck_supp_ = true; }
    bool is_sizecheck_supp() const { return sizecheck_supp_; }
    void set_sizeincorrect_status(bool v) { sizeincorrect_ = v; }
    bool get_sizeincorrect_status() const { return sizeincorrect_; }

private:
    std::string volume_name_;
    bool mountcheck_supp_ = false;
    bool notmounted_ = false;
    bool brickcheck_supp_ = false;
    bool brickoffline_ = false;
    bool sizecheck_supp_ = false;
    bool sizeincorrect_ = false;
};

class tw_storage;

// The health of every storage volume the node uses, on request. On the
// GlusterFS flavour: the node's own gluster volume (mounted, size not shrunk),
// the remote volumes it mounts (mounted) and the DAV volumes of virtualisation
// (mounted, brick daemons on this node online); on the Maldor flavour (and an
// undetermined one) the Maldor vdisk (mounted). No check throws: a check that
// cannot be carried out leaves the volume looking healthy in its record, except
// a vdisk whose state cannot be read, which counts as not mounted, and is listed
// by get_checks_not_run().
class TW_API tw_storagemonitor {
public:
    tw_storagemonitor();
    ~tw_storagemonitor();

    // A full pass: the records of this pass, logged at debug level 2 and above.
    const std::list<tw_volumeinfo>& get_volumeinfo();
    // Each appends its records to list; always 0.
    int get_volumeinfo_gluster(std::list<tw_volumeinfo>& list);
    int get_volumeinfo_maldor(std::list<tw_volumeinfo>& list);
    int get_davinfo(std::list<tw_volumeinfo>& list);
    // Logs the records of the last pass (debug level 2 and above only).
    void loginfo();

    // Checks of the passes since the last get_volumeinfo() that could not be
    // carried out, one "what: why" line each. Their records keep the
    // healthy-looking defaults, so a caller must read this list as well.
    const std::list<std::string>& get_checks_not_run() const { return not_run_; }
    // Asks gluster about each gluster volume of the last pass that this
    // node's pool holds: one "volume: why" line for each that runs degraded (a
    // brick offline on any node, entries still to heal). A volume gluster
    // cannot tell about goes to get_checks_not_run() instead. The first call
    // after get_volumeinfo() reuses that pass's gluster answers (each question
    // is asked once a pass); any later call asks anew.
    const std::list<std::string>& check_gluster_degraded();

private:
    int gluster_pass(tw_storage& storage, std::list<tw_volumeinfo>& list);
    int maldor_pass(tw_storage& storage, std::list<tw_volumeinfo>& list);
    int dav_pass(tw_storage& storage, std::list<tw_volumeinfo>& list);

    void not_run(const std::string& what, const std::string& why);
    void seen_gluster_volume(const std::string& name);

    tw_debug log_;
    std::list<tw_volumeinfo> volumes_;
    std::list<std::string> not_run_;
    std::list<std::string> gluster_volumes_;  // of the passes since get_volumeinfo()
    std::list<std::string> degraded_;
};

#endif
