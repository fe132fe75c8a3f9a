#ifndef TIDEWALL_PLATFORM_POWER_SUPPLY_H
#define TIDEWALL_PLATFORM_POWER_SUPPLY_H

// Power-supply health and redundancy, read through ipmitool and dmidecode. One
// reader per server maker; the helpers below are the sensor look-ups they share.

#include <tidewall/tw_debug.h>
#include <tidewall/tw_platform_records.h>

#include <list>
#include <string>

// --- readers: each appends one record per supply it finds ---
void fujitsu_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies);
void hpe_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies);
void dell_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies);
void supermicro_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies);
void lenovo_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies);
void cisco_get_psinfo(tw_debug& log, std::list<tw_powersupply>& supplies);

// --- helpers ---
// FRU device names that begin with pattern, cut before " (ID n)", sorted and
// unique; 0, or -1 when none (or the FRU list cannot be read).
int ipmi_fru_get_ids(tw_debug& log, std::string pattern, std::list<std::string>& ids);
// The event text of the first "sdr elist" line holding search; 0 or -1.
int ipmi_get_ps_redundancy(tw_debug& log, std::string search, std::string& redundancy);
int ipmi_get_ps_redundancy_wretry(tw_debug& log, std::string search, std::string& redundancy, int retries);
// "sdr get" of one sensor: whether its Status reads ok (0, or -1 when unreadable).
int ipmi_sdr_get_psstatus(tw_debug& log, std::string sensor, bool& ok);
// "sdr get" of one sensor: its reading as a whole number, -1 when unreadable.
int ipmi_sdr_get_pswatts(tw_debug& log, std::string sensor);
// "sdr entity": whether every status sensor of the entity judges healthy
// (0, or -1 when the entity has no status sensor or cannot be read).
int ipmi_entityid_get_psstatus(tw_debug& log, std::string entity, bool& ok);
// "sdr entity": the first wattage reading of the entity, -1 when none.
int ipmi_entityid_get_pswatts(tw_debug& log, std::string entity);
// Names of the "System Power Supply" records of the firmware tables; 0 or -1.
int dmi_get_powersupply_names(tw_debug& log, std::list<std::string>& names);

// One line of an ipmitool sensor listing ("sdr elist", "sdr type", "sdr
// entity"): name | id | status | entity | reading or event text, trimmed.
struct sdr_row {
    std::string name, id, status, entity, event;
};
// False for a line with fewer than five columns.
bool sdr_row_parse(const std::string& line, sdr_row& row);

// The verdict on a power-supply sensor's event text: healthy when it reports
// "presence detected" and neither a "failure" nor "ac lost" (any letter case).
bool ps_event_healthy(const std::string& event_text);

#endif
