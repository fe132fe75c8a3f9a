#ifndef TWCTL_PLATFORM_DEVICES_H
#define TWCTL_PLATFORM_DEVICES_H

namespace twctl {

// twctl platform nics [--json]
int platform_nics(bool json);
// twctl platform controllers [--json]
int platform_controllers(bool json);
// twctl platform drives [--json]
int platform_drives(bool json);
// twctl platform cpu-usage [--minutes N]
int platform_cpu_usage(unsigned minutes);

}  // namespace twctl

#endif
