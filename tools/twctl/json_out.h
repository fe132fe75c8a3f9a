#ifndef TWCTL_JSON_OUT_H
#define TWCTL_JSON_OUT_H

#include <string>

namespace twctl {

// A JSON string literal of s (bytes that are not valid text pass as \u00XX).
std::string json_string(const std::string& s);

} // namespace twctl

#endif
