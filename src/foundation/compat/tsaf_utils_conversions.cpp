#include "foundation/compat/tsaf_utils.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

unsigned tsaf_utils::string_to_uint(const std::string& s) {
    unsigned long v = string_to_ulong(s);
    return v > 0xffffffffUL ? 0xffffffffU : static_cast<unsigned>(v);
}

unsigned long tsaf_utils::string_to_ulong(const std::string& s) {
    size_t i = s.find_first_not_of(" \t");
    if (i == std::string::npos || s[i] < '0' || s[i] > '9') return 0;
    errno = 0;
    unsigned long v = std::strtoul(s.c_str() + i, nullptr, 10);
    return errno == ERANGE ? static_cast<unsigned long>(-1) : v;
}

double tsaf_utils::string_to_double(const std::string& s) {
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    return end == s.c_str() ? 0.0 : v;
}

std::string tsaf_utils::uint_to_string(unsigned v) { return std::to_string(v); }
std::string tsaf_utils::ulong_to_string(unsigned long v) { return std::to_string(v); }

std::string tsaf_utils::uint_to_hexstr(unsigned v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*x", width < 0 ? 0 : (width > 16 ? 16 : width), v);
    return buf;
}

std::string tsaf_utils::booltostr(bool v) { return v ? "true" : "false"; }
