#include "foundation/compat/ts_platform_info.h"

#include "foundation/host/host_backend.h"
#include "foundation/registry/registry_store.h"

#include <cerrno>
#include <cstdlib>

using tidewall::host::current;

int TSPlatformInfo::getString(const std::string& section, const std::string& key, std::string* value) {
    std::string v;
    if (!value || !current().reg_get(section, key, v)) return 0;
    *value = v;
    return 1;
}

int TSPlatformInfo::getLongLong(const std::string& section, const std::string& key, unsigned long long* value) {
    std::string v;
    if (!value || !current().reg_get(section, key, v) || v.empty() || v[0] == '-') return 0;
    char* end = nullptr;
    errno = 0;
    // Decimal, as an operator writes it: "08" is eight, "0x2" no number.
    unsigned long long n = std::strtoull(v.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE) return 0;
    *value = n;
    return 1;
}

int TSPlatformInfo::setString(const std::string& section, const std::string& key, const std::string& value,
                              unsigned length) {
    std::string v = length < value.size() ? value.substr(0, length) : value;
    return current().reg_set(section, key, v) ? 1 : 0;
}

int TSPlatformInfo::setLongLong(const std::string& section, const std::string& key, unsigned long long value) {
    return current().reg_set(section, key, std::to_string(value)) ? 1 : 0;
}

std::string TSPlatformInfo::getFocus() {
    std::string instance, why;
    return tidewall::registry::machine_instance(instance, why) ? instance : "";
}
