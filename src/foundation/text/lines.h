#ifndef TIDEWALL_FOUNDATION_TEXT_LINES_H
#define TIDEWALL_FOUNDATION_TEXT_LINES_H

// Lines of a text as commands and files give them: split at '\n', the line end
// itself left out. A final line end starts no further line, so "a\nb\n" and
// "a\nb" both hold "a" and "b"; an empty line between two line ends is a line
// of its own; an empty text holds no line. A '\r' stays with its line.

#include <string>
#include <vector>

namespace tidewall::text {

// Calls line(const std::string&) for each line, in order.
template <typename F> void for_each_line(const std::string& text, F line) {
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        line(text.substr(start, nl - start));
        start = nl + 1;
    }
}

// Appends each line to lines (any container with push_back).
template <typename C> void append_lines(const std::string& text, C& lines) {
    for_each_line(text, [&lines](const std::string& l) { lines.push_back(l); });
}

std::vector<std::string> split_lines(const std::string& text);

}  // namespace tidewall::text

#endif
