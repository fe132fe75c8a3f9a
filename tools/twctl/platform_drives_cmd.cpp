// twctl platform drives [--json]: the drives behind the data mount paths, as
// the drive inventory gives them (behind the drive-operations gate). Rates are
// averages over the last 30 minutes; listing moves no monitor time.

#include "json_out.h"
#include "platform_devices.h"

#include <tidewall/tw_platform.h>

#include <cstdio>
#include <string>

namespace twctl {

namespace {
// lsblk's size as a JSON number of bytes, null when it is not a whole number.
std::string size_bytes(const std::string& size) {
    if (size.empty() || size.size() > 19 || size.find_first_not_of("0123456789") != std::string::npos) return "null";
    return size;
}
} // namespace

int platform_drives(bool json) {
    if (!tw_platform::hwmon_driveops_supported()) {
        std::fprintf(stderr, "twctl platform drives: drive operations are not supported on this system "
                             "(registry key nTidewallDriveOperations)\n");
        return 1;
    }
    tw_platform platform;
    const std::list<tw_driveinfo> drives = platform.get_driveinfo(30);
    if (json) {
        std::printf("{\"drives\": [");
        const char* sep = "";
        for (const auto& d : drives) {
            std::printf("%s\n  {\"device\": %s, \"vendor\": %s, \"model\": %s, \"serial\": %s, \"revision\": %s, "
                        "\"type\": %s, \"size\": %s, \"size_bytes\": %s, \"phy_id\": %s, \"healthy\": %s, "
                        "\"read_sectors_per_second\": %.6f, \"write_sectors_per_second\": %.6f, \"drive_number\": %s}",
                        sep, json_string(d.get_devname()).c_str(), json_string(d.get_vendor()).c_str(),
                        json_string(d.get_model()).c_str(), json_string(d.get_serialnum()).c_str(),
                        json_string(d.get_revision()).c_str(), json_string(d.get_type()).c_str(),
                        json_string(d.get_size()).c_str(), size_bytes(d.get_size()).c_str(), json_string(d.get_phyid()).c_str(),
                        d.get_overallhealth() ? "true" : "false", d.get_rdsectps(), d.get_wrsectps(),
                        json_string(d.get_drivenum()).c_str());
            sep = ",";
        }
        std::printf("\n]}\n");
        return 0;
    }
    if (drives.empty()) std::printf("No drive backs a mounted data mount path.\n");
    for (const auto& d : drives)
        std::printf("%s: %s %s, serial %s, %s bytes, %s, SMART %s, drive number %s, read %.1f / write %.1f sectors/s\n",
                    d.get_devname().c_str(), d.get_vendor().c_str(), d.get_model().c_str(),
                    d.get_serialnum().c_str(), d.get_size().c_str(), d.get_type().c_str(),
                    d.get_overallhealth() ? "passed" : "not passed",
                    d.get_drivenum().empty() ? "unknown" : d.get_drivenum().c_str(), d.get_rdsectps(),
                    d.get_wrsectps());
    return 0;
}

} // namespace twctl
