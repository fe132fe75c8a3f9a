#ifndef TIDEWALL_FOUNDATION_TEXT_PATH_TEXT_H
#define TIDEWALL_FOUNDATION_TEXT_PATH_TEXT_H

// Paths as text, with no look at the file system.

#include <string>

namespace tidewall::text {

// p without trailing slashes; "/" (and "//") stays "/".
inline std::string without_trailing_slashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

}  // namespace tidewall::text

#endif
