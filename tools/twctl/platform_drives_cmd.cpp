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
twjson::Value size_bytes(const std::string& size) {
    if (size.empty() || size.size() > 19 || size.find_first_not_of("0123456789") != std::string::npos) return {};
    return std::stoull(size);
}
}  // namespace

int platform_drives(bool json) {
    if (!tw_platform::hwmon_driveops_supported()) {
        std::fprintf(stderr,
                     "twctl platform drives: drive operations are not supported on this system "
                     "(registry key nTidewallDriveOperations)\n");
        return 1;
    }
    tw_platform platform;
    const std::list<tw_driveinfo> drives = platform.get_driveinfo(30);
    if (json) {
        twjson::Array list;
        for (const auto& d : drives) {
            twjson::Object o;
            o << "device" << d.get_devname() << "vendor" << d.get_vendor() << "model" << d.get_model() << "serial"
              << d.get_serialnum() << "revision" << d.get_revision() << "type" << d.get_type() << "size" << d.get_size()
              << "size_bytes" << size_bytes(d.get_size()) << "phy_id" << d.get_phyid() << "healthy"
              << d.get_overallhealth() << "read_sectors_per_second" << rounded(d.get_rdsectps(), 6)
              << "write_sectors_per_second" << rounded(d.get_wrsectps(), 6) << "drive_number" << d.get_drivenum();
            list << std::move(o);
        }
        twjson::Object doc;
        doc << "drives" << std::move(list);
        print_document(doc);
        return 0;
    }
    if (drives.empty()) std::printf("No drive backs a mounted data mount path.\n");
    for (const auto& d : drives)
        std::printf("%s: %s %s, serial %s, %s bytes, %s, SMART %s, drive number %s, read %.1f / write %.1f sectors/s\n",
                    d.get_devname().c_str(), d.get_vendor().c_str(), d.get_model().c_str(), d.get_serialnum().c_str(),
                    d.get_size().c_str(), d.get_type().c_str(), d.get_overallhealth() ? "passed" : "not passed",
                    d.get_drivenum().empty() ? "unknown" : d.get_drivenum().c_str(), d.get_rdsectps(),
                    d.get_wrsectps());
    return 0;
}

}  // namespace twctl
