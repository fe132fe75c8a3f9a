#include "foundation/text/comma_list.h"

namespace tidewall::text {

std::vector<std::string> split_commas(const std::string& text, empty_items rule) {
    static const char* const blanks = " \t\n\r\f\v";
    std::vector<std::string> items;
    if (text.empty()) return items;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (rule == empty_items::trim_and_drop) {
            size_t b = item.find_first_not_of(blanks);
            item = b == std::string::npos ? std::string() : item.substr(b, item.find_last_not_of(blanks) - b + 1);
        }
        if (rule == empty_items::keep || !item.empty()) items.push_back(item);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return items;
}

}  // namespace tidewall::text
