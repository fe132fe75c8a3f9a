#include "foundation/text/lines.h"

#include <gtest/gtest.h>

#include <list>

namespace {

using lines = std::vector<std::string>;

TEST(SplitLines, LineEndsAsCommandsAndFilesGiveThem) {
    const struct {
        std::string text;
        lines want;
    } cases[] = {
        {"", {}},
        {"\n", {""}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\nb", {"a", "b"}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"\n\n", {"", ""}},
        {"a\r\nb\r\n", {"a\r", "b\r"}},
        {std::string("a\0b\nc", 5), {std::string("a\0b", 3), "c"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.want, tidewall::text::split_lines(c.text)) << c.text;
        // Appending keeps what the list held.
        std::list<std::string> kept{"before"};
        tidewall::text::append_lines(c.text, kept);
        lines all{"before"};
        all.insert(all.end(), c.want.begin(), c.want.end());
        EXPECT_EQ(all, lines(kept.begin(), kept.end())) << c.text;
    }
}

}  // namespace
