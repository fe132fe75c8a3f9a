// twctl platform report [--json]: the hardware inventory of this node, every
// section the node can give: system, baseboard, BIOS, processors, memory, mount
// points, power supplies, fans and the SMART health of its drives. A section the
// machine cannot give (no DMI tables, no BMC, no SMART) says why; that is no
// failure of the report.

#include "cli.h"
#include "json_out.h"
#include "platform_devices.h"

#include <tidewall/tsaf_blkdev.h>

#include <tidewall/tw_platform.h>
#include <tidewall/tw_smartctl.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// One drive as smartctl sees it.
struct smart_row {
    std::string device;
    bool readable = false;  // the health verdict could be read
    bool healthy = false;
    std::string serial;
    std::vector<smart_param> faulty;
};

smart_row read_smart(const std::string& device) {
    smart_row row;
    row.device = device;
    tw_smartctl reader(device);
    row.readable = reader.extractoverallhealth("") == 0;
    row.healthy = reader.getoverallhealth();
    if (reader.extractparams() == 0) {
        std::list<smart_param> faulty;
        reader.getfaultyattrs(faulty);
        row.faulty.assign(faulty.begin(), faulty.end());
    }
    row.serial = get_drive_serialnum(device);
    return row;
}

struct report {
    bool monitoring = false;
    tw_system system;
    tw_chipset chipset;
    tw_bios bios;
    std::list<tw_processor> processors;
    tw_memory memory;
    std::list<tw_mntpointinfo> mounts;
    std::list<tw_powersupply> supplies;
    std::list<tw_faninfo> fans;
    std::list<tw_driveinfo> drives;
    std::vector<smart_row> smart;
    std::map<std::string, std::string> unavailable;  // section -> why it is empty
};

report gather() {
    report r;
    tw_platform platform;
    r.monitoring = tw_platform::hwmonitoring_supported();
    r.system = platform.get_systeminfo();
    r.chipset = platform.get_chipsetinfo();
    r.bios = platform.get_biosinfo();
    r.processors = platform.get_cpuinfo();
    r.memory = platform.get_memoryinfo();
    tw_debug log;
    mntpoints_examine(log, r.mounts);
    r.supplies = platform.get_pwrsupplyinfo();
    r.fans = platform.get_faninfo();
    r.drives = platform.get_driveinfo();
    for (const auto& dev : tw_physical_disks()) r.smart.push_back(read_smart(dev));

    const bool no_dmi = r.system.get_vendor().empty() && r.system.get_modelno().empty();
    if (no_dmi) r.unavailable["system"] = "dmidecode gave no system information (no DMI tables on this machine)";
    if (r.chipset.get_manu().empty() && r.chipset.get_prodname().empty())
        r.unavailable["chipset"] = "dmidecode gave no baseboard strings";
    if (r.bios.get_vendor().empty() && r.bios.get_version().empty())
        r.unavailable["bios"] = "dmidecode gave no BIOS information";
    if (r.processors.empty()) r.unavailable["processors"] = "dmidecode listed no populated processor socket";
    if (r.memory.get_totalmem() == 0) r.unavailable["memory"] = "/proc/meminfo could not be read";
    if (r.supplies.empty())
        r.unavailable["power_supplies"] =
            no_dmi
                ? "server maker unknown (no DMI tables), so no power-supply reader applies"
                : "no power supply found for maker '" + r.system.get_vendor() + "' (no BMC, or a maker we cannot read)";
    if (r.fans.empty()) r.unavailable["fans"] = "ipmitool listed no fan sensor (no BMC on this machine)";
    if (r.drives.empty() && !tw_platform::hwmon_driveops_supported())
        r.unavailable["drives"] = "drive operations are not supported on this system";
    if (r.smart.empty()) r.unavailable["smart"] = "no physical disk found under /sys/block";
    bool any_smart = false;
    for (const auto& s : r.smart) any_smart |= s.readable;
    if (!r.smart.empty() && !any_smart)
        r.unavailable["smart"] = "smartctl could not read the health of any disk (no SMART)";
    return r;
}

const char* yes_no(bool b) { return b ? "yes" : "no"; }

void print_text(const report& r) {
    // The reason a section is empty, if it is; false when it has something to show.
    auto why = [&r](const char* section) {
        auto it = r.unavailable.find(section);
        if (it == r.unavailable.end()) return false;
        std::printf("  unavailable: %s\n", it->second.c_str());
        return true;
    };
    std::printf("Hardware monitoring supported: %s\n\n", yes_no(r.monitoring));

    std::printf("System:\n");
    if (!why("system"))
        std::printf("  vendor %s, model %s, serial %s\n", r.system.get_vendor().c_str(), r.system.get_modelno().c_str(),
                    r.system.get_serialnum().c_str());
    std::printf("Baseboard:\n");
    if (!why("chipset"))
        std::printf("  manufacturer %s, product %s, version %s, serial %s\n", r.chipset.get_manu().c_str(),
                    r.chipset.get_prodname().c_str(), r.chipset.get_version().c_str(),
                    r.chipset.get_serialnum().c_str());
    std::printf("BIOS:\n");
    if (!why("bios"))
        std::printf("  vendor %s, version %s, released %s, revision %s\n", r.bios.get_vendor().c_str(),
                    r.bios.get_version().c_str(), r.bios.get_reldate().c_str(), r.bios.get_revision().c_str());

    std::printf("Processors:\n");
    why("processors");
    for (const auto& p : r.processors)
        std::printf("  %s: %s, %u cores (%u enabled), %u threads, %u C\n", trimmed(p.get_name()).c_str(),
                    trimmed(p.get_version()).c_str(), p.get_numcores(), p.get_coresenabled(), p.get_threadcount(),
                    p.get_temp());
    std::printf("Memory:\n");
    if (!why("memory"))
        std::printf("  total %llu MB, used %llu MB\n", static_cast<unsigned long long>(r.memory.get_totalmem()),
                    static_cast<unsigned long long>(r.memory.get_usedmem()));

    std::printf("Mount points:\n");
    for (const auto& m : r.mounts) {
        if (m.get_mounted())
            std::printf("  %-40s mounted, %u%% used\n", m.get_mntpath().c_str(), m.get_percentused());
        else
            std::printf("  %-40s not mounted\n", m.get_mntpath().c_str());
    }
    std::printf("Power supplies:\n");
    why("power_supplies");
    for (const auto& p : r.supplies)
        std::printf("  %-24s %s, redundancy %s\n", p.get_name().c_str(), p.get_status() ? "healthy" : "FAILED",
                    p.get_redundancy().empty() ? "unknown" : p.get_redundancy().c_str());
    std::printf("Fans:\n");
    why("fans");
    for (const auto& f : r.fans)
        std::printf("  %-24s %-16s %s\n", f.get_name().c_str(), f.get_value().c_str(),
                    f.get_status() ? "ok" : "NOT OK");
    std::printf("Drives:\n");
    why("drives");
    for (const auto& d : r.drives)
        std::printf("  %-16s %s, serial %s, %s\n", d.get_devname().c_str(), d.get_model().c_str(),
                    d.get_serialnum().c_str(), d.get_overallhealth() ? "healthy" : "NOT healthy");
    std::printf("SMART:\n");
    why("smart");
    for (const auto& s : r.smart) {
        if (!s.readable) {
            std::printf("  %-16s no SMART health (smartctl could not read it)\n", s.device.c_str());
            continue;
        }
        std::printf("  %-16s %s, serial %s, %zu attribute(s) at or below threshold\n", s.device.c_str(),
                    s.healthy ? "PASSED" : "FAILED", s.serial.empty() ? "unknown" : s.serial.c_str(), s.faulty.size());
        for (const auto& a : s.faulty)
            std::printf("    %u %s value %u threshold %u\n", a.get_id(), a.get_name().c_str(), a.get_value(),
                        a.get_threshold());
    }
}

void print_json(const report& r) {
    twjson::Object doc, system, chipset, bios, memory, unavailable;
    system << "vendor" << r.system.get_vendor() << "model" << r.system.get_modelno() << "serial"
           << r.system.get_serialnum();
    chipset << "manufacturer" << r.chipset.get_manu() << "product" << r.chipset.get_prodname() << "version"
            << r.chipset.get_version() << "serial" << r.chipset.get_serialnum();
    bios << "vendor" << r.bios.get_vendor() << "version" << r.bios.get_version() << "release_date"
         << r.bios.get_reldate() << "revision" << r.bios.get_revision();
    twjson::Array processors, mounts, supplies, fans, drives, smart;
    for (const auto& p : r.processors) {
        twjson::Object o;
        o << "socket" << trimmed(p.get_name()) << "version" << trimmed(p.get_version()) << "cores" << p.get_numcores()
          << "cores_enabled" << p.get_coresenabled() << "threads" << p.get_threadcount() << "temp_c" << p.get_temp();
        processors << std::move(o);
    }
    // The library counts MiB; the byte fields carry the same figures in bytes, null when unknown.
    const unsigned long long total = r.memory.get_totalmem(), used = r.memory.get_usedmem();
    auto bytes = [&](unsigned long long mib) { return total ? twjson::Value(mib << 20) : twjson::Value(); };
    memory << "total_mb" << total << "used_mb" << used << "total_bytes" << bytes(total) << "used_bytes" << bytes(used);
    for (const auto& m : r.mounts) {
        twjson::Object o;
        o << "path" << m.get_mntpath() << "mounted" << m.get_mounted() << "percent_used" << m.get_percentused();
        mounts << std::move(o);
    }
    for (const auto& p : r.supplies) {
        twjson::Object o;
        o << "name" << p.get_name() << "redundancy" << p.get_redundancy() << "healthy" << p.get_status();
        supplies << std::move(o);
    }
    for (const auto& f : r.fans) {
        twjson::Object o;
        o << "name" << f.get_name() << "value" << f.get_value() << "healthy" << f.get_status();
        fans << std::move(o);
    }
    for (const auto& d : r.drives) {
        twjson::Object o;
        o << "device" << d.get_devname() << "model" << d.get_model() << "serial" << d.get_serialnum() << "healthy"
          << d.get_overallhealth();
        drives << std::move(o);
    }
    for (const auto& s : r.smart) {
        twjson::Array faulty;
        for (const auto& a : s.faulty) {
            twjson::Object o;
            o << "id" << a.get_id() << "name" << a.get_name() << "value" << a.get_value() << "threshold"
              << a.get_threshold();
            faulty << std::move(o);
        }
        twjson::Object o;
        o << "device" << s.device << "readable" << s.readable << "healthy" << s.healthy << "serial" << s.serial
          << "faulty_attributes" << std::move(faulty);
        smart << std::move(o);
    }
    for (const auto& [section, why] : r.unavailable) unavailable << section << why;
    doc << "hw_monitoring_supported" << r.monitoring << "system" << std::move(system) << "chipset" << std::move(chipset)
        << "bios" << std::move(bios) << "processors" << std::move(processors) << "memory" << std::move(memory)
        << "mount_points" << std::move(mounts) << "power_supplies" << std::move(supplies) << "fans" << std::move(fans)
        << "drives" << std::move(drives) << "smart" << std::move(smart) << "unavailable" << std::move(unavailable);
    twctl::print_document(doc);
}

int platform_report(bool json) {
    report r = gather();
    if (json)
        print_json(r);
    else
        print_text(r);
    return 0;
}

}  // namespace

void twctl::add_platform_commands(CLI::App& root) {
    static bool json = false;
    static unsigned minutes = 0;
    CLI::App* platform = add_group(root, "platform", "the node's hardware: inventory, NICs, controllers, drives");
    auto json_flag = [](CLI::App* c) { c->add_flag("--json", json, "print a JSON document"); };
    json_flag(add_command(*platform, "report",
                          "hardware inventory: system, BIOS, CPUs, memory, mounts, power, fans, SMART",
                          [] { return platform_report(json); }));
    json_flag(add_command(*platform, "nics", "configured network interfaces with link, speed and throughput",
                          [] { return platform_nics(json); }));
    json_flag(add_command(*platform, "controllers", "SAS/RAID controllers and Fibre Channel host adapters",
                          [] { return platform_controllers(json); }));
    json_flag(add_command(*platform, "drives", "drives behind the data mount paths (needs nTidewallDriveOperations)",
                          [] { return platform_drives(json); }));
    add_command(*platform, "cpu-usage", "average CPU usage from the sar files",
                [] { return platform_cpu_usage(minutes); })
        ->add_option("--minutes", minutes, "over the last N minutes (default: since the last monitoring pass)")
        ->type_name("N")
        ->check(CLI::Range(1u, UINT_MAX / 60));
}
