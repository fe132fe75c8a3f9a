#ifndef TIDEWALL_TW_PLATFORM_RECORDS_H
#define TIDEWALL_TW_PLATFORM_RECORDS_H

// The records of the platform inventory (tw_platform). Plain values: one getter
// and one setter per field, getters return a copy. Text is empty, flags false and
// counters 0 until a query fills them.

#include <tidewall/export.h>

#include <cstdint>
#include <string>

// The server as the firmware tables name it.
class TW_API tw_system {
public:
    std::string get_vendor() const { return vendor_; }
    std::string get_modelno() const { return modelno_; }
    std::string get_serialnum() const { return serialnum_; }
    void set_vendor(const std::string& v) { vendor_ = v; }
    void set_modelno(const std::string& v) { modelno_ = v; }
    void set_serialnum(const std::string& v) { serialnum_ = v; }

private:
    std::string vendor_;
    std::string modelno_;
    std::string serialnum_;
};

// The baseboard.
class TW_API tw_chipset {
public:
    std::string get_manu() const { return manu_; }
    std::string get_prodname() const { return prodname_; }
    std::string get_version() const { return version_; }
    std::string get_serialnum() const { return serialnum_; }
    void set_manu(const std::string& v) { manu_ = v; }
    void set_prodname(const std::string& v) { prodname_ = v; }
    void set_version(const std::string& v) { version_ = v; }
    void set_serialnum(const std::string& v) { serialnum_ = v; }

private:
    std::string manu_;
    std::string prodname_;
    std::string version_;
    std::string serialnum_;
};

class TW_API tw_bios {
public:
    std::string get_vendor() const { return vendor_; }
    std::string get_version() const { return version_; }
    std::string get_reldate() const { return reldate_; }
    std::string get_revision() const { return revision_; }
    void set_vendor(const std::string& v) { vendor_ = v; }
    void set_version(const std::string& v) { version_ = v; }
    void set_reldate(const std::string& v) { reldate_ = v; }
    void set_revision(const std::string& v) { revision_ = v; }

private:
    std::string vendor_;
    std::string version_;
    std::string reldate_;  // as the firmware prints it
    std::string revision_;
};

// One populated processor socket.
class TW_API tw_processor {
public:
    std::string get_name() const { return name_; }
    std::string get_version() const { return version_; }
    std::uint32_t get_numcores() const { return numcores_; }
    std::uint32_t get_coresenabled() const { return coresenabled_; }
    std::uint32_t get_threadcount() const { return threadcount_; }
    std::uint32_t get_temp() const { return temp_; }
    void set_name(const std::string& v) { name_ = v; }
    void set_version(const std::string& v) { version_ = v; }
    void set_numcores(std::uint32_t v) { numcores_ = v; }
    void set_coresenabled(std::uint32_t v) { coresenabled_ = v; }
    void set_threadcount(std::uint32_t v) { threadcount_ = v; }
    void set_temp(std::uint32_t v) { temp_ = v; }

private:
    std::string name_;
    std::string version_;
    std::uint32_t numcores_ = 0;
    std::uint32_t coresenabled_ = 0;
    std::uint32_t threadcount_ = 0;
    std::uint32_t temp_ = 0;  // degrees Celsius
};

// Memory in MB.
class TW_API tw_memory {
public:
    std::uint64_t get_totalmem() const { return totalmem_; }
    std::uint64_t get_usedmem() const { return usedmem_; }
    void set_totalmem(std::uint64_t v) { totalmem_ = v; }
    void set_usedmem(std::uint64_t v) { usedmem_ = v; }

private:
    std::uint64_t totalmem_ = 0;
    std::uint64_t usedmem_ = 0;
};

// One network port.
class TW_API tw_nicinfo {
public:
    std::string get_devname() const { return devname_; }
    std::string get_busaddr() const { return busaddr_; }
    std::string get_model() const { return model_; }
    std::string get_fwversion() const { return fwversion_; }
    std::string get_linkstatus() const { return linkstatus_; }
    std::string get_linkspeed() const { return linkspeed_; }
    std::string get_macaddr() const { return macaddr_; }
    double get_rxkbps() const { return rxkbps_; }
    double get_txkbps() const { return txkbps_; }
    void set_devname(const std::string& v) { devname_ = v; }
    void set_busaddr(const std::string& v) { busaddr_ = v; }
    void set_model(const std::string& v) { model_ = v; }
    void set_fwversion(const std::string& v) { fwversion_ = v; }
    void set_linkstatus(const std::string& v) { linkstatus_ = v; }
    void set_linkspeed(const std::string& v) { linkspeed_ = v; }
    void set_macaddr(const std::string& v) { macaddr_ = v; }
    void set_rxkbps(double v) { rxkbps_ = v; }
    void set_txkbps(double v) { txkbps_ = v; }
    // Kept for the driver query; not reported.
    void set_driver_version(const std::string& v) { driver_version_ = v; }

private:
    std::string devname_;
    std::string busaddr_;  // PCI address
    std::string model_;
    std::string fwversion_;
    std::string linkstatus_;
    std::string linkspeed_;
    std::string macaddr_;
    double rxkbps_ = 0;
    double txkbps_ = 0;
    std::string driver_version_;
};

// One storage controller, SAS or Fibre Channel.
class TW_API tw_ctrlinfo {
public:
    std::string get_type() const { return type_; }
    std::string get_bdf() const { return bdf_; }
    std::string get_wwn() const { return wwn_; }
    std::string get_model() const { return model_; }
    std::string get_fwversion() const { return fwversion_; }
    std::string get_state() const { return state_; }
    void set_type(const std::string& v) { type_ = v; }
    void set_bdf(const std::string& v) { bdf_ = v; }
    void set_wwn(const std::string& v) { wwn_ = v; }
    void set_model(const std::string& v) { model_ = v; }
    void set_fwversion(const std::string& v) { fwversion_ = v; }
    void set_state(const std::string& v) { state_ = v; }

private:
    std::string type_;
    std::string bdf_;  // PCI bus:device.function
    std::string wwn_;
    std::string model_;
    std::string fwversion_;
    std::string state_;
};

// One drive.
class TW_API tw_driveinfo {
public:
    std::string get_devname() const { return devname_; }
    std::string get_vendor() const { return vendor_; }
    std::string get_model() const { return model_; }
    std::string get_serialnum() const { return serialnum_; }
    std::string get_revision() const { return revision_; }
    std::string get_type() const { return type_; }
    std::string get_size() const { return size_; }
    std::string get_phyid() const { return phyid_; }
    double get_rdsectps() const { return rdsectps_; }
    double get_wrsectps() const { return wrsectps_; }
    bool get_overallhealth() const { return overallhealth_; }
    std::string get_drivenum() const { return drivenum_; }
    void set_devname(const std::string& v) { devname_ = v; }
    void set_vendor(const std::string& v) { vendor_ = v; }
    void set_model(const std::string& v) { model_ = v; }
    void set_serialnum(const std::string& v) { serialnum_ = v; }
    void set_revision(const std::string& v) { revision_ = v; }
    void set_type(const std::string& v) { type_ = v; }
    void set_size(const std::string& v) { size_ = v; }
    void set_phyid(const std::string& v) { phyid_ = v; }
    void set_rdsectps(double v) { rdsectps_ = v; }
    void set_wrsectps(double v) { wrsectps_ = v; }
    void set_overallhealth(bool v) { overallhealth_ = v; }
    void set_drivenum(const std::string& v) { drivenum_ = v; }

private:
    std::string devname_;
    std::string vendor_;
    std::string model_;
    std::string serialnum_;
    std::string revision_;
    std::string type_;
    std::string size_;
    std::string phyid_;
    double rdsectps_ = 0;  // sectors read per second
    double wrsectps_ = 0;  // sectors written per second
    bool overallhealth_ = false;  // SMART overall health passed
    std::string drivenum_;  // number on its controller
};

class TW_API tw_mntpointinfo {
public:
    std::string get_mntpath() const { return mntpath_; }
    bool get_mounted() const { return mounted_; }
    std::uint32_t get_percentused() const { return percentused_; }
    void set_mntpath(const std::string& v) { mntpath_ = v; }
    void set_mounted(bool v) { mounted_ = v; }
    void set_percentused(std::uint32_t v) { percentused_ = v; }

private:
    std::string mntpath_;
    bool mounted_ = false;
    std::uint32_t percentused_ = 0;
};

class TW_API tw_powersupply {
public:
    std::string get_name() const { return name_; }
    std::string get_redundancy() const { return redundancy_; }
    bool get_status() const { return status_; }
    void set_name(const std::string& v) { name_ = v; }
    void set_redundancy(const std::string& v) { redundancy_ = v; }
    void set_status(bool v) { status_ = v; }

private:
    std::string name_;
    std::string redundancy_;
    bool status_ = false;  // true: healthy
};

class TW_API tw_faninfo {
public:
    std::string get_name() const { return name_; }
    std::string get_value() const { return value_; }
    bool get_status() const { return status_; }
    void set_name(const std::string& v) { name_ = v; }
    void set_value(const std::string& v) { value_ = v; }
    void set_status(bool v) { status_ = v; }

private:
    std::string name_;
    std::string value_;  // the reading as the tool prints it
    bool status_ = false;  // true: healthy
};

#endif
