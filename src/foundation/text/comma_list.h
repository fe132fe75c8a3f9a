#ifndef TIDEWALL_FOUNDATION_TEXT_COMMA_LIST_H
#define TIDEWALL_FOUNDATION_TEXT_COMMA_LIST_H

// Comma-separated lists (mount options, registry lists of devices or uuids).
// Callers differ in what an empty item means, so the rule is theirs to name.

#include <string>
#include <vector>

namespace tidewall::text {

enum class empty_items {
    keep,  // "a,,b" is "a", "", "b": the position of an item matters
    drop,  // "a,,b" is "a", "b"
    trim_and_drop  // items lose surrounding blanks; blank items are dropped
};

// The items of text, in order. An empty text has no item under every rule
// (a list of one empty item cannot be written).
std::vector<std::string> split_commas(const std::string& text, empty_items rule);

}  // namespace tidewall::text

#endif
