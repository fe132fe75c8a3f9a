#include "foundation/compat/tsaf_utils.h"

#include "foundation/host/host_backend.h"

#include <cerrno>
#include <cstdlib>

using tidewall::host::current;

const char* const tsaf_utils::kSection = "Dockwright";

int tsaf_utils::get_reg_key(const std::string& name, std::string& value) {
    std::string v;
    if (!current().reg_get(kSection, name, v)) return -1;
    value = v;
    return 0;
}

int tsaf_utils::get_reg_key(const std::string& name, unsigned& value) {
    std::string v;
    if (!current().reg_get(kSection, name, v)) return -1;
    char* end = nullptr;
    errno = 0;
    // Decimal, as an operator writes it: "08" is eight, "0x2" no number.
    unsigned long n = std::strtoul(v.c_str(), &end, 10);
    // A number that does not read is as good as no key: the caller's default applies.
    if (v.empty() || *end != '\0' || errno == ERANGE || n > 0xffffffffUL || v[0] == '-') return -1;
    value = static_cast<unsigned>(n);
    return 0;
}

int tsaf_utils::set_reg_key(const std::string& name, const std::string& value) {
    return current().reg_set(kSection, name, value) ? 0 : -1;
}
