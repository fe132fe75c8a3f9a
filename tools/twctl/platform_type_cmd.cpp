// twctl platform-type: the server model and the recorded platform type and
// appliance model.
// twctl platform-type --set: records them from the server model and image.
// twctl platform-type --refarch: forces reference architecture and records it.

#include "cli.h"

#include <tidewall/tw_storage.h>

#include <cstdio>

namespace {

int platform_type(bool set, bool refarch) {
    tw_storage storage;
    if (refarch && storage.set_refarch_platform() != 0) {
        std::fprintf(stderr, "twctl platform-type: cannot write sArrowfieldForceRefArchPlatform\n");
        return 1;
    }
    if ((set || refarch) && storage.set_arrowfield_platform_type() != 0) {
        std::fprintf(stderr, "twctl platform-type: cannot record the platform type (see %s)\n",
                     twctl::log_file().c_str());
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

}  // namespace

void twctl::add_platform_type_commands(CLI::App& root) {
    static bool set = false, refarch = false;
    CLI::App* cmd = add_command(root, "platform-type",
                                "recorded appliance platform type; record it, or force reference architecture",
                                [] { return platform_type(set, refarch); });
    CLI::Option* s = cmd->add_flag("--set", set, "record them from the server model and the image version");
    cmd->add_flag("--refarch", refarch, "force reference architecture and record it")->excludes(s);
}
