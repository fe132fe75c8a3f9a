#include "foundation/text/comma_list.h"

#include <gtest/gtest.h>

namespace {

using tidewall::text::empty_items;
using tidewall::text::split_commas;
using items = std::vector<std::string>;

TEST(SplitCommas, EachRuleKeepsItsCallersMeaningOfEmptyItems) {
    const struct {
        std::string text;
        items keep, drop, trimmed;
    } cases[] = {
        {"", {}, {}, {}},
        {"a", {"a"}, {"a"}, {"a"}},
        {"a,b", {"a", "b"}, {"a", "b"}, {"a", "b"}},
        {",", {"", ""}, {}, {}},
        {"a,,b", {"a", "", "b"}, {"a", "b"}, {"a", "b"}},
        {",a,", {"", "a", ""}, {"a"}, {"a"}},
        {" a , ,b\t", {" a ", " ", "b\t"}, {" a ", " ", "b\t"}, {"a", "b"}},
        {"x y", {"x y"}, {"x y"}, {"x y"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.keep, split_commas(c.text, empty_items::keep)) << "[" << c.text << "]";
        EXPECT_EQ(c.drop, split_commas(c.text, empty_items::drop)) << "[" << c.text << "]";
        EXPECT_EQ(c.trimmed, split_commas(c.text, empty_items::trim_and_drop)) << "[" << c.text << "]";
    }
}

}  // namespace
