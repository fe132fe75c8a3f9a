// What a first-boot run would do now, from the same registry keys it reads.

#include <tidewall/tw_log.h>
#include <tidewall/tw_preview.h>

#include "foundation/compat/tsaf_utils.h"

namespace {

// Each gluster log-rotation version above the recorded one (nLogrotateUpdateVersion).
void logrotate_steps(std::vector<std::string>& steps) {
    unsigned version = 0;
    if (tsaf_utils::get_reg_key("nLogrotateUpdateVersion", version) != 0) version = 0;
    if (version < 1) steps.push_back("write /etc/logrotate.d/glusterfs (gluster log rotation version 1)");
    if (version < 2) steps.push_back("add the size cap to /etc/logrotate.d/glusterfs (gluster log rotation version 2)");
    if (version >= 2)
        steps.push_back("nothing for the gluster log rotation: version " + std::to_string(version) +
                        " is recorded in nLogrotateUpdateVersion");
}

}  // namespace

std::vector<std::string> tw_first_boot_preview(bool logrotate_only) {
    std::vector<std::string> steps;
    if (logrotate_only) {
        logrotate_steps(steps);
        return steps;
    }
    steps.push_back(
        "record the platform type (sScaleoutPlatformType, sArrowfieldApplianceType) from the server "
        "model and the image version");
    std::string done;
    if (tsaf_utils::get_reg_key("sArrowfieldFirstBootComplete", done) == 0 && done == "Yes") {
        steps.push_back("nothing else: sArrowfieldFirstBootComplete is Yes");
        return steps;
    }
    steps.push_back("add the DDB mount path's entry to /etc/fstab when it is missing");
    steps.push_back("write /etc/kdump.conf, then enable and restart kdump");
    steps.push_back("write /etc/logrotate.conf");
    logrotate_steps(steps);
    const std::string log = tw_log_file_path();
    steps.push_back("move /var/log/bmrlogs into " + log.substr(0, log.rfind('/')) + "/bmrlogs");
    steps.push_back("set sArrowfieldFirstBootComplete to Yes");
    steps.push_back("write a fresh iSCSI initiator name (/etc/iscsi/initiatorname.iscsi)");
    steps.push_back("add the LVM filters to /etc/lvm/lvm.conf");
    return steps;
}
