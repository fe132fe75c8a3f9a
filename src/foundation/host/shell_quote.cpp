#include "foundation/host/shell_quote.h"

#include <cctype>
#include <cstring>

namespace tidewall {

std::string shell_quote(const std::string& value) {
    static const char* safe = "_@%+=:,./-";
    bool plain = !value.empty();
    for (unsigned char c : value) {
        if (c == 0 || (!(std::isalnum(c) && c < 0x80) && !std::strchr(safe, c))) {
            plain = false;
            break;
        }
    }
    if (plain) return value;
    std::string out = "'";
    for (char c : value) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

}  // namespace tidewall
