#include "metrics/exposition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tidewall::metrics {
namespace {

const char* const kGroesse =
    "Gr\xc3\xb6\xc3\x9f"
    "e \xe2\x82\xac";  // valid UTF-8 stays as it is

std::string replacements(int n) {
    std::string out;
    while (n-- > 0) out += "\xef\xbf\xbd";
    return out;
}

TEST(MetricsExposition, EscapesLabelValuesAndHelpAsTheFormatAsks) {
    struct row {
        std::string in, label, help;
    } rows[] = {
        {"plain /tw/disk1", "plain /tw/disk1", "plain /tw/disk1"},
        {"a\\b", "a\\\\b", "a\\\\b"},
        {"say \"hi\"", "say \\\"hi\\\"", "say \"hi\""},
        {"two\nlines", "two\\nlines", "two\\nlines"},
        {"\\\"\n", "\\\\\\\"\\n", "\\\\\"\\n"},
        {kGroesse, kGroesse, kGroesse},
        {"bad\xff\xc3(", "bad\xef\xbf\xbd\xef\xbf\xbd(", "bad\xef\xbf\xbd\xef\xbf\xbd("},
        // An overlong "/" and a surrogate: one replacement a byte.
        {"\xc0\xaf\xed\xa0\x80", replacements(5), replacements(5)},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(escape_label_value(r.in), r.label) << r.in;
        EXPECT_EQ(escape_help(r.in), r.help) << r.in;
    }
}

TEST(MetricsExposition, FormatsValues) {
    struct row {
        double v;
        const char* text;
    } rows[] = {{0, "0"},
                {1, "1"},
                {-3, "-3"},
                {0.25, "0.25"},
                {0.2, "0.2"},
                {0.1 + 0.2, "0.30000000000000004"},
                {1e18, "1e+18"},
                {17179869184.0, "17179869184"},
                {std::nan(""), "NaN"},
                {std::numeric_limits<double>::infinity(), "+Inf"},
                {-std::numeric_limits<double>::infinity(), "-Inf"}};
    for (const auto& r : rows) EXPECT_EQ(format_value(r.v), r.text);
}

TEST(MetricsExposition, RendersHelpTypeOncePerFamilyAndSkipsEmptyFamilies) {
    family_set set;
    set.declare("tidewall_unused", "Never sampled.", "gauge");
    set.gauge("tidewall_fan_ok", "Whether the fan\nis healthy.", {{"fan", "Fan1"}}, 1);
    set.gauge("tidewall_memory_total_bytes", "Memory.", {}, 1024);
    family_set later;
    later.gauge("tidewall_fan_ok", "ignored: the first help stays", {{"fan", "Fan \"2\""}}, 0);
    set.append(later);
    EXPECT_EQ(render(set.families()),
              "# HELP tidewall_fan_ok Whether the fan\\nis healthy.\n"
              "# TYPE tidewall_fan_ok gauge\n"
              "tidewall_fan_ok{fan=\"Fan1\"} 1\n"
              "tidewall_fan_ok{fan=\"Fan \\\"2\\\"\"} 0\n"
              "# HELP tidewall_memory_total_bytes Memory.\n"
              "# TYPE tidewall_memory_total_bytes gauge\n"
              "tidewall_memory_total_bytes 1024\n");
}

}  // namespace
}  // namespace tidewall::metrics
