#include "foundation/text/lines.h"

namespace tidewall::text {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    append_lines(text, lines);
    return lines;
}

}  // namespace tidewall::text
