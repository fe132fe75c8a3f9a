// twctl drive locate MOUNT_PATH: blinks the locate LED of the drive behind a
// data mount path for nDriveLocateIntervalInMinutes (default 15) and returns
// when the blink is over.

#include "cli.h"

#include <tidewall/tw_platform.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int drive_locate(const std::string& mount_path) {
    const std::vector<std::string> words{mount_path};
    if (!tw_platform::hwmon_driveops_supported()) {
        std::fprintf(stderr,
                     "twctl drive locate: drive operations are not supported on this system "
                     "(registry key nTidewallDriveOperations)\n");
        return 1;
    }
    tw_platform platform;
    if (platform.drive_locate(words[0]) != 0) {
        std::fprintf(stderr, "twctl drive locate: could not locate the drive of %s%s (see %s)\n", words[0].c_str(),
                     twctl::failure_reason().c_str(), twctl::log_file().c_str());
        return 1;
    }
    std::printf("Located the drive of %s\n", words[0].c_str());
    return 0;
}

}  // namespace

void twctl::add_drive_commands(CLI::App& root) {
    static std::string mount_path;
    CLI::App* drive = add_group(root, "drive", "the drives behind the data mount paths");
    add_command(
        *drive, "locate", "blink the locate LED of the drive behind a mount path",
        [] { return drive_locate(mount_path); }, privilege::root)
        ->add_option("MOUNT_PATH", mount_path, "a data mount path such as /tw/disk3")
        ->required()
        ->check([](const std::string& v) { return !v.empty() && v[0] == '/' ? "" : "wants an absolute path"; });
}
