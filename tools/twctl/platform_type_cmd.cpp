// twctl platform-type: the server model and the recorded platform type and
// appliance model.
// twctl platform-type --set: records them from the server model and image.
// twctl platform-type --refarch: forces reference architecture and records it.

#include "command.h"

#include <tidewall/tw_storage.h>

#include <cstdio>

namespace {

const char* const kUsage =
    "  platform-type [--set | --refarch]  recorded appliance platform type; record it, or force reference architecture\n";

int run(const twctl::args& words) {
    twctl::args rest = words;
    if (twctl::take_flag(rest, "--help")) {
        std::printf("usage:\n%s", kUsage);
        return 0;
    }
    bool set = twctl::take_flag(rest, "--set");
    bool refarch = twctl::take_flag(rest, "--refarch");
    if (!rest.empty() || (set && refarch)) {
        std::fprintf(stderr, "usage: twctl platform-type [--set | --refarch]\n");
        return 2;
    }
    tw_storage storage;
    if (refarch && storage.set_refarch_platform() != 0) {
        std::fprintf(stderr, "twctl platform-type: cannot write sArrowfieldForceRefArchPlatform\n");
        return 1;
    }
    if ((set || refarch) && storage.set_arrowfield_platform_type() != 0) {
        std::fprintf(stderr, "twctl platform-type: cannot record the platform type (see the log)\n");
        return 1;
    }
    std::string model, platform, appliance;
    storage.get_server_model(model);
    bool recorded = storage.get_platform_type(platform, appliance) == 0;
    std::printf("Server model:    %s\n", model.empty() ? "(unknown: dmidecode gave none)" : model.c_str());
    std::printf("Platform type:   %s\n", recorded ? platform.c_str() : "(not recorded)");
    std::printf("Appliance model: %s\n", appliance.empty() ? "(not recorded)" : appliance.c_str());
    return 0;
}

const twctl::registrar reg({"platform-type", kUsage, run});

} // namespace
