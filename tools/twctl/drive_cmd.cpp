// twctl drive locate MOUNT_PATH: blinks the locate LED of the drive behind a
// data mount path for nDriveLocateIntervalInMinutes (default 15) and returns
// when the blink is over.

#include "command.h"

#include <tidewall/tw_platform.h>

#include <cstdio>

namespace {

int drive_locate(const twctl::args& words) {
    if (words.size() != 1 || words[0].empty() || words[0][0] != '/') {
        std::fprintf(stderr, "usage: twctl drive locate MOUNT_PATH (an absolute path such as /tw/disk3)\n");
        return 2;
    }
    if (!tw_platform::hwmon_driveops_supported()) {
        std::fprintf(stderr, "twctl drive locate: drive operations are not supported on this system "
                             "(registry key nTidewallDriveOperations)\n");
        return 1;
    }
    tw_platform platform;
    if (platform.drive_locate(words[0]) != 0) {
        std::fprintf(stderr, "twctl drive locate: could not locate the drive of %s (see the product log)\n",
                     words[0].c_str());
        return 1;
    }
    std::printf("Located the drive of %s\n", words[0].c_str());
    return 0;
}

int run(const twctl::args& words) {
    if (words.empty() || words[0] == "--help") {
        std::printf("usage: twctl drive locate MOUNT_PATH\n");
        return words.empty() ? 2 : 0;
    }
    if (words[0] == "locate") return drive_locate(twctl::args(words.begin() + 1, words.end()));
    std::fprintf(stderr, "twctl drive: unknown subcommand '%s'\n", words[0].c_str());
    return 2;
}

const twctl::registrar reg({"drive", "  drive locate MOUNT_PATH    blink the locate LED of the drive behind a mount path\n",
                            run});

} // namespace
