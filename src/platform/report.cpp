// The platform report: the chosen sections of what the object holds, one log
// line per record, in a fixed section order.

#include <tidewall/tw_platform.h>

#include "foundation/log/log_level.h"

namespace {

void ctrl_lines(tw_debug& log, const char* tag, const std::list<tw_ctrlinfo>& ctrls) {
    for (const auto& c : ctrls)
        log.logMessage(tag, tidewall::log_level::trace,
                       "Type:[%s] Model:[%s] WWN:[%s] FWVersion:[%s] PCIAddress:[%s] State:[%s]", c.get_type().c_str(),
                       c.get_model().c_str(), c.get_wwn().c_str(), c.get_fwversion().c_str(), c.get_bdf().c_str(),
                       c.get_state().c_str());
}

}  // namespace

void tw_platform::loginfo(tw_platforminfo sections) {
    const char* tag = "tw_platform::loginfo";
    if (log_.getDebugLevel() <= 1) return;
    auto wanted = [sections](tw_platforminfo bit) { return (sections & bit) != 0; };

    if (wanted(PINFO_SYSTEM)) {
        log_.logMessage(tag, tidewall::log_level::trace, "System Info:");
        log_.logMessage(tag, tidewall::log_level::trace, "Vendor:[%s] Model:[%s] Serial Number:[%s]",
                        system_.get_vendor().c_str(), system_.get_modelno().c_str(), system_.get_serialnum().c_str());
    }
    if (wanted(PINFO_CHIPSET)) {
        log_.logMessage(tag, tidewall::log_level::trace, "Chipset Info:");
        log_.logMessage(tag, tidewall::log_level::trace,
                        "Manufacturer:[%s] Product Name:[%s] Version:[%s] SerialNum:[%s]", chipset_.get_manu().c_str(),
                        chipset_.get_prodname().c_str(), chipset_.get_version().c_str(),
                        chipset_.get_serialnum().c_str());
    }
    if (wanted(PINFO_BIOS)) {
        log_.logMessage(tag, tidewall::log_level::trace, "BIOS Info:");
        log_.logMessage(tag, tidewall::log_level::trace, "Vendor:[%s] Version:[%s] Release Date:[%s] Revision:[%s]",
                        bios_.get_vendor().c_str(), bios_.get_version().c_str(), bios_.get_reldate().c_str(),
                        bios_.get_revision().c_str());
    }
    if (wanted(PINFO_PROCESSOR)) {
        log_.logMessage(tag, tidewall::log_level::trace, "Processor Info:");
        log_.logMessage(tag, tidewall::log_level::trace, "CPU Usage: [%f]%%", cpu_usage_);
        for (const auto& p : processors_)
            log_.logMessage(
                tag, tidewall::log_level::trace,
                "Name:[%s] Version:[%s] Numcores:[%u] Cores Enabled:[%u] Thread Count:[%u] Temp:[%u] degree C",
                p.get_name().c_str(), p.get_version().c_str(), p.get_numcores(), p.get_coresenabled(),
                p.get_threadcount(), p.get_temp());
    }
    if (wanted(PINFO_MEMORY)) {
        log_.logMessage(tag, tidewall::log_level::trace, "Memory Info:");
        log_.logMessage(tag, tidewall::log_level::trace, "TotalMemory: [%luMB] UsedMemory: [%luMB]",
                        static_cast<unsigned long>(memory_.get_totalmem()),
                        static_cast<unsigned long>(memory_.get_usedmem()));
    }
    if (wanted(PINFO_NIC)) {
        log_.logMessage(tag, tidewall::log_level::trace, "NIC Info:");
        for (const auto& n : nics_)
            log_.logMessage(tag, tidewall::log_level::trace,
                            "Devname:[%s] BusAddress:[%s] Model:[%s] FWVersion:[%s] LinkStatus:[%s] LinkSpeed:[%s] "
                            "MacAddr:[%s] RX kb/s:[%f] TX kb/s:[%f]",
                            n.get_devname().c_str(), n.get_busaddr().c_str(), n.get_model().c_str(),
                            n.get_fwversion().c_str(), n.get_linkstatus().c_str(), n.get_linkspeed().c_str(),
                            n.get_macaddr().c_str(), n.get_rxkbps(), n.get_txkbps());
    }
    if (wanted(PINFO_SASCTRL)) {
        log_.logMessage(tag, tidewall::log_level::trace, "SAS Controller Info:");
        ctrl_lines(log_, tag, sas_ctrls_);
    }
    if (wanted(PINFO_FCCTRL)) {
        log_.logMessage(tag, tidewall::log_level::trace, "FC Controller Info:");
        ctrl_lines(log_, tag, fc_ctrls_);
    }
    if (wanted(PINFO_DRIVE)) {
        log_.logMessage(tag, tidewall::log_level::trace, "Drive Info:");
        for (const auto& d : drives_)
            log_.logMessage(tag, tidewall::log_level::trace,
                            "Devname:[%s] Vendor:[%s] Model:[%s] Serialno:[%s] Revision:[%s] Type:[%s] Size:[%s] "
                            "PhyID:[%s] Health:[%u] Read Sect/s:[%f] Write Sect/s:[%f] DriveNum:[%s]",
                            d.get_devname().c_str(), d.get_vendor().c_str(), d.get_model().c_str(),
                            d.get_serialnum().c_str(), d.get_revision().c_str(), d.get_type().c_str(),
                            d.get_size().c_str(), d.get_phyid().c_str(), d.get_overallhealth() ? 1u : 0u,
                            d.get_rdsectps(), d.get_wrsectps(), d.get_drivenum().c_str());
    }
    if (wanted(PINFO_MNTPOINT)) {
        log_.logMessage(tag, tidewall::log_level::trace, "Mount Info:");
        for (const auto& m : mntpoints_)
            log_.logMessage(tag, tidewall::log_level::trace, "Mntpath:[%s] Mounted:[%u] Percentage Used:[%u]",
                            m.get_mntpath().c_str(), m.get_mounted() ? 1u : 0u, m.get_percentused());
    }
    if (wanted(PINFO_POWERSUPPLY)) {
        log_.logMessage(tag, tidewall::log_level::trace, "Power Supply Info:");
        for (const auto& p : pwrsupplies_)
            log_.logMessage(tag, tidewall::log_level::trace, "Name:[%s] Redundancy:[%s] Status:[%u]",
                            p.get_name().c_str(), p.get_redundancy().c_str(), p.get_status() ? 1u : 0u);
    }
    if (wanted(PINFO_FAN)) {
        log_.logMessage(tag, tidewall::log_level::trace, "Fan Info:");
        for (const auto& f : fans_)
            log_.logMessage(tag, tidewall::log_level::trace, "Name:[%s] Value:[%s] Status:[%u]", f.get_name().c_str(),
                            f.get_value().c_str(), f.get_status() ? 1u : 0u);
    }
}
