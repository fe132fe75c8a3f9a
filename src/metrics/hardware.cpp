// Hardware collectors: power supplies and fans (BMC), processor temperatures
// and memory. Each is a collector of its own, so that a BMC that hangs costs
// its section only.

#include "metrics/collector.h"

#include <tidewall/tw_platform.h>

#include <cstdlib>

namespace tidewall::metrics {

namespace {
// The number of a reading such as "5040 RPM"; false for other units or none.
bool rpm_of(const std::string& reading, double& rpm) {
    if (reading.find("RPM") == std::string::npos) return false;
    const char* start = reading.c_str();
    char* end = nullptr;
    rpm = std::strtod(start, &end);
    return end != start;
}
}  // namespace

bool collect_power_supplies(family_set& out) {
    tw_platform platform;
    for (const auto& p : platform.get_pwrsupplyinfo())
        out.gauge("tidewall_power_supply_ok", "Whether the power supply reports healthy (1) or not (0).",
                  {{"supply", p.get_name()}, {"redundancy", p.get_redundancy()}}, p.get_status() ? 1 : 0);
    return true;
}

bool collect_fans(family_set& out) {
    tw_platform platform;
    for (const auto& f : platform.get_faninfo()) {
        out.gauge("tidewall_fan_ok", "Whether the fan reports healthy (1) or not (0).", {{"fan", f.get_name()}},
                  f.get_status() ? 1 : 0);
        double rpm = 0;
        if (rpm_of(f.get_value(), rpm))
            out.gauge("tidewall_fan_speed_rpm", "The fan's speed as the BMC reads it.", {{"fan", f.get_name()}}, rpm);
    }
    return true;
}

bool collect_processors(family_set& out) {
    tw_platform platform;
    for (const auto& p : platform.get_cpuinfo()) {
        // 0 is what the inventory holds when no sensor reading was found.
        if (p.get_temp() == 0) continue;
        out.gauge("tidewall_cpu_temperature_celsius", "The processor socket's temperature as the BMC reads it.",
                  {{"cpu", p.get_name()}}, p.get_temp());
    }
    return true;
}

bool collect_memory(family_set& out) {
    tw_platform platform;
    const tw_memory m = platform.get_memoryinfo();
    if (m.get_totalmem() == 0) return false;  // /proc/meminfo unreadable
    const double mib = 1024.0 * 1024.0;
    out.gauge("tidewall_memory_total_bytes", "Memory installed, as the kernel counts it.", {}, m.get_totalmem() * mib);
    out.gauge("tidewall_memory_used_bytes", "Memory in use (total less available).", {}, m.get_usedmem() * mib);
    return true;
}

}  // namespace tidewall::metrics
