// twctl firstboot: the node's first-boot operations (platform type on every
// boot; on the first boot the DDB fstab entry, kdump, log rotation and the
// bare-metal-recovery logs, then the mark, the iSCSI initiator name and the
// LVM filters).
// twctl firstboot --update-logrotate: brings the gluster log rotation up to
// the newest version.

#include "command.h"

#include <tidewall/tw_storage.h>

#include <cstdio>

namespace {

const char* const kUsage =
    "  firstboot [--update-logrotate]  first-boot operations (safe to repeat); or only the gluster log rotation\n";

int run(const twctl::args& words) {
    twctl::args rest = words;
    if (twctl::take_flag(rest, "--help")) {
        std::printf("usage:\n%s", kUsage);
        return 0;
    }
    bool logrotate_only = twctl::take_flag(rest, "--update-logrotate");
    if (!rest.empty()) {
        std::fprintf(stderr, "twctl firstboot: unexpected argument '%s'\n", rest[0].c_str());
        return 2;
    }
    tw_storage storage;
    if (logrotate_only) {
        storage.update_logrotate();
        std::printf("Gluster log rotation is up to date (see the log for each version installed)\n");
        return 0;
    }
    std::string failure;
    if (storage.do_first_boot_operations(failure) != 0) {
        if (!failure.empty())
            std::fprintf(stderr, "twctl firstboot: %s\n", failure.c_str());
        else
            std::fprintf(stderr, "twctl firstboot: a first-boot step failed; first boot is not marked done and "
                                 "runs again next time (see the log)\n");
        return 1;
    }
    std::printf("First-boot operations done\n");
    return 0;
}

const twctl::registrar reg({"firstboot", kUsage, run});

} // namespace
