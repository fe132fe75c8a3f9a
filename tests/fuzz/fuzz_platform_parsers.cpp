// Arbitrary bytes as the output of dmidecode, ipmitool, smartctl, df and
// /proc/meminfo: every platform query parses what it is given and never
// crashes, whatever the text (truncated, empty, garbage, binary).
//
// The input is cut at "\n--\n" into answers handed to the commands in turn
// (cycling); an answer starting with '!' is a failed run printing the rest.

#include <tidewall/tw_platform.h>
#include <tidewall/tw_smartctl.h>

#include "answering_backend.h"
#include "platform/power_supply.h"
#include "platform/tool_runners.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tidewall::fuzzing::answering_backend backend(
        tidewall::fuzzing::split_parts(std::string(reinterpret_cast<const char*>(data), size)), 1700000000);
    tidewall::host::install(&backend);
    {
        tw_platform p;
        p.get_systeminfo();
        p.get_chipsetinfo();
        p.get_biosinfo();
        p.get_cpuinfo();
        p.get_memoryinfo();
        p.get_pwrsupplyinfo();
        p.get_faninfo();
        p.loginfo(static_cast<tw_platforminfo>(0xFFF));

        tw_debug log;
        std::list<tw_powersupply> supplies;
        fujitsu_get_psinfo(log, supplies);
        hpe_get_psinfo(log, supplies);
        dell_get_psinfo(log, supplies);
        supermicro_get_psinfo(log, supplies);
        lenovo_get_psinfo(log, supplies);
        cisco_get_psinfo(log, supplies);
        std::string entity;
        ipmi_get_entityid(log, "PS1 Status", entity);
        std::map<int, unsigned> temps;
        int n = proc_temp_map_init(log, temps);
        if (n >= 0 && static_cast<size_t>(n) != temps.size()) std::abort();

        tw_smartctl smart("/dev/sda");
        smart.extractoverallhealth("");
        smart.extractparams();
        std::list<smart_param> faulty;
        smart.getfaultyattrs(faulty);
        for (const auto& a : faulty)
            if (a.is_healthy()) std::abort();
        smart.getdriveserialnum("");
    }
    tidewall::host::install(nullptr);
    return 0;
}
