#ifndef TWCTL_PLATFORM_DEVICES_H
#define TWCTL_PLATFORM_DEVICES_H

#include "command.h"

namespace twctl {

// twctl platform nics [--json]
int platform_nics(args words);
// twctl platform controllers [--json]
int platform_controllers(args words);
// twctl platform drives [--json]
int platform_drives(args words);
// twctl platform cpu-usage [--minutes N]
int platform_cpu_usage(args words);

} // namespace twctl

#endif
