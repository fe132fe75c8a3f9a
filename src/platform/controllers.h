#ifndef TIDEWALL_PLATFORM_CONTROLLERS_H
#define TIDEWALL_PLATFORM_CONTROLLERS_H

// The storage controllers' own tools: property readers of amCLI (FUJITSU
// mpt3sas), MegaCli64 (megaraid_sas) and ssacli (hpsa, smartpqi), shared by the
// controller and drive queries. Each takes the logger first and returns 0 or -1
// unless it says otherwise; a failed read leaves its value empty.

#include <tidewall/tw_debug.h>
#include <tidewall/tw_platform_records.h>

#include <dirent.h>
#include <list>
#include <map>
#include <string>

// --- amCLI ---
// The device numbers (the part before the colon) of the "-l struct" lines
// holding searchstr.
int amcli_list_devnum(tw_debug& log, std::string searchstr, std::list<std::string>& devnums);
int amcli_devnum_get_prop(tw_debug& log, std::string devnum, std::string prop, std::string& value);
// bus:device.function in hexadecimal, 2, 2 and 1 digits ("3b:00.0").
int amcli_devnum_get_pciaddr(tw_debug& log, std::string devnum, std::string& pciaddr);

// --- MegaCli64 ---
// The number of adapters; 0 when the tool fails.
unsigned megacli_get_adpcount(tw_debug& log);
int megacli_adp_get_prop(tw_debug& log, unsigned adp, std::string prop, std::string& value);
// bus:device.function, each part at least 2 digits ("3b:00.00").
int megacli_adp_get_pciaddr(tw_debug& log, unsigned adp, std::string& pciaddr);

// --- ssacli ---
// prop of target (ssacli words such as "physicaldrive 1I:1:1") on the controller in slot.
int hpcli_ctrl_get_driveprop(tw_debug& log, std::string slot, std::string target, std::string prop, std::string& value);
// Physical slot number -> PCI address of the SAS/RAID controllers lspci lists;
// -1 when lspci lists none.
int hpcli_slot_map(tw_debug& log, std::map<int, std::string>& slots);
// The controllers of a "controller all show detail" listing, with their PCI
// addresses from the slot map; appended to ctrls.
void hpcli_parse_ctrl_detail(const std::list<std::string>& lines, const std::map<int, std::string>& slots,
                             std::list<tw_ctrlinfo>& ctrls);

// --- Fibre Channel ---
// scandir filter of /sys/class/fc_host: names that begin with "host".
int host_select(const struct dirent* entry);

#endif
