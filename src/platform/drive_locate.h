#ifndef TIDEWALL_PLATFORM_DRIVE_LOCATE_H
#define TIDEWALL_PLATFORM_DRIVE_LOCATE_H

// Blinking a drive's locate LED with its controller's tool, and finding a
// drive in the inventory. Each blink blocks its caller for `seconds`.

#include <tidewall/tw_debug.h>
#include <tidewall/tw_platform_records.h>

#include <list>
#include <string>

// FUJITSU: amCLI device number. Stops any blink, blinks, sleeps, stops. 0 or -1.
int amcli_devnum_locate(tw_debug& log, std::string devnum, unsigned seconds);
// DELL: MegaCli64 adapter and physical drive ("enclosure:slot"). As amCLI.
int megacli_adp_locate_drive(tw_debug& log, std::string adapter, std::string drive, unsigned seconds);
// HPE: ssacli controller slot and physical drive; the tool times the blink.
int hpcli_ctrl_locate_drive(tw_debug& log, std::string slot, std::string drive, unsigned seconds);

// 1 and a copy of the drive whose device name is devname, else 0.
int drivelist_find_devname(std::list<tw_driveinfo>* drives, std::string devname, tw_driveinfo& found);

#endif
